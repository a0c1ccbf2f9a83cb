#include "io/sibling/diagnostics.h"

#include <unistd.h>

#include <cerrno>
#include <utility>

namespace io {

namespace {

DiagnosticSink& sink() {
  static DiagnosticSink s;
  return s;
}

}  // namespace

void siblingDiagnostic(const std::string& text) {
  if (sink()) return sink()(text);
  const std::string line = text + "\n";
  // Best effort: a diagnostic that cannot be written is not worth failing for.
  while (::write(STDERR_FILENO, line.data(), line.size()) < 0 && errno == EINTR) {
  }
}

void setSiblingDiagnosticSink(DiagnosticSink s) {
  sink() = std::move(s);
}

}  // namespace io
