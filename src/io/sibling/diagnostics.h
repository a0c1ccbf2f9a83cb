// Lines the transport writes about peers that are lost or leave: an acknowledgement that can no
// longer reach a dead peer, a FIFO that broke under a write, a peer's FIFO closed at its leave,
// input streams ended at our own. They go to standard error, one write(2) per line, so that a
// worker's lines reach the server log whole (the supervisor logs what its workers write there).
#pragma once

#include <functional>
#include <string>

namespace io {

void siblingDiagnostic(const std::string& text);

// Where the lines go instead of standard error (tests); an empty sink restores it.
using DiagnosticSink = std::function<void(const std::string&)>;
void setSiblingDiagnosticSink(DiagnosticSink sink);

}  // namespace io
