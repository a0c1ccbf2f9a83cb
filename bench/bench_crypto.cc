// Throughput of the cipher, the generator and the digest, each next to OpenSSL measured in the
// same run. The last lines give time ratios (ours / OpenSSL; below 1 means faster).
//   build/bin/bench_crypto [--benchmark_min_time=1]
#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "security/md5.h"
#include "security/random_generator.h"
#include "security/rijndael.h"

namespace {

constexpr size_t kAesBuffer = 4096;
constexpr size_t kMd5Buffer = 65536;
const uint8_t kKey[16] = {0x2b, 0x7e, 0x15, 0x16, 0x28, 0xae, 0xd2, 0xa6,
                          0xab, 0xf7, 0x15, 0x88, 0x09, 0xcf, 0x4f, 0x3c};

std::vector<uint8_t> buffer(size_t n) {
  std::vector<uint8_t> b(n);
  for (size_t i = 0; i < n; ++i)
    b[i] = static_cast<uint8_t>(i * 131 + 7);
  return b;
}

// One call per 16-byte block, as the generator uses the cipher.
void aesOurs(benchmark::State& state, security::Rijndael::Engine engine) {
  if (engine == security::Rijndael::Engine::Hardware && !security::Rijndael::hardwareAvailable()) {
    state.SkipWithError("no AES instructions");
    return;
  }
  security::Rijndael aes("2b7e151628aed2a6abf7158809cf4f3c", engine);
  std::vector<uint8_t> data = buffer(kAesBuffer);
  for (auto _ : state) {
    for (size_t i = 0; i < kAesBuffer; i += 16)
      aes.encrypt(data.data() + i);
    benchmark::DoNotOptimize(data.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kAesBuffer));
}

void BM_AesBlock_Ours(benchmark::State& state) {
  aesOurs(state, security::Rijndael::Engine::Automatic);
}
void BM_AesBlock_Portable(benchmark::State& state) {
  aesOurs(state, security::Rijndael::Engine::Portable);
}

void BM_AesBlock_OpenSSL(benchmark::State& state) {
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  EVP_EncryptInit_ex(ctx, EVP_aes_128_ecb(), nullptr, kKey, nullptr);
  EVP_CIPHER_CTX_set_padding(ctx, 0);
  std::vector<uint8_t> data = buffer(kAesBuffer);
  int len = 0;
  for (auto _ : state) {
    for (size_t i = 0; i < kAesBuffer; i += 16) {
      EVP_EncryptUpdate(ctx, data.data() + i, &len, data.data() + i, 16);
    }
    benchmark::DoNotOptimize(data.data());
    benchmark::ClobberMemory();
  }
  EVP_CIPHER_CTX_free(ctx);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kAesBuffer));
}

void BM_Generator_Ours(benchmark::State& state) {
  std::string seed(32, '\x5a');
  security::RandomGenerator gen(seed);
  std::vector<uint8_t> out(kAesBuffer);
  for (auto _ : state) {
    gen.generate(out.size(), out.data());
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kAesBuffer));
}

// The same output from OpenSSL: the AES-128-CTR key stream (encryption of zeros).
void BM_Generator_OpenSSL(benchmark::State& state) {
  uint8_t iv[16] = {};
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  EVP_EncryptInit_ex(ctx, EVP_aes_128_ctr(), nullptr, kKey, iv);
  std::vector<uint8_t> zeros(kAesBuffer), out(kAesBuffer);
  int len = 0;
  for (auto _ : state) {
    EVP_EncryptUpdate(ctx, out.data(), &len, zeros.data(), static_cast<int>(zeros.size()));
    benchmark::DoNotOptimize(out.data());
  }
  EVP_CIPHER_CTX_free(ctx);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kAesBuffer));
}

void BM_Md5_Ours(benchmark::State& state) {
  std::vector<uint8_t> data = buffer(kMd5Buffer);
  security::Md5 md5;
  uint8_t digest[16];
  for (auto _ : state) {
    md5.reset();
    md5.update(data.size(), data.data());
    md5.final(digest);
    benchmark::DoNotOptimize(digest);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kMd5Buffer));
}

void BM_Md5_OpenSSL(benchmark::State& state) {
  std::vector<uint8_t> data = buffer(kMd5Buffer);
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  const EVP_MD* md = EVP_md5();
  uint8_t digest[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  for (auto _ : state) {
    EVP_DigestInit_ex(ctx, md, nullptr);
    EVP_DigestUpdate(ctx, data.data(), data.size());
    EVP_DigestFinal_ex(ctx, digest, &len);
    benchmark::DoNotOptimize(digest);
  }
  EVP_MD_CTX_free(ctx);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kMd5Buffer));
}

BENCHMARK(BM_AesBlock_Ours);
BENCHMARK(BM_AesBlock_Portable);
BENCHMARK(BM_AesBlock_OpenSSL);
BENCHMARK(BM_Generator_Ours);
BENCHMARK(BM_Generator_OpenSSL);
BENCHMARK(BM_Md5_Ours);
BENCHMARK(BM_Md5_OpenSSL);

// Keeps each benchmark's throughput for the ratio lines.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      auto it = run.counters.find("bytes_per_second");
      if (!run.error_occurred && it != run.counters.end()) {
        mb_per_s[run.benchmark_name()] = it->second.value / 1e6;
      }
    }
  }
  std::map<std::string, double> mb_per_s;
};

void printRatio(const RatioReporter& r, const char* what, const std::string& ours,
                const std::string& peer, const char* target) {
  auto a = r.mb_per_s.find(ours), b = r.mb_per_s.find(peer);
  if (a == r.mb_per_s.end() || b == r.mb_per_s.end()) return;
  std::printf("%-28s ours %9.1f MB/s  OpenSSL %9.1f MB/s  time ratio %.2f%s\n", what, a->second,
              b->second, b->second / a->second, target);
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\n");
  printRatio(reporter, "AES-128 block (ECB, 16 B)", "BM_AesBlock_Ours", "BM_AesBlock_OpenSSL",
             "  (target <= 1.5)");
  printRatio(reporter, "AES-128 block, portable", "BM_AesBlock_Portable", "BM_AesBlock_OpenSSL",
             "");
  printRatio(reporter, "generator vs AES-128-CTR", "BM_Generator_Ours", "BM_Generator_OpenSSL",
             "  (target <= 1.25)");
  printRatio(reporter, "MD5 (64 KiB)", "BM_Md5_Ours", "BM_Md5_OpenSSL", "  (target <= 1.3)");
  benchmark::Shutdown();
  return 0;
}
