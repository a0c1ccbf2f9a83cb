#include "supervisor/status_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "error/system_text.h"
#include "io/runtime_dir.h"
#include "log/version.h"
#include "supervisor/entry/entry.h"

namespace supervisor {

namespace {

std::string quoted(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20 || c == 0x7f) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

std::string seconds(TimeValue t) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%d.%06d", t.sec, t.usec);
  return buf;
}

}  // namespace

std::string statusJson(const ServerStatus& s) {
  std::string j = "{\n";
  j += "  \"version\": " + quoted(logging::kVersionBanner) + ",\n";
  j += "  \"state\": " + quoted(s.state) + ",\n";
  j += "  \"pid\": " + std::to_string(s.pid) + ",\n";
  j += "  \"started\": " + seconds(s.started) + ",\n";
  j += "  \"updated\": " + seconds(s.updated) + ",\n";
  j += "  \"workers\": [";
  for (size_t i = 0; i < s.workers.size(); ++i) {
    const WorkerStatus& w = s.workers[i];
    j += i == 0 ? "\n" : ",\n";
    j += "    {\"sname\": " + quoted(w.sname) + ", \"queue\": " + std::to_string(w.queue) +
         ", \"exe\": " + quoted(w.exe) + ", \"state\": " + quoted(w.state) +
         ", \"pid\": " + std::to_string(w.pid) + ", \"started\": " + seconds(w.started) +
         ", \"depend_on\": [";
    bool first = true;
    for (queues::queue_t q : w.depend_on) {
      j += (first ? "" : ", ") + std::to_string(q);
      first = false;
    }
    j += "]}";
  }
  j += s.workers.empty() ? "],\n" : "\n  ],\n";
  j += "  \"demand_load_idle\": [";
  for (size_t i = 0; i < s.idle.size(); ++i) {
    const IdleWorker& w = s.idle[i];
    j += i == 0 ? "\n" : ",\n";
    j += "    {\"sname\": " + quoted(w.sname) + ", \"queue\": " + std::to_string(w.queue) +
         ", \"exe\": " + quoted(w.exe) + "}";
  }
  j += s.idle.empty() ? "]\n" : "\n  ]\n";
  return j + "}\n";
}

std::string statusFileName(std::optional<unsigned> event_number, bool service, pid_t pid) {
  if (event_number) return "status-sht" + std::to_string(*event_number) + ".json";
  if (service) return kServiceStatusName;
  return "status-pid" + std::to_string(pid) + ".json";
}

std::string statusFilePath() {
  if (const char* f = std::getenv("VX_STATUS_FILE"); f != nullptr && *f != '\0') return f;
  return io::runtimeDirectory() + "/" +
         statusFileName(entry::eventNumber(), entry::runMode() == entry::RunMode::Service,
                        ::getpid());
}

std::string StatusFile::write(const ServerStatus& status) {
  const std::string text = statusJson(status);
  // A unique name beside the target: nobody else can have prepared it, and the rename keeps
  // it on the same file system.
  std::string tmp = path_ + ".XXXXXX";
  int fd = ::mkostemp(tmp.data(), O_CLOEXEC);
  if (fd < 0) return "Cannot create " + tmp + ": " + error::systemText(errno);
  ::fchmod(fd, 0644);
  size_t done = 0;
  int err = 0;
  while (done < text.size()) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      err = n < 0 ? errno : ENOSPC;
      break;
    }
    done += static_cast<size_t>(n);
  }
  ::close(fd);
  if (err == 0 && ::rename(tmp.c_str(), path_.c_str()) != 0) err = errno;
  if (err != 0) {
    ::unlink(tmp.c_str());
    return "Cannot write " + path_ + ": " + error::systemText(err);
  }
  return "";
}

}  // namespace supervisor
