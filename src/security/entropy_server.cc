#include "security/entropy_server.h"

#include <sys/random.h>

#include <algorithm>
#include <cerrno>

#include "error/exception.h"
#include "error/system_text.h"

namespace security {

EntropyServer::EntropyServer(EntropyReplies& replies, Clock clock, Log log)
    : replies_(replies), clock_(std::move(clock)), log_(std::move(log)) {}

void EntropyServer::enqueue_pseudo_random(const Requester& from, int32_t bytes,
                                          bool prefer_pure_entropy) {
  pseudo_random_.push_back({from, bytes, prefer_pure_entropy});
}

void EntropyServer::enqueue_pure_entropy(const Requester& from, int32_t bytes) {
  pure_entropy_.push_back({from, bytes, false});
}

void EntropyServer::seed() {
  const size_t seed_size = RandomGenerator::kSeedSize;
  if (generator_ && (weak_seed_ || generator_->produced() >= kReseedAfter) &&
      pool_.available() >= seed_size) {
    log("Re-seeding random number generator");
    generator_ = std::make_unique<RandomGenerator>(pool_.take(seed_size));
    weak_seed_ = false;
  } else if (!generator_ && pool_.available() >= seed_size) {
    log("Seeding random number generator");
    generator_ = std::make_unique<RandomGenerator>(pool_.take(seed_size));
    weak_seed_ = false;
  } else if (!generator_ && !pseudo_random_.empty()) {
    log("Seeding random number generator with stretched entropy");
    generator_ = std::make_unique<RandomGenerator>(pool_.stretchedTake(seed_size, clock_));
    weak_seed_ = true;
  }
}

void EntropyServer::servePseudoRandom(const Request& r) {
  if (r.bytes < 0) return replies_.refuse(r.from, "Request for negative size");
  if (r.bytes > kMaxPseudoRandomRequest) {
    return replies_.refuse(r.from, "Request for too many random bytes");
  }
  size_t n = static_cast<size_t>(r.bytes);
  std::string out;
  if (r.prefer_pure_entropy) out = pool_.take(std::min(n, pool_.available()));
  size_t pure = out.size();
  out.resize(n);
  generator_->generate(n - pure, reinterpret_cast<uint8_t*>(out.data()) + pure);
  replies_.pseudoRandom(r.from, std::move(out));
}

void EntropyServer::service() {
  collector_.sample(pool_, clock_());
  seed();

  while (!pseudo_random_.empty()) {
    Request r = pseudo_random_.front();
    pseudo_random_.pop_front();
    servePseudoRandom(r);
  }

  while (!pure_entropy_.empty()) {
    Request r = pure_entropy_.front();
    size_t n = static_cast<size_t>(r.bytes);
    if (r.bytes >= 0 && n <= EntropyPool::kMaxBytes && pool_.available() < n) break;
    pure_entropy_.pop_front();
    if (r.bytes < 0) {
      replies_.refuse(r.from, "Request for negative size");
    } else if (n > EntropyPool::kMaxBytes) {
      // It could never be met, and it would hold up every request behind it for good.
      replies_.refuse(r.from, "Request for more entropy than the pool can hold");
    } else {
      replies_.pureEntropy(r.from, pool_.take(n));
    }
  }
}

void EntropyServer::stirFromKernel() {
  std::string fresh(std::max(pool_.available(), RandomGenerator::kSeedSize), '\0');
  size_t done = 0;
  bool waited = false;
  while (done < fresh.size()) {
    // Only at early boot is the kernel's generator not ready; then the start waits for it.
    ssize_t n = ::getrandom(fresh.data() + done, fresh.size() - done, waited ? 0 : GRND_NONBLOCK);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN && !waited) {
      log("Waiting for the kernel's random generator to be ready");
      waited = true;
      continue;
    }
    if (n <= 0) {
      log("Cannot read random bytes from the kernel: " + error::systemText(n < 0 ? errno : EIO));
      return;
    }
    done += static_cast<size_t>(n);
  }
  pool_.stir(fresh);
}

void EntropyServer::restore(const std::string& text) {
  if (text.empty()) return;
  try {
    pool_.restore(text);
  } catch (const error::Exception& e) {
    log(std::string("Ignoring the stored entropy: ") + e.what());
  }
}

}  // namespace security
