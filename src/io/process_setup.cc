// What a child is given, computed before it exists: environment, arguments and the paths
// tried for its program.
#include <cstring>

#include "error/exception.h"
#include "io/process.h"

extern char** environ;

namespace io {

namespace {

void checkVariable(const std::string& name, const std::string& value) {
  bool bad_name = name.empty() || name.find_first_of(std::string("=\0", 2)) != std::string::npos;
  if (bad_name || value.find('\0') != std::string::npos) {
    throw error::Exception("Invalid environment variable: " + name);
  }
}

bool endsWithExe(const std::string& s) {
  return s.size() > 4 && s.compare(s.size() - 4, 4, ".exe") == 0;
}

}  // namespace

Variables childEnvironment(const ProcessSpec& spec, std::vector<int>& inherit) {
  Variables vars;
  for (char** e = environ; e != nullptr && *e != nullptr; ++e) {
    const char* eq = std::strchr(*e, '=');
    if (eq == nullptr || eq == *e) continue;  // no name: nothing a child could look up
    vars[std::string(*e, static_cast<size_t>(eq - *e))] = eq + 1;
  }
  for (const auto& [name, value] : spec.variables)
    vars[name] = value;
  for (const auto& [prefix, passable] : spec.passables)
    passable->pass(vars, prefix, inherit);
  for (const auto& [name, value] : vars)
    checkVariable(name, value);
  return vars;
}

std::vector<std::string> childArguments(const ProcessSpec& spec) {
  std::vector<std::string> argv{spec.program};
  for (const std::string& arg : spec.arguments) {
    size_t i = 0;
    while (i < arg.size()) {
      size_t start = arg.find_first_not_of(" \t", i);
      if (start == std::string::npos) break;
      size_t stop = arg.find_first_of(" \t", start);
      if (stop == std::string::npos) stop = arg.size();
      argv.push_back(arg.substr(start, stop - start));
      i = stop;
    }
  }
  return argv;
}

std::vector<std::string> programCandidates(const std::string& program, const std::string& own_dir,
                                           const std::string& path) {
  std::vector<std::string> names;
  if (endsWithExe(program)) names.push_back(program.substr(0, program.size() - 4));
  names.push_back(program);

  std::vector<std::string> out;
  auto addIn = [&](const std::string& dir) {
    for (const std::string& name : names) {
      std::string candidate = dir.empty() ? name : dir + (dir.back() == '/' ? "" : "/") + name;
      bool seen = false;
      for (const std::string& c : out)
        seen = seen || c == candidate;
      if (!seen) out.push_back(candidate);
    }
  };

  if (program.find('/') != std::string::npos) {
    if (program[0] != '/' && !own_dir.empty()) addIn(own_dir);
    addIn("");
    return out;
  }
  if (!own_dir.empty()) addIn(own_dir);
  size_t i = 0;
  while (i <= path.size()) {
    size_t stop = path.find(':', i);
    if (stop == std::string::npos) stop = path.size();
    // An empty entry would mean the current directory: never searched implicitly.
    if (stop > i) addIn(path.substr(i, stop - i));
    i = stop + 1;
  }
  return out;
}

}  // namespace io
