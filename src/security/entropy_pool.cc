#include "security/entropy_pool.h"

#include <algorithm>
#include <vector>

#include "error/assert.h"
#include "error/exception.h"
#include "security/hex.h"
#include "util/parse.h"
#include "util/text.h"

namespace security {

void EntropyPool::feed(uint32_t value, uint32_t credit) {
  uint8_t le[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                   static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
  hash_.update(sizeof le, le);
  count_ += credit;
  collect();
}

void EntropyPool::stir(const std::string& fresh) {
  if (fresh.empty()) return;
  hash_.update(fresh.size(), fresh.data());
  for (size_t i = 0; i < bytes_.size(); ++i)
    bytes_[i] = static_cast<char>(bytes_[i] ^ fresh[i % fresh.size()]);
}

void EntropyPool::collect() {
  if (count_ < 16 * hash_.digestSize() || bytes_.size() >= kMaxBytes) return;
  uint8_t digest[Md5::kDigestSize];
  hash_.final(digest);
  bytes_.append(reinterpret_cast<const char*>(digest), sizeof digest);
  hash_.reset();
  count_ = 0;
}

std::string EntropyPool::take(size_t n) {
  VX_ASSERT(n <= bytes_.size(), "Not enough entropy");
  std::string out = bytes_.substr(bytes_.size() - n);
  bytes_.resize(bytes_.size() - n);
  return out;
}

std::string EntropyPool::stretchedTake(size_t n, const std::function<TimeValue()>& clock) {
  while (available() < n)
    feed(static_cast<uint32_t>(clock().usec), 64);
  return take(n);
}

std::string EntropyPool::save() const {
  return toHex(bytes_) + ":" + util::udec(count_) + ":" + hash_.stateText();
}

void EntropyPool::restore(const std::string& text) {
  std::vector<std::string> pieces;
  size_t start = 0;
  for (size_t colon; (colon = text.find(':', start)) != std::string::npos; start = colon + 1) {
    pieces.push_back(text.substr(start, colon - start));
  }
  pieces.push_back(text.substr(start));
  if (pieces.size() != 3) throw error::EParseError("Malformed entropy");

  const std::string& hex = pieces[0];
  if (hex.size() < 2) {
    bytes_.clear();
    return;
  }
  // An odd last digit was never written by save(); it is ignored rather than refused.
  std::string bytes(hex.size() / 2, '\0');
  if (bytes.size() > kMaxBytes) throw error::EParseError("Malformed entropy: pool too large");
  if (!fromHex(std::string_view(hex).substr(0, 2 * bytes.size()),
               reinterpret_cast<uint8_t*>(bytes.data()), bytes.size())) {
    throw error::EParseError("Malformed entropy: bad pool digits");
  }
  uint32_t count = util::parse<unsigned int>(pieces[1]);
  Md5 hash;
  hash.setStateText(pieces[2]);

  bytes_ = std::move(bytes);
  count_ = count;
  hash_ = hash;
}

void TimingCollector::sample(EntropyPool& pool, TimeValue now) {
  if (last_ == TimeValue(0, 0)) {
    pool.feed(static_cast<uint32_t>(now.usec), 0);
  } else {
    TimeValue interval = now - last_;
    // A clock that stood still or was set back says nothing about jitter. Such an interval
    // must not become the shortest one either: a zero or negative minimum would credit every
    // later sample, however regular.
    if (interval <= TimeValue(0, 0)) {
      pool.collect();
    } else {
      if (interval < min_interval_) min_interval_ = interval;
      if (interval < min_interval_.scale(3.0)) {
        pool.collect();
      } else {
        pool.feed(
            static_cast<uint32_t>(interval.sec) * 10000000u + static_cast<uint32_t>(interval.usec),
            1);
      }
    }
  }
  last_ = now;
}

}  // namespace security
