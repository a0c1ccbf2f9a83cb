#include "config/lookup.h"

#include <cctype>

#include "error/assert.h"
#include "error/exception.h"
#include "util/parse.h"
#include "util/text.h"

namespace config {

namespace {

// Lines print as signed numbers so that the first registry value reads as line -1.
std::string lineText(const ConfigValue& v) {
  return util::dec(static_cast<int32_t>(v.line));
}

const ConfigValue& required(const ConfigMap& map, const std::string& key) {
  auto it = map.find(key);
  if (it == map.end()) throw error::EParseError("Missing option in configuration: " + key);
  return it->second;
}

std::string quoted(const ConfigValue& v, const std::string& key) {
  const std::string& s = v.value;
  if (s.empty()) {
    throw error::EParseError("Expected non-empty value in line " + lineText(v) +
                             " while looking for " + key);
  }
  if (v.from_registry) return s;
  if (s[0] != '"') throw error::EParseError("Expected string value in line " + lineText(v));
  std::size_t i = 1;
  for (; i < s.size() && s[i] != '"'; ++i) {
    if (s[i] == '\\') ++i;  // the escaped character cannot close the string
  }
  if (i >= s.size()) {
    throw error::EParseError("End \" delimiter not found in line " + lineText(v));
  }
  std::size_t rest = i + 1;
  while (rest < s.size() && std::isspace(static_cast<unsigned char>(s[rest])))
    ++rest;
  if (rest < s.size() && s[rest] != '#' && s[rest] != '\n') {
    throw error::EParseError("Unexpected characters after string in line " + lineText(v) +
                             ". The offending character is \"" + s[rest] + "\"");
  }
  return s.substr(1, i - 1);
}

int32_t integer(const ConfigValue& v, const std::string& key) {
  if (v.value.empty()) {
    throw error::EParseError("Expected an integer in line " + lineText(v) + " while looking for " +
                             key);
  }
  return util::parse<int>(v.value);
}

int32_t inRange(const ConfigValue& v, const std::string& key, int32_t low, int32_t high) {
  const int32_t value = integer(v, key);
  if (value < low) {
    throw error::EParseError("Integer value too low in line " + lineText(v) + ", minimum is " +
                             util::dec(low) + " while looking for " + key);
  }
  if (value > high) {
    throw error::EParseError("Integer value too high in line " + lineText(v) + ", maximum is " +
                             util::dec(high) + " while looking for " + key);
  }
  return value;
}

bool boolean(const ConfigValue& v, const std::string& key) {
  std::string upper = v.value;
  for (char& c : upper)
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (upper == "TRUE") return true;
  if (upper == "FALSE") return false;
  throw error::EParseError("Expected either \"true\" or \"false\" value in line " + lineText(v) +
                           " (" + upper + ") while looking for " + key);
}

}  // namespace

std::string get_string(const ConfigMap& map, const std::string& key) {
  return quoted(required(map, key), key);
}

std::string get_string_opt(const ConfigMap& map, const std::string& key, const std::string& def) {
  auto it = map.find(key);
  return it == map.end() ? def : quoted(it->second, key);
}

std::string get_string_opt_unescaped(const ConfigMap& map, const std::string& key,
                                     const std::string& def) {
  auto it = map.find(key);
  return it == map.end() ? def : unescape(quoted(it->second, key));
}

std::set<std::string> get_string_set(const ConfigMap& map, const std::string& key,
                                     const std::string& def) {
  return split(get_string_opt(map, key, def));
}

int32_t get_integer(const ConfigMap& map, const std::string& key, int32_t low, int32_t high) {
  VX_ASSERT(low <= high, "get_integer expects low <= high");
  return inRange(required(map, key), key, low, high);
}

int32_t get_integer_opt(const ConfigMap& map, const std::string& key, int32_t low, int32_t high,
                        int32_t def) {
  VX_ASSERT(low <= def && def <= high, "get_integer_opt expects low <= def <= high");
  auto it = map.find(key);
  return it == map.end() ? def : inRange(it->second, key, low, high);
}

int32_t get_integer_in(const ConfigMap& map, const std::string& key,
                       std::initializer_list<int32_t> allowed, int32_t def) {
  auto it = map.find(key);
  if (it == map.end()) return def;
  const int32_t value = integer(it->second, key);
  std::string list;
  for (int32_t a : allowed) {
    if (a == value) return value;
    list += (list.empty() ? "" : ", ") + util::dec(a);
  }
  throw error::EParseError("Integer value invalid in line " + lineText(it->second) +
                           ", expected one of " + list);
}

bool get_bool(const ConfigMap& map, const std::string& key) {
  return boolean(required(map, key), key);
}

bool get_bool_opt(const ConfigMap& map, const std::string& key, bool def) {
  auto it = map.find(key);
  return it == map.end() ? def : boolean(it->second, key);
}

std::string unescape(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '\\') {
      if (++i == text.size()) break;
      c = text[i];
      switch (c) {
        case 'n':
          c = '\n';
          break;
        case 'r':
          c = '\r';
          break;
        case 't':
          c = '\t';
          break;
        default:
          break;
      }
    }
    out.push_back(c);
  }
  return out;
}

std::set<std::string> split(const std::string& text) {
  std::set<std::string> out;
  std::size_t begin = 0;
  for (;;) {
    std::size_t comma = text.find(',', begin);
    std::size_t end = comma == std::string::npos ? text.size() : comma;
    if (end > begin) out.insert(text.substr(begin, end - begin));
    if (comma == std::string::npos) return out;
    begin = comma + 1;
  }
}

}  // namespace config
