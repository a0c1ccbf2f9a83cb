// A time-stamped text log that folds repeated lines and rotates by age. The supervisor's
// server log is one; every open LogFile is in one process-wide list (in opening order) that
// rotation and the age test walk. Single-threaded: only the main loop writes logs.
//
// Once open, logging never stops the process: a log that cannot be written or reopened (disk
// full, a read-only directory) is reported once through the failure reporter, lines are
// dropped while the fault lasts, and the file is opened again on the next write. Only the
// first open may be made to fail instead (openOrThrow), for a log the process cannot run
// without.
#pragma once

#include <ctime>
#include <functional>
#include <span>
#include <string>

namespace logging {

using Clock = std::function<time_t()>;
time_t systemClock();

class LogFile {
 public:
  explicit LogFile(Clock clock = systemClock);
  ~LogFile();  // releases the file without a closing line
  LogFile(const LogFile&) = delete;
  LogFile& operator=(const LogFile&) = delete;

  // Opens `path` for appending (creating it), takes the file's birth time as its age, joins
  // the list of open logs and writes the "Log initialized" line.
  void open(const std::string& path);
  // The same, except that a file that cannot be opened throws error::ESystemError with
  // "Cannot open log file 'PATH'" and the system's reason, and the log stays closed.
  void openOrThrow(const std::string& path);
  // One line, "<local time in asctime form>: message"; a message equal to the previous one
  // is only counted, and the count is written before the next different message.
  void write(const std::string& message);
  // Several lines with one time stamp, folded as above, in one write to the file: a worker's
  // burst of output costs one system call, not one per line.
  void write(std::span<const std::string> messages);
  // Writes "Closing log." and leaves the list of open logs.
  void close();

  bool isOpen() const { return listed_; }
  const std::string& path() const { return path_; }
  time_t created() const { return created_; }

  // The smallest creation time over all open logs; 2147483647 when none is open.
  static time_t oldest_created();
  // Shifts every open log to "<path>.1.txt" (older ones up to ".5.txt", the oldest deleted)
  // and starts it afresh.
  static void rotate_all();

  // Where failures of the logs themselves go; by default report_event and standard error.
  using Reporter = std::function<void(const std::string&)>;
  static void setReporter(Reporter reporter);

 private:
  void rotate();
  bool reopen();
  void start(const std::string& path);
  void opened();
  void writeRaw(const std::string& text);
  void failed(const std::string& what, int code);

  Clock clock_;
  std::string path_;
  std::string last_message_;
  int repeat_ = 0;
  int fd_ = -1;
  time_t created_ = 0;
  bool listed_ = false;
  bool faulty_ = false;  // a failure was reported and has not cleared since
};

// Reports `text` to the system log as an error of the daemon facility, ident "Vexlan".
void report_event(const std::string& text);

}  // namespace logging
