// A child program started with a prepared environment, working directory, priority and
// standard descriptors. The Process is a selectable whose handle is a pidfd: a selector
// returns it exactly when the child has ended.
#pragma once

#include <sys/types.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "io/passable.h"
#include "io/pipe_stream.h"
#include "io/selectable.h"

namespace io {

// What a standard descriptor of the child is.
enum class StdMode {
  Pipe = 0,     // a pipe whose other end this process keeps in the Process's stream
  Null = 1,     // /dev/null
  Inherit = 2,  // this process's own descriptor
};

struct ProcessSpec {
  // Looked up in this program's own directory, then in program_dir, then in PATH; see
  // programCandidates.
  std::string program;
  std::string program_dir;
  // Each argument is split at spaces and tabs into the child's arguments.
  std::vector<std::string> arguments;
  // Directory the child starts in; empty keeps this process's.
  std::string working_directory;
  // Set over the inherited environment.
  Variables variables;
  // Objects that add their own variables and descriptors, asked in prefix order.
  std::map<std::string, Passable*> passables;
  StdMode stdin_mode = StdMode::Pipe;
  StdMode stdout_mode = StdMode::Pipe;
  StdMode stderr_mode = StdMode::Pipe;
  // The child's standard error is its standard output (stderr_mode is then ignored).
  bool stderr_to_stdout = false;
  // 0 high (nice 5 below ours), 1 ours, 2 below normal (nice 5 above ours).
  int priority = 1;
  // The kernel kills the child when the thread that started it ends. Only a child that must
  // outlive this process (a daemon's background child) turns this off.
  bool die_with_parent = true;
  // The child leads a process group of its own, so a terminal's Ctrl+C reaches only us.
  bool own_process_group = true;
};

class Process : public virtual Selectable {
 public:
  // Starts the child. A program found nowhere raises EFileNotFoundError "File not found: " +
  // program; a program that cannot be run raises ESystemError "Unable to execute: " +
  // program; a working directory that cannot be entered raises "Unable to change to
  // directory: " + path. A child that fails to start is reaped before the exception leaves.
  explicit Process(const ProcessSpec& spec);
  // Reaps a child that has ended; one still running keeps running.
  ~Process() override;

  std::string describe() const override { return "Process[" + name_ + "]"; }
  int handle() const override { return pidfd_; }
  bool isReady() const override { return false; }

  pid_t pid() const { return pid_; }
  const std::string& name() const { return name_; }

  // The exit status of an ended child, or 128 + N for a child ended by signal N. Raises
  // ENotReady while the child runs.
  int exitCode();
  // The signal that ended the child, 0 if it exited (valid once exitCode has answered).
  int terminatingSignal() const { return term_signal_; }
  // Sends SIGKILL; a child that has already ended is left alone silently.
  void kill();
  // True when the child asked for high priority and the system refused it: the child then
  // runs at our own priority. The caller reports it.
  bool priorityRefused() const { return priority_refused_; }

  // The parent's ends of the child's standard descriptors; unopened unless the mode is Pipe.
  PipeOStream& stdIn() { return stdin_; }
  PipeIStream& stdOut() { return stdout_; }
  PipeIStream& stdErr() { return stderr_; }

 private:
  void start(const ProcessSpec& spec);

  std::string name_;
  pid_t pid_ = -1;
  int pidfd_ = -1;
  std::optional<int> exit_code_;
  int term_signal_ = 0;
  bool priority_refused_ = false;
  PipeOStream stdin_;
  PipeIStream stdout_;
  PipeIStream stderr_;
};

// The pieces of a start that need no new process, exposed for tests.

// The child's environment: ours (entries without a name dropped), then spec.variables over
// it, then each passable in prefix order; appends the passables' descriptors to `inherit`.
// A name that is empty or holds '=' or a NUL, or a value holding a NUL, raises
// error::Exception "Invalid environment variable: " + name.
Variables childEnvironment(const ProcessSpec& spec, std::vector<int>& inherit);

// The child's argument vector: the program as written, then the arguments split at spaces
// and tabs, empty pieces dropped.
std::vector<std::string> childArguments(const ProcessSpec& spec);

// Paths tried in order to run `program`: for a name without '/', each directory of
// own_dir followed by the entries of `path` (empty entries skipped); a name with '/' is tried
// under own_dir when relative, then as written. In each place a name ending in ".exe" is
// tried first without that suffix.
std::vector<std::string> programCandidates(const std::string& program, const std::string& own_dir,
                                           const std::string& path);

}  // namespace io
