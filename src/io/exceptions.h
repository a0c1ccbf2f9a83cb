// Run-time conditions raised by the reactor and its streams.
#pragma once

#include <string>

#include "error/exception.h"

namespace io {

// A non-blocking wait found nothing to serve.
class ENotReady : public error::Exception {
 public:
  explicit ENotReady(const std::string& name) : Exception("Selectable " + name + " not ready") {}
};

// The stream has ended; nothing more will arrive.
class EEndOfStream : public error::Exception {
 public:
  explicit EEndOfStream(const std::string& name, const std::string& reason = "")
      : Exception("EOS from " + name + (reason.empty() ? "" : " (" + reason + ")")) {}
};

// No channel to the peer exists (yet).
class ENoConnection : public error::Exception {
 public:
  using Exception::Exception;
};

// A child process ended other than by exiting normally.
class EAbnormalTermination : public error::Exception {
 public:
  using Exception::Exception;
};

// A wait on a child process was interrupted.
class EProcessInterrupted : public error::Exception {
 public:
  using Exception::Exception;
};

}  // namespace io
