// event decode: events as the processes exchange them (header and payload, one after another)
// printed in their text form, as the server's logs and traces print them.
#include "commands.h"
#include "input.h"
#include "io/exceptions.h"
#include "queues/catalogue.h"
#include "wire/memory_stream.h"

namespace vexlanctl {

namespace {

const char* const kHelp =
    "usage: vexlanctl event decode [--hex|--binary] [FILE]\n"
    "Prints every event in FILE (standard input without FILE or with -) in its text form. The\n"
    "input is taken as hexadecimal text when it holds only hexadecimal digits and white space,\n"
    "else as the bytes themselves. On bad input the events before it are printed, then the\n"
    "event layer's error, and the status is 1.\n";

}  // namespace

int eventCommand(const Args& args, std::ostream& out, std::ostream& err) {
  DecodeInput in;
  bool unused = false;
  if (int rc = parseDecodeArgs(args, kHelp, "", in, unused, out, err); rc >= 0) return rc;
  try {
    const std::string bytes = loadBytes(in);
    if (bytes.empty()) throw error::EParseEmptyStringError("No event in the input");
    protocol::MemoryIStream stream(bytes);
    protocol::ioprim io(&stream);
    io.limitInput(bytes.size());
    while (*io.inputLeft() > 0) {
      const uint64_t start = bytes.size() - *io.inputLeft();
      try {
        queues::printEvent(out, *queues::readEvent(io));
      } catch (const io::EEndOfStream&) {
        // The stream's own words would name the tool's buffer, not the input.
        throw error::EParseError("The input ends inside the event at byte " +
                                 std::to_string(start));
      }
    }
  } catch (const std::exception& e) {
    out.flush();
    err << e.what() << "\n";
    return kFailed;
  }
  return kOk;
}

}  // namespace vexlanctl
