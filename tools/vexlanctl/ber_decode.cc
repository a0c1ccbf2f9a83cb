// ber decode: network messages (BER octets, one message or several in a row) printed as an
// indented tree, one field per line.
#include <sstream>

#include "commands.h"
#include "input.h"
#include "protocol/gui_protocol.h"

namespace vexlanctl {

namespace {

const char* const kHelp =
    "usage: vexlanctl ber decode [--legacy] [--hex|--binary] [FILE]\n"
    "Prints every message in FILE (standard input without FILE or with -) as a tree. --legacy\n"
    "reads the older dialect (IA5 strings, sequences 0x20, sets 0x21). The input is taken as\n"
    "hexadecimal text when it holds only hexadecimal digits and white space, else as the\n"
    "octets themselves. On bad input the messages before it are printed, then the decoder's\n"
    "error, and the status is 1.\n";

// Breaks the one-line form of a message ("Name{a: 1, b: [x, y]}") into lines: one field or
// element each, nested ones indented. Text inside quotes is copied unchanged; the printer
// escapes every quote and backslash within it.
std::string tree(const std::string& line) {
  std::string out;
  int depth = 0;
  auto newline = [&] { out += "\n" + std::string(static_cast<size_t>(2 * depth), ' '); };
  for (size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (c == '"') {
      size_t end = i + 1;
      while (end < line.size() && line[end] != '"')
        end += line[end] == '\\' ? 2 : 1;
      out.append(line, i, end + 1 - i);
      i = end;
    } else if ((c == '{' || c == '[') && i + 1 < line.size() &&
               line[i + 1] == (c == '{' ? '}' : ']')) {
      out += c;
      out += line[++i];
    } else if (c == '{' || c == '[') {
      if (c == '{') out += ' ';
      out += c;
      ++depth;
      newline();
    } else if (c == '}' || c == ']') {
      --depth;
      newline();
      out += c;
    } else if (c == ',' && i + 1 < line.size() && line[i + 1] == ' ' && depth > 0) {
      ++i;
      newline();
    } else {
      out += c;
    }
  }
  return out + "\n";
}

}  // namespace

int berCommand(const Args& args, std::ostream& out, std::ostream& err) {
  DecodeInput in;
  bool legacy = false;
  if (int rc = parseDecodeArgs(args, kHelp, "--legacy", in, legacy, out, err); rc >= 0) return rc;
  try {
    const std::string bytes = loadBytes(in);
    const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
    if (bytes.empty()) throw error::EParseEmptyStringError("No message in the input");
    protocol::guiProtocol gui;
    protocol::BerDecoder decoder(gui, legacy);
    size_t at = 0;
    while (at < bytes.size()) {
      const size_t start = at;
      at += decoder.feed(data + at, bytes.size() - at);
      if (!decoder.done()) {
        // The octets ended inside a message: the one-message decoder names what is missing.
        protocol::decodeMessage(gui, legacy, data + start, bytes.size() - start);
        break;
      }
      std::ostringstream line;
      line << *decoder.take();
      out << tree(line.str());
    }
  } catch (const std::exception& e) {
    out.flush();
    err << e.what() << "\n";
    return kFailed;
  }
  return kOk;
}

}  // namespace vexlanctl
