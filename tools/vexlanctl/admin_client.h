// The client side of the server's admin channel (supervisor/admin_protocol.h), and how a
// command finds the server it talks to: through its status file, which names the channel's
// socket.
#pragma once

#include <chrono>
#include <optional>
#include <ostream>
#include <string>

#include "error/exception.h"
#include "supervisor/admin_protocol.h"

namespace vexlanctl {

// The channel cannot be used: no socket, nobody listening, no permission, no answer in time.
// Status then falls back to the status file.
class EChannelUnavailable : public error::Exception {
 public:
  using Exception::Exception;
};

// The server answered the request with an error.
class EServerRefused : public error::Exception {
 public:
  using Exception::Exception;
};

// One request on a fresh connection to `socket`; the reply's body, every wait bounded by
// `timeout`. A malformed reply raises error::EParseError.
std::string askServer(const std::string& socket, const supervisor::admin::Request& request,
                      std::chrono::milliseconds timeout);

// Which server a command means: -p PID_FILE, -s STATUS_FILE, or neither (see `status --help`).
struct ServerChoice {
  std::string pid_file;
  std::string status_file;
  std::string socket;  // --socket: the channel's socket outright
  // Takes "-p X", "-s X", "--socket X" from args[i] on; false when args[i] is none of them.
  bool take(const std::vector<std::string>& args, size_t& i);
};

// The status file of the server chosen: its path, or none after a message on `out` saying
// that no server runs (then the exit status is kNotRunning); error::Exception on failure.
std::optional<std::string> findStatusFile(const ServerChoice& choice, std::ostream& out);

// The status file's text: read without blocking, only as a regular file of a sane size.
std::string readStatusFile(const std::string& path);

// The admin socket the status file `text` names; "" when it names none.
std::string adminSocketOf(const std::string& text);

// The socket of the server chosen (for metrics and log-level): --socket, else the one its
// status file names. None after a message on `out` when no server runs; EChannelUnavailable
// when the server runs without a channel.
std::optional<std::string> findAdminSocket(const ServerChoice& choice, std::ostream& out);

}  // namespace vexlanctl
