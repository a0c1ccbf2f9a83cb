#include "support/openmetrics_check.h"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <set>

namespace vxtest {

namespace {

struct Reader {
  size_t line = 0;
  [[noreturn]] void fail(const std::string& why) const {
    throw std::runtime_error("line " + std::to_string(line) + ": " + why);
  }
};

bool nameStart(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':';
}
bool nameChar(char c) {
  return nameStart(c) || (c >= '0' && c <= '9');
}

bool isMetricName(const std::string& s) {
  if (s.empty() || !nameStart(s[0])) return false;
  for (char c : s)
    if (!nameChar(c)) return false;
  return true;
}

bool isLabelName(const std::string& s) {
  if (s.empty() || s[0] == ':' || !nameStart(s[0])) return false;
  for (char c : s)
    if (!nameChar(c) || c == ':') return false;
  return true;
}

// realnumber, or +Inf / -Inf / NaN (the ABNF's forms only: no hex, no leading "+" on digits
// other than the sign, no bare ".").
double parseNumber(const std::string& s, const Reader& r) {
  if (s == "+Inf" || s == "+inf") return INFINITY;
  if (s == "-Inf" || s == "-inf") return -INFINITY;
  if (s == "NaN") return NAN;
  size_t i = 0;
  if (i < s.size() && (s[i] == '-' || s[i] == '+')) ++i;
  size_t digits = 0;
  while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i])))
    ++i, ++digits;
  if (i < s.size() && s[i] == '.') {
    ++i;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i])))
      ++i, ++digits;
  }
  if (digits == 0) r.fail("not a number: " + s);
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    if (i < s.size() && (s[i] == '-' || s[i] == '+')) ++i;
    size_t exp = 0;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i])))
      ++i, ++exp;
    if (exp == 0) r.fail("not a number: " + s);
  }
  if (i != s.size()) r.fail("not a number: " + s);
  return std::strtod(s.c_str(), nullptr);
}

// An escaped string up to the closing quote at or after `i` (label values, HELP texts end at
// the line's end instead when `quoted` is false).
std::string unescape(const std::string& s, size_t& i, bool quoted, const Reader& r) {
  std::string out;
  while (i < s.size()) {
    char c = s[i++];
    if (quoted && c == '"') return out;
    if (c == '"') r.fail("an unescaped double quote");
    if (c == '\\') {
      if (i >= s.size()) r.fail("a backslash at the end");
      char e = s[i++];
      if (e == 'n') {
        out += '\n';
      } else if (e == '\\' || e == '"') {
        out += e;
      } else {
        r.fail(std::string("an unknown escape \\") + e);
      }
      continue;
    }
    out += c;
  }
  if (quoted) r.fail("a label value without its closing quote");
  return out;
}

const std::map<std::string, std::set<std::string>> kSuffixes = {
    {"counter", {"_total", "_created"}},
    {"gauge", {""}},
    {"summary", {"", "_count", "_sum", "_created"}},
    {"unknown", {""}},
    {"info", {"_info"}},
    {"stateset", {""}},
    {"histogram", {"_bucket", "_count", "_sum", "_created"}},
    {"gaugehistogram", {"_bucket", "_gcount", "_gsum"}},
};

}  // namespace

