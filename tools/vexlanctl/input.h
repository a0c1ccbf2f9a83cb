// The byte input of the decoding commands: a file or standard input, given either as the raw
// bytes or as hexadecimal text (as copied from a log or a packet dump).
#pragma once

#include <ostream>
#include <string>

#include "commands.h"

namespace vexlanctl {

enum class InputForm { Guess, Hex, Binary };

// Text that holds only hexadecimal digits and white space (and at least one digit) is taken
// as hexadecimal when the form is not given; anything else is binary.
InputForm guessForm(const std::string& raw);

// The bytes the hexadecimal text stands for. White space may separate the digits anywhere,
// and a "0x" prefix may start each group. Throws error::EParseError on any other character
// and on an odd number of digits.
std::string fromHex(const std::string& text);

// The whole of `path` ("-" for standard input); error::Exception when it cannot be read.
std::string readAll(const std::string& path);

// The decoding commands' common arguments: [--hex|--binary] [FILE].
struct DecodeInput {
  InputForm form = InputForm::Guess;
  std::string path = "-";
  // Takes one argument; false when it is neither a form flag nor the (first) file name.
  bool take(const std::string& arg);

 private:
  bool have_path_ = false;
};

// Parses the arguments of "decode [--hex|--binary] [FLAG] [FILE]", where FLAG is `flag` (none
// when empty) and sets `flag_given`. Returns -1 when the command is to go on; otherwise the
// exit status, after `help` went to `out` (asked for) or to `err` (a usage error).
int parseDecodeArgs(const Args& args, const char* help, const std::string& flag, DecodeInput& in,
                    bool& flag_given, std::ostream& out, std::ostream& err);

// Reads and converts the input; error::Exception on failure.
std::string loadBytes(const DecodeInput& in);

}  // namespace vexlanctl
