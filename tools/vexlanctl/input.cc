#include "input.h"

#include <cctype>
#include <cerrno>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>

#include "error/exception.h"
#include "error/system_text.h"

namespace vexlanctl {

namespace {

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool isBlank(char c) {
  return std::isspace(static_cast<unsigned char>(c)) != 0;
}

}  // namespace

InputForm guessForm(const std::string& raw) {
  bool digit = false;
  for (size_t i = 0; i < raw.size(); ++i) {
    char c = raw[i];
    if (c == '0' && i + 1 < raw.size() && (raw[i + 1] == 'x' || raw[i + 1] == 'X') &&
        (i == 0 || isBlank(raw[i - 1]))) {
      ++i;
      continue;
    }
    if (hexValue(c) >= 0) {
      digit = true;
    } else if (!isBlank(c)) {
      return InputForm::Binary;
    }
  }
  return digit ? InputForm::Hex : InputForm::Binary;
}

std::string fromHex(const std::string& text) {
  std::string out;
  int high = -1;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (isBlank(c)) continue;
    // "0x" only at the start of a group, so that the digit 0 before an x is never eaten.
    if (c == '0' && high < 0 && i + 1 < text.size() && (text[i + 1] == 'x' || text[i + 1] == 'X') &&
        (i == 0 || isBlank(text[i - 1]))) {
      ++i;
      continue;
    }
    int v = hexValue(c);
    if (v < 0) {
      std::ostringstream msg;
      msg << "Not a hexadecimal digit at offset " << i << ": '" << c << "'";
      if (std::isprint(static_cast<unsigned char>(c)) == 0) {
        msg.str("");
        msg << "Not a hexadecimal digit at offset " << i << ": byte "
            << static_cast<int>(static_cast<unsigned char>(c));
      }
      throw error::EParseError(msg.str());
    }
    if (high < 0) {
      high = v;
    } else {
      out += static_cast<char>(high << 4 | v);
      high = -1;
    }
  }
  if (high >= 0) throw error::EParseError("Odd number of hexadecimal digits");
  return out;
}

std::string readAll(const std::string& path) {
  if (path == "-") {
    return std::string(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
  }
  std::ifstream f(path, std::ios::binary);
  if (!f) {
    throw error::Exception("Cannot open " + path + ": " + error::systemText(errno));
  }
  std::string data((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  if (f.bad()) throw error::Exception("Cannot read " + path + ": " + error::systemText(errno));
  return data;
}

bool DecodeInput::take(const std::string& arg) {
  if (arg == "--hex") {
    form = InputForm::Hex;
  } else if (arg == "--binary") {
    form = InputForm::Binary;
  } else if (!have_path_ && (arg == "-" || arg.empty() || arg[0] != '-')) {
    path = arg;
    have_path_ = true;
  } else {
    return false;
  }
  return true;
}

int parseDecodeArgs(const Args& args, const char* help, const std::string& flag, DecodeInput& in,
                    bool& flag_given, std::ostream& out, std::ostream& err) {
  if ((args.size() == 1 && isHelp(args[0])) ||
      (args.size() >= 2 && args[0] == "decode" && isHelp(args[1]))) {
    out << help;
    return kOk;
  }
  bool ok = !args.empty() && args[0] == "decode";
  for (size_t i = 1; ok && i < args.size(); ++i) {
    if (!flag.empty() && args[i] == flag) {
      flag_given = true;
    } else {
      ok = in.take(args[i]);
    }
  }
  if (ok) return -1;
  err << help;
  return kUsage;
}

std::string loadBytes(const DecodeInput& in) {
  std::string raw = readAll(in.path);
  InputForm form = in.form == InputForm::Guess ? guessForm(raw) : in.form;
  return form == InputForm::Hex ? fromHex(raw) : raw;
}

}  // namespace vexlanctl
