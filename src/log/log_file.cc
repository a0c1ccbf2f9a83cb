#include "log/log_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <vector>

#include "error/exception.h"
#include "error/system_text.h"
#include "log/version.h"
#include "util/text.h"

namespace logging {

namespace {

// Never destroyed: a LogFile with static storage (the server log) may leave the list during
// exit, after a list with static storage of its own would already be gone.
std::vector<LogFile*>& openLogs() {
  static auto* logs = new std::vector<LogFile*>;
  return *logs;
}

void defaultReport(const std::string& text) {
  report_event(text);
  std::fprintf(stderr, "%s\n", text.c_str());
}

LogFile::Reporter& reporter() {
  static LogFile::Reporter r = defaultReport;
  return r;
}

std::string rotatedName(const std::string& path, int n) {
  return path + "." + std::to_string(n) + ".txt";
}

}  // namespace

time_t systemClock() {
  return std::time(nullptr);
}

void report_event(const std::string& text) {
  openlog("Vexlan", LOG_PID, LOG_DAEMON);
  syslog(LOG_ERR, "%s", text.c_str());
  closelog();
}

void LogFile::setReporter(Reporter r) {
  reporter() = r ? std::move(r) : Reporter(defaultReport);
}

LogFile::LogFile(Clock clock) : clock_(std::move(clock)) {}

LogFile::~LogFile() {
  if (fd_ >= 0) ::close(fd_);
  auto& logs = openLogs();
  logs.erase(std::remove(logs.begin(), logs.end(), this), logs.end());
}

void LogFile::failed(const std::string& what, int code) {
  if (faulty_) return;
  faulty_ = true;
  reporter()(what + " '" + path_ + "': " + error::systemText(code));
}

bool LogFile::reopen() {
  if (fd_ >= 0) return true;
  fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0640);
  if (fd_ < 0) {
    failed("Cannot open log file", errno);
    return false;
  }
  return true;
}

void LogFile::writeRaw(const std::string& text) {
  if (!reopen()) return;
  // One write call per line or group of lines, so readers never see a line cut by another
  // writer; a short write only continues what is left of the same text.
  std::size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::write(fd_, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      failed("Cannot write log file", n < 0 ? errno : ENOSPC);
      return;
    }
    done += static_cast<std::size_t>(n);
  }
  faulty_ = false;
}

void LogFile::start(const std::string& path) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  faulty_ = false;
  path_ = path;
  last_message_.clear();
  repeat_ = 0;
  created_ = clock_();
}

void LogFile::open(const std::string& path) {
  start(path);
  opened();
}

void LogFile::openOrThrow(const std::string& path) {
  start(path);
  fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0640);
  if (fd_ < 0) throw error::ESystemError("Cannot open log file '" + path_ + "'", errno);
  opened();
}

// Takes the age of the file (when there is one), joins the list of open logs and writes the
// first line.
void LogFile::opened() {
  if (reopen()) {
    struct statx stx;
    if (::statx(fd_, "", AT_EMPTY_PATH, STATX_BTIME, &stx) != 0) {
      writeRaw("No file information on log file\n");
    } else if (!(stx.stx_mask & STATX_BTIME) || stx.stx_btime.tv_sec == 0) {
      writeRaw("No creation time of log file\n");
    } else if (stx.stx_btime.tv_sec > 0 && stx.stx_btime.tv_sec <= 0xffffffffLL) {
      created_ = static_cast<time_t>(stx.stx_btime.tv_sec);
    }
  }
  if (!listed_) openLogs().push_back(this);
  listed_ = true;
  write(std::string(kVersionBanner) + " Log initialized");
}

void LogFile::write(const std::string& message) {
  write(std::span<const std::string>(&message, 1));
}

void LogFile::write(std::span<const std::string> messages) {
  std::string text;
  std::string stamp;
  for (const std::string& message : messages) {
    if (message == last_message_ && repeat_ > 0) {
      ++repeat_;
      continue;
    }
    if (stamp.empty()) {
      const time_t now = clock_();
      stamp = util::calendarText(now, "%a %b %e %H:%M:%S %Y", true);
      // A time the C library cannot convert still leaves a usable line.
      if (stamp == "invalid time") stamp = std::to_string(static_cast<long long>(now));
    }
    if (repeat_ > 1) text += stamp + ": Last message repeated " + util::dec(repeat_) + " times\n";
    text += stamp + ": " + message + "\n";
    repeat_ = 1;
    last_message_ = message;
  }
  if (!text.empty()) writeRaw(text);
}

void LogFile::close() {
  if (!listed_) return;
  write("Closing log.");
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  listed_ = false;
  auto& logs = openLogs();
  logs.erase(std::remove(logs.begin(), logs.end(), this), logs.end());
}

time_t LogFile::oldest_created() {
  time_t oldest = 2147483647;
  for (const LogFile* log : openLogs())
    oldest = std::min(oldest, log->created_);
  return oldest;
}

void LogFile::rotate() {
  write(std::string(kVersionBanner) + " Flushing log...");
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  std::remove(rotatedName(path_, 5).c_str());
  for (int n = 5; n >= 2; --n) {
    std::rename(rotatedName(path_, n - 1).c_str(), rotatedName(path_, n).c_str());
  }
  std::string error;
  if (std::rename(path_.c_str(), rotatedName(path_, 1).c_str()) != 0) {
    error = "Rename failed with error: " + error::systemText(errno);
  }
  // A log that cannot be opened again stays quiet until a later write manages to; it counts
  // as new all the same, so a lasting fault does not rotate again on every loop.
  faulty_ = false;
  reopen();
  created_ = clock_();
  write(std::string(kVersionBanner) + " Log re-opened.");
  if (!error.empty()) write("Error rotating logs: " + error);
}

void LogFile::rotate_all() {
  // Copy: a reporter is free to open or close logs.
  std::vector<LogFile*> logs = openLogs();
  for (LogFile* log : logs)
    log->rotate();
}

}  // namespace logging
