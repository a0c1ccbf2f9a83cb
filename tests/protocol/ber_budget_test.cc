// The decoding budget: a message may not exceed it in octets, its objects may not take more
// memory than it, and what the decoder charges is never less than what the heap really holds.
// This binary counts every block operator new hands out, so the last claim is measured.
#include <gtest/gtest.h>
#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "ber_test_util.h"
#include "protocol/gui_protocol.h"

namespace {

std::atomic<size_t> liveBytes{0};
std::atomic<size_t> peakBytes{0};

void* counted(size_t n) {
  void* p = std::malloc(n == 0 ? 1 : n);
  if (p == nullptr) throw std::bad_alloc();
  const size_t live = liveBytes += malloc_usable_size(p);
  size_t peak = peakBytes.load();
  while (live > peak && !peakBytes.compare_exchange_weak(peak, live)) {
  }
  return p;
}

void uncounted(void* p) {
  if (p == nullptr) return;
  liveBytes -= malloc_usable_size(p);
  std::free(p);
}

}  // namespace

void* operator new(size_t n) {
  return counted(n);
}
void* operator new[](size_t n) {
  return counted(n);
}
void operator delete(void* p) noexcept {
  uncounted(p);
}
void operator delete[](void* p) noexcept {
  uncounted(p);
}
void operator delete(void* p, size_t) noexcept {
  uncounted(p);
}
void operator delete[](void* p, size_t) noexcept {
  uncounted(p);
}

namespace {

using namespace protocol;
using bertest::Bytes;

// Decodes `bytes` in pieces of `chunk` octets and returns the heap the decoder's work took at
// its peak next to what it charged.
struct Measured {
  size_t peak;
  size_t charged;
};
Measured measureDecode(const Bytes& bytes, bool legacy, size_t chunk) {
  static const guiProtocol gui;
  BerDecoder decoder(gui, legacy);
  const size_t base = liveBytes.load();
  peakBytes = base;
  for (size_t at = 0; at < bytes.size(); at += chunk)
    decoder.feed(bytes.data() + at, std::min(chunk, bytes.size() - at));
  const Measured m{peakBytes.load() - base, decoder.memoryCharged()};
  EXPECT_TRUE(decoder.done());
  return m;
}

// A select reply of `n` objects, each with a name of `nameLength` octets, a few properties of
// every size class and a member set, as a server with a large inventory answers.
Bytes selectReply(size_t n, size_t nameLength) {
  Response response;
  response.id = 1;
  auto& objects = response.operation.emplace<SelectResp>().objects;
  objects.resize(n);
  for (size_t i = 0; i < n; ++i) {
    Object& o = objects[i];
    o.name = std::string(nameLength, static_cast<char>('a' + i % 26));
    o.className = "Node";
    o.id = std::to_string(i);
    o.members = {uint32_t(i), uint32_t(i + 1)};
    if (i % 50 == 0) {
      o.properties.resize(3);
      o.properties[0].name = "label";
      o.properties[0].value.emplace<StringProp>().value = std::string(i % 1000, 'x');
      o.properties[1].name = "count";
      o.properties[1].value.emplace<SignedIntProp>().value = int32_t(i);
      o.properties[2].name = "blob";
      o.properties[2].value.emplace<BlobProp>().data = std::string(2048, 'b');
      o.children.resize(1);
      o.children[0].name = "child";
    }
  }
  return encode(response, false);
}

struct Sample {
  std::string name;
  bool legacy;
  Bytes bytes;
};

TEST(BerBudget, ChargesAtLeastWhatTheHeapHoldsAndNotMuchMore) {
  std::vector<Sample> samples;
  for (const StructDesc* desc : allStructs()) {
    if (desc->rule != TagRule::TopLevel) continue;
    std::unique_ptr<BerStruct> m = desc->create();
    bertest::fill(*m, 3);
    for (bool legacy : {false, true})
      samples.push_back({desc->name, legacy, encode(*m, legacy)});
  }
  samples.push_back({"select reply", false, selectReply(3000, 40)});
  for (const Sample& s : samples) {
    for (size_t chunk : {size_t{1}, size_t{7}, size_t{1024}, SIZE_MAX}) {
      if (chunk == 1 && s.bytes.size() > 100000) continue;
      const Measured m = measureDecode(s.bytes, s.legacy, chunk);
      EXPECT_LE(m.peak, m.charged) << s.name << ", pieces of " << chunk;
      EXPECT_LE(m.charged, 4 * m.peak + 4096) << s.name << ", pieces of " << chunk;
    }
  }
}

TEST(BerBudget, ALargeInventoryFitsTheDefault) {
  // Over 4 MiB of octets and over 65536 elements in one list.
  const Bytes bytes = selectReply(70000, 64);
  ASSERT_GT(bytes.size(), size_t{4} << 20);
  for (size_t chunk : {size_t{4096}, SIZE_MAX}) {
    std::unique_ptr<BerConstructed> m = bertest::decodeChunked(bytes, false, chunk);
    ASSERT_NE(m, nullptr);
    const auto& r = dynamic_cast<const Response&>(*m);
    EXPECT_EQ(r.operation.as<SelectResp>()->objects.size(), 70000u);
  }
}

TEST(BerBudget, MemoryBeyondTheBudgetIsRefused) {
  CheckinReq message;
  message.results.resize(20);
  for (auto& r : message.results) {
    r.name = std::string(100, 'n');
    r.value = std::string(300, 'v');
  }
  const Bytes bytes = encode(message, false);
  for (size_t chunk : bertest::chunkSizes()) {
    static const guiProtocol gui;
    BerDecoder decoder(gui, false);
    bertest::feedInChunks(decoder, bytes, chunk);
    const size_t charged = decoder.memoryCharged();
    ASSERT_GT(charged, bytes.size());
    // Room for what was charged and for the buffer of the longest field before it is made.
    EXPECT_EQ(
        bertest::decodeError(bytes, false, chunk, nullptr, BerLimits{.budget = charged + 1024}), "")
        << "pieces of " << chunk;
    EXPECT_EQ(bertest::decodeError(bytes, false, chunk, nullptr, BerLimits{.budget = charged - 1}),
              "Message exceeds the decoding budget of " + std::to_string(charged - 1) + " bytes")
        << "pieces of " << chunk;
  }
}

TEST(BerBudget, OctetsBeyondTheBudgetAreRefused) {
  // Unknown trailing fields cost no memory, only octets.
  Bytes bytes = bertest::hex("A4 80 02 01 01 02 01 02");
  for (int i = 0; i < 40; ++i) {
    const Bytes skipped = bertest::hex("04 08 30 31 32 33 34 35 36 37");
    bytes.insert(bytes.end(), skipped.begin(), skipped.end());
  }
  bytes.insert(bytes.end(), {0x00, 0x00});
  for (size_t chunk : bertest::chunkSizes()) {
    DataIntervalEnum fits, refused;
    EXPECT_EQ(bertest::decodeError(bytes, false, chunk, &fits, BerLimits{.budget = bytes.size()}),
              "");
    EXPECT_EQ(
        bertest::decodeError(bytes, false, chunk, &refused, BerLimits{.budget = bytes.size() - 1}),
        "Message exceeds the maximum size of " + std::to_string(bytes.size() - 1) + " octets");
  }
}

}  // namespace
