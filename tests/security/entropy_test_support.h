// Test doubles for the entropy server: a clock the test moves, and a reply sink and a log
// that record what they are given.
#pragma once

#include <string>
#include <vector>

#include "security/entropy_server.h"
#include "security/hex.h"
#include "security/md5.h"
#include "util/time_value.h"

namespace vxtest {

struct FakeClock {
  TimeValue now{1700000000, 0};
  int readings = 0;
  void advance(int32_t usec) { now = now + TimeValue::make(0, usec); }
  security::EntropyServer::Clock fn() {
    return [this] {
      ++readings;
      return now;
    };
  }
};

struct Reply {
  enum Kind { Pure, Pseudo, Refused } kind;
  security::Requester to;
  std::string bytes;  // the message for Refused
};

struct RecordingReplies : security::EntropyReplies {
  std::vector<Reply> replies;
  void pureEntropy(const security::Requester& to, std::string bytes) override {
    replies.push_back({Reply::Pure, to, std::move(bytes)});
  }
  void pseudoRandom(const security::Requester& to, std::string bytes) override {
    replies.push_back({Reply::Pseudo, to, std::move(bytes)});
  }
  void refuse(const security::Requester& to, const std::string& message) override {
    replies.push_back({Reply::Refused, to, message});
  }
};

// A saved pool text holding `bytes` and a fresh hash, for starting a pool with known bytes.
inline std::string savedPool(const std::string& bytes, uint32_t count = 0) {
  return security::toHex(bytes) + ":" + std::to_string(count) + ":" + security::Md5().stateText();
}

// n distinct bytes 0, 1, 2, ...
inline std::string countingBytes(size_t n, int start = 0) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i)
    s[i] = static_cast<char>(start + i);
  return s;
}

}  // namespace vxtest
