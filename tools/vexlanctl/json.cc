#include "json.h"

#include <cstdlib>

#include "error/exception.h"

namespace vexlanctl {

namespace {

constexpr int kMaxDepth = 32;

class Parser {
 public:
  explicit Parser(const std::string& text) : s_(text) {}

  Json document() {
    Json v = value(0);
    blanks();
    if (at_ != s_.size()) fail("trailing data");
    return v;
  }

 private:
  [[noreturn]] void fail(const std::string& what) const {
    throw error::EParseError("Malformed status file: " + what + " at offset " +
                             std::to_string(at_));
  }
  void blanks() {
    while (at_ < s_.size() &&
           (s_[at_] == ' ' || s_[at_] == '\n' || s_[at_] == '\t' || s_[at_] == '\r'))
      ++at_;
  }
  char peek() {
    blanks();
    if (at_ >= s_.size()) fail("unexpected end");
    return s_[at_];
  }
  void expect(char c) {
    if (peek() != c) fail(std::string("expected '") + c + "'");
    ++at_;
  }
  bool word(const char* w) {
    size_t n = std::char_traits<char>::length(w);
    if (s_.compare(at_, n, w) != 0) return false;
    at_ += n;
    return true;
  }

  Json value(int depth) {
    if (depth > kMaxDepth) fail("nesting too deep");
    Json v;
    char c = peek();
    if (c == '{') {
      v.type = Json::Type::Object;
      ++at_;
      if (peek() == '}') {
        ++at_;
        return v;
      }
      do {
        if (peek() != '"') fail("expected a member name");
        std::string name = string();
        expect(':');
        v.object[name] = value(depth + 1);
      } while (more('}'));
    } else if (c == '[') {
      v.type = Json::Type::Array;
      ++at_;
      if (peek() == ']') {
        ++at_;
        return v;
      }
      do
        v.array.push_back(value(depth + 1));
      while (more(']'));
    } else if (c == '"') {
      v.type = Json::Type::String;
      v.string = string();
    } else if (word("true") || word("false")) {
      v.type = Json::Type::Bool;
      v.boolean = s_[at_ - 1] == 'e' && s_[at_ - 2] == 'u';
    } else if (word("null")) {
    } else {
      v.type = Json::Type::Number;
      const char* begin = s_.c_str() + at_;
      char* end = nullptr;
      v.number = std::strtod(begin, &end);
      if (end == begin || (*begin != '-' && (*begin < '0' || *begin > '9'))) fail("bad value");
      at_ += static_cast<size_t>(end - begin);
    }
    return v;
  }

  // After an element: true at a comma, false at the closing bracket.
  bool more(char close) {
    char c = peek();
    ++at_;
    if (c == ',') return true;
    if (c != close) fail(std::string("expected ',' or '") + close + "'");
    return false;
  }

  std::string string() {
    ++at_;  // the opening quote
    std::string out;
    while (true) {
      if (at_ >= s_.size()) fail("unterminated string");
      char c = s_[at_++];
      if (c == '"') return out;
      if (c != '\\') {
        out += c;
        continue;
      }
      if (at_ >= s_.size()) fail("unterminated string");
      char e = s_[at_++];
      switch (e) {
        case 'n':
          out += '\n';
          break;
        case 't':
          out += '\t';
          break;
        case 'r':
          out += '\r';
          break;
        case 'b':
          out += '\b';
          break;
        case 'f':
          out += '\f';
          break;
        case 'u': {
          if (s_.size() - at_ < 4) fail("bad escape");
          unsigned code = 0;
          for (int i = 0; i < 4; ++i) {
            char h = s_[at_++];
            int d = h >= '0' && h <= '9'   ? h - '0'
                    : h >= 'a' && h <= 'f' ? h - 'a' + 10
                    : h >= 'A' && h <= 'F' ? h - 'A' + 10
                                           : -1;
            if (d < 0) fail("bad escape");
            code = code * 16 + static_cast<unsigned>(d);
          }
          // The server escapes control characters only; others are kept as one byte each
          // when they fit, else marked.
          out += code < 0x100 ? static_cast<char>(code) : '?';
          break;
        }
        default:
          if (e != '"' && e != '\\' && e != '/') fail("bad escape");
          out += e;
      }
    }
  }

  const std::string& s_;
  size_t at_ = 0;
};

const char* typeName(Json::Type t) {
  switch (t) {
    case Json::Type::Null:
      return "null";
    case Json::Type::Bool:
      return "a boolean";
    case Json::Type::Number:
      return "a number";
    case Json::Type::String:
      return "a string";
    case Json::Type::Array:
      return "an array";
    case Json::Type::Object:
      break;
  }
  return "an object";
}

}  // namespace

const Json& Json::at(const std::string& name, Type expected) const {
  auto it = object.find(name);
  if (type != Type::Object || it == object.end()) {
    throw error::EParseError("Malformed status file: no member \"" + name + "\"");
  }
  if (it->second.type != expected) {
    throw error::EParseError("Malformed status file: \"" + name + "\" is not " +
                             typeName(expected));
  }
  return it->second;
}

Json parseJson(const std::string& text) {
  return Parser(text).document();
}

}  // namespace vexlanctl
