#include "config/pattern_cost.h"

#include <cctype>

namespace config {

namespace {

constexpr uint64_t kSaturated = uint64_t{1} << 40;

uint64_t add(uint64_t a, uint64_t b) {
  return a + b > kSaturated ? kSaturated : a + b;
}

uint64_t mul(uint64_t a, uint64_t b) {
  return (b != 0 && a > kSaturated / b) ? kSaturated : a * b;
}

class Estimator {
 public:
  explicit Estimator(const std::string& p) : p_(p) {}

  uint64_t run() {
    uint64_t total = 0;
    // A ")" without its "(" is an ordinary character at the top level.
    while (i_ < p_.size()) {
      total = add(total, sequence());
      if (i_ < p_.size()) {
        ++i_;
        total = add(total, 1);
      }
    }
    return total;
  }

 private:
  // Alternatives and concatenations up to the next unmatched ")".
  uint64_t sequence() {
    uint64_t total = 0;
    while (i_ < p_.size()) {
      const char c = p_[i_];
      if (c == ')') return total;
      if (c == '|') {
        ++i_;
        continue;
      }
      uint64_t atom = 1;
      if (c == '(') {
        ++i_;
        uint64_t inner = sequence();
        if (i_ < p_.size()) ++i_;  // the ")"
        atom = inner > 0 ? inner : 1;
      } else if (c == '[') {
        skipBracket();
      } else if (c == '\\') {
        i_ += 2;
      } else {
        ++i_;
      }
      total = add(total, mul(atom, repetitions()));
    }
    return total;
  }

  // The copies that the quantifiers after an atom make of it.
  uint64_t repetitions() {
    uint64_t factor = 1;
    while (i_ < p_.size()) {
      const char c = p_[i_];
      if (c == '*' || c == '?') {
        ++i_;
      } else if (c == '+') {
        ++i_;
        factor = mul(factor, 2);
      } else if (c == '{') {
        uint64_t copies = 0;
        if (!bound(copies)) break;
        factor = mul(factor, copies > 0 ? copies : 1);
      } else {
        break;
      }
    }
    return factor;
  }

  // "{m}", "{m,}" or "{m,n}" at i_: consumes it and gives its copies; anything else is left.
  bool bound(uint64_t& copies) {
    std::size_t j = i_ + 1;
    uint64_t m = 0, n = 0;
    bool hasM = number(j, m);
    bool comma = j < p_.size() && p_[j] == ',';
    bool hasN = false;
    if (comma) hasN = number(++j, n);
    if (!hasM || j >= p_.size() || p_[j] != '}') return false;
    i_ = j + 1;
    copies = !comma ? m : hasN ? n : m + 1;
    return true;
  }

  bool number(std::size_t& j, uint64_t& value) {
    const std::size_t start = j;
    while (j < p_.size() && std::isdigit(static_cast<unsigned char>(p_[j]))) {
      value = value > kSaturated ? value : value * 10 + static_cast<uint64_t>(p_[j] - '0');
      ++j;
    }
    return j > start;
  }

  // A bracket expression: "]" first is a member, "[:class:]", "[.x.]" and "[=x=]" nest.
  void skipBracket() {
    ++i_;
    if (i_ < p_.size() && p_[i_] == '^') ++i_;
    if (i_ < p_.size() && p_[i_] == ']') ++i_;
    while (i_ < p_.size() && p_[i_] != ']') {
      if (p_[i_] == '[' && i_ + 1 < p_.size() &&
          (p_[i_ + 1] == ':' || p_[i_ + 1] == '.' || p_[i_ + 1] == '=')) {
        const char kind = p_[i_ + 1];
        std::size_t close = p_.find(std::string{kind, ']'}, i_ + 2);
        i_ = close == std::string::npos ? p_.size() : close + 2;
      } else {
        ++i_;
      }
    }
    if (i_ < p_.size()) ++i_;
  }

  const std::string& p_;
  std::size_t i_ = 0;
};

}  // namespace

uint64_t pattern_cost(const std::string& pattern) {
  return Estimator(pattern).run();
}

}  // namespace config
