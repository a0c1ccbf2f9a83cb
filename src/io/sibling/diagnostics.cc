#include "io/sibling/diagnostics.h"

#include <limits.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace io {

namespace {

DiagnosticSink& sink() {
  static DiagnosticSink s;
  return s;
}

// Per thread: a batch belongs to the loop that opened it.
thread_local int t_depth = 0;
thread_local std::string t_pending;

void writeOut(const std::string& bytes) {
  // Best effort: a diagnostic that cannot be written is not worth failing for.
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(STDERR_FILENO, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

void flushPending() {
  if (t_pending.empty()) return;
  std::string out;
  out.swap(t_pending);
  writeOut(out);
}

}  // namespace

void siblingDiagnostic(const std::string& text) {
  if (sink()) return sink()(text);
  std::string line = text + "\n";
  if (t_depth == 0 || line.size() > PIPE_BUF) {
    flushPending();
    return writeOut(line);
  }
  if (t_pending.size() + line.size() > PIPE_BUF) flushPending();
  t_pending += line;
}

DiagnosticBatch::DiagnosticBatch() {
  ++t_depth;
}

DiagnosticBatch::~DiagnosticBatch() {
  if (--t_depth == 0) flushPending();
}

void setSiblingDiagnosticSink(DiagnosticSink s) {
  sink() = std::move(s);
}

}  // namespace io