std::map<std::string, OmFamily> parseOpenMetrics(const std::string& text) {
  Reader r;
  std::map<std::string, OmFamily> families;
  std::set<std::string> closed;  // families that another family has followed
  std::string current;           // the family of the last line
  std::set<std::string> seen_metadata;
  std::set<std::string> seen_samples;  // name + labels within the current family
  std::set<std::string> done_labelsets;
  std::optional<std::string> last_labelset;
  bool eof = false;

  auto enter = [&](const std::string& family) {
    if (family == current) return;
    if (!current.empty()) closed.insert(current);
    if (closed.count(family)) r.fail("family " + family + " appears again after another");
    current = family;
    seen_metadata.clear();
    seen_samples.clear();
    done_labelsets.clear();
    last_labelset.reset();
  };

  size_t at = 0;
  while (at < text.size()) {
    ++r.line;
    size_t nl = text.find('\n', at);
    if (nl == std::string::npos) r.fail("the last line has no line end");
    const std::string line = text.substr(at, nl - at);
    at = nl + 1;
    if (eof) r.fail("text after # EOF");
    for (char c : line) {
      if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7e) {
        r.fail("a byte that is not printable ASCII");
      }
    }
    if (line == "# EOF") {
      eof = true;
      continue;
    }
    if (line.empty()) r.fail("an empty line");
    if (line[0] == '#') {
      // "# TYPE|UNIT|HELP name rest"
      size_t a = line.find(' '), b = line.find(' ', a + 1), c = line.find(' ', b + 1);
      if (line.compare(0, 2, "# ") != 0 || b == std::string::npos) r.fail("a bare comment");
      const std::string kind = line.substr(a + 1, b - a - 1);
      const std::string name = line.substr(b + 1, c == std::string::npos ? c : c - b - 1);
      const std::string rest = c == std::string::npos ? "" : line.substr(c + 1);
      if (!isMetricName(name)) r.fail("not a metric name: " + name);
      if (kind != "TYPE" && kind != "UNIT" && kind != "HELP") r.fail("a bare comment");
      if (families.count(name) && name != current) r.fail("family " + name + " described twice");
      enter(name);
      if (!families[name].samples.empty()) r.fail(kind + " after the samples of " + name);
      if (!seen_metadata.insert(kind).second) r.fail("a second " + kind + " for " + name);
      OmFamily& f = families[name];
      if (kind == "TYPE") {
        if (seen_metadata.size() > 1) r.fail("TYPE is not the first line of " + name);
        if (!kSuffixes.count(rest)) r.fail("an unknown type " + rest);
        f.type = rest;
      } else if (kind == "UNIT") {
        if (rest.empty() || name.size() <= rest.size() + 1 ||
            name.compare(name.size() - rest.size() - 1, std::string::npos, "_" + rest) != 0) {
          r.fail("family " + name + " does not end in its unit " + rest);
        }
        f.unit = rest;
      } else {
        size_t i = 0;
        f.help = unescape(rest, i, false, r);
      }
      continue;
    }
    // A sample: name[{labels}] value
    size_t i = 0;
    while (i < line.size() && nameChar(line[i]))
      ++i;
    OmSample s;
    s.name = line.substr(0, i);
    if (!isMetricName(s.name)) r.fail("not a metric name: " + s.name);
    std::string labelset;
    if (i < line.size() && line[i] == '{') {
      ++i;
      while (i < line.size() && line[i] != '}') {
        size_t start = i;
        while (i < line.size() && nameChar(line[i]))
          ++i;
        const std::string lname = line.substr(start, i - start);
        if (!isLabelName(lname)) r.fail("not a label name: " + lname);
        if (line.compare(i, 2, "=\"") != 0) r.fail("a label without =\"");
        i += 2;
        const std::string value = unescape(line, i, true, r);
        if (!s.labels.emplace(lname, value).second) r.fail("label " + lname + " twice");
        labelset += lname + "=" + value + ",";
        if (i < line.size() && line[i] == ',') {
          ++i;
          if (i < line.size() && line[i] == '}') r.fail("a comma before }");
        }
      }
      if (i >= line.size()) r.fail("labels without }");
      ++i;
    }
    if (i >= line.size() || line[i] != ' ') r.fail("no blank before the value");
    const std::string value = line.substr(i + 1);
    if (value.find(' ') != std::string::npos) r.fail("something after the value");
    s.value = parseNumber(value, r);

    // Its family: the one in progress when the name fits it, else one named like the sample.
    std::string family = s.name;
    if (!current.empty() && families.count(current)) {
      const OmFamily& f = families[current];
      for (const std::string& suffix : kSuffixes.at(f.type)) {
        if (s.name == current + suffix) family = current;
      }
    }
    if (family != current && families.count(family) && !families[family].samples.empty()) {
      r.fail("family " + family + " appears again after another");
    }
    enter(family);
    OmFamily& f = families[family];
    bool fits = false;
    for (const std::string& suffix : kSuffixes.at(f.type))
      fits = fits || s.name == family + suffix;
    if (!fits) r.fail("sample " + s.name + " does not fit its " + f.type + " family " + family);
    if ((f.type == "counter" || s.name == family + "_count") &&
        (s.value < 0 || s.value != s.value)) {
      r.fail("a negative or NaN count: " + s.name);
    }
    if (!seen_samples.insert(s.name + "{" + labelset + "}").second) {
      r.fail("sample " + s.name + " with the same labels twice");
    }
    // The points of one label set are together.
    if (labelset != last_labelset) {
      if (done_labelsets.count(labelset)) r.fail("the samples of one label set are apart");
      if (last_labelset) done_labelsets.insert(*last_labelset);
      last_labelset = labelset;
    }
    f.samples.push_back(std::move(s));
  }
  if (!eof) r.fail("no # EOF at the end");
  return families;
}

}  // namespace vxtest
