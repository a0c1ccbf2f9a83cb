// The subcommands of vexlanctl. Each takes the arguments that follow its name, writes its
// result to `out` and its failures to `err`, and returns the process's exit status.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace vexlanctl {

using Args = std::vector<std::string>;

inline constexpr int kOk = 0;
inline constexpr int kFailed = 1;
inline constexpr int kUsage = 2;
// `status`: no server is running (the convention of service status tools).
inline constexpr int kNotRunning = 3;

int checkConfigCommand(const Args& args, std::ostream& out, std::ostream& err);
int regCommand(const Args& args, std::ostream& out, std::ostream& err);
int statusCommand(const Args& args, std::ostream& out, std::ostream& err);
int metricsCommand(const Args& args, std::ostream& out, std::ostream& err);
int logLevelCommand(const Args& args, std::ostream& out, std::ostream& err);
int eventCommand(const Args& args, std::ostream& out, std::ostream& err);
int berCommand(const Args& args, std::ostream& out, std::ostream& err);

// True for "-h" and "--help".
inline bool isHelp(const std::string& a) {
  return a == "-h" || a == "--help";
}

}  // namespace vexlanctl
