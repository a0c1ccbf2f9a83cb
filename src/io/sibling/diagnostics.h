// Lines the transport writes about peers that are lost or leave: an acknowledgement that can no
// longer reach a dead peer, a FIFO that broke under a write, a peer's FIFO closed at its leave,
// input streams ended at our own. They go to standard error in whole lines, so that each line
// reaches the server log whole (the supervisor logs what its workers write there).
#pragma once

#include <functional>
#include <string>

namespace io {

void siblingDiagnostic(const std::string& text);

// While a batch is open, the lines wait and leave together when the outermost batch closes: as
// few write(2) calls as keep each within PIPE_BUF, which a pipe writes in one piece, and no line
// split across two. A leave produces a line per peer at once; one write for them spares the
// supervisor a wake-up per line. Lines longer than PIPE_BUF go alone.
class DiagnosticBatch {
 public:
  DiagnosticBatch();
  ~DiagnosticBatch();
  DiagnosticBatch(const DiagnosticBatch&) = delete;
  DiagnosticBatch& operator=(const DiagnosticBatch&) = delete;
};

// Where the lines go instead of standard error (tests); an empty sink restores it. A sink gets
// each line as it is made, batch or not.
using DiagnosticSink = std::function<void(const std::string&)>;
void setSiblingDiagnosticSink(DiagnosticSink sink);

}  // namespace io
