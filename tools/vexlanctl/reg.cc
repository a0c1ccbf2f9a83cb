// reg: the registry as the server sees it. Keys are backslash paths; "/" may stand for "\"
// so that paths need no quoting in a shell. Values are read and written through the same
// back end as the server's, so they appear to it exactly as set here.
#include <cerrno>
#include <memory>

#include "commands.h"
#include "config/sqlite_registry.h"
#include "config/variable_store.h"
#include "error/system_text.h"
#include "registry_file.h"
#include "wire/codec.h"

namespace vexlanctl {

namespace {

const char* const kHelp =
    "usage: vexlanctl reg [--user|--machine] list [KEY]\n"
    "       vexlanctl reg [--user|--machine] get KEY NAME\n"
    "       vexlanctl reg [--user|--machine] set KEY NAME VALUE\n"
    "       vexlanctl reg [--user|--machine] delete KEY NAME\n"
    "       vexlanctl reg [--user|--machine] --vars list | get NAME | set NAME VALUE | delete "
    "NAME\n"
    "The user root is the default; --machine edits the machine root. KEY is a path such as\n"
    "SOFTWARE/Vexlan/VXServer (\"/\" or \"\\\" between the parts). list without KEY lists the\n"
    "keys; with KEY it lists the values in order, NAME = \"text\". --vars works on the server\n"
    "variables (SOFTWARE\\Vexlan\\VXServer\\Variables). The server reads a value only when it\n"
    "starts; an empty value counts as no value.\n";

std::string keyPath(std::string key) {
  for (char& c : key)
    if (c == '/') c = '\\';
  while (!key.empty() && key.back() == '\\')
    key.pop_back();
  return key;
}

class Reg {
 public:
  Reg(config::RegistryRoot root, std::ostream& out, std::ostream& err)
      : file_(config::registryLocation(root)),
        registry_(file_, config::registrySkeleton(root)),
        out_(out),
        err_(err) {}

  int list() {
    RegistryFile db(file_);
    for (const std::string& k : db.keys())
      out_ << k << "\n";
    return kOk;
  }

  int list(const std::string& key) {
    std::vector<config::RegistryValue> values;
    if (!read(key, values)) return kFailed;
    for (const auto& v : values)
      out_ << v.name << " = " << wire::quoteString(v.data) << "\n";
    return kOk;
  }

  int get(const std::string& key, const std::string& name) {
    std::vector<config::RegistryValue> values;
    if (!read(key, values)) return kFailed;
    for (const auto& v : values) {
      if (v.name == name) {
        out_ << v.data << "\n";
        return kOk;
      }
    }
    err_ << "No value " << name << " in " << key << "\n";
    return kFailed;
  }

  int set(const std::string& key, const std::string& name, const std::string& value) {
    // Creates the missing keys along the path, each under its parent, as the server does.
    for (size_t at = key.find('\\'); at != std::string::npos;) {
      const size_t next = key.find('\\', at + 1);
      const std::string parent = key.substr(0, at);
      const std::string leaf = key.substr(at + 1, next == std::string::npos ? next : next - at - 1);
      if (!check(registry_.createKey(parent, leaf), "Cannot create " + parent + "\\" + leaf)) {
        return kFailed;
      }
      at = next;
    }
    std::string failed;
    int rc = registry_.writeValues(key, {{name, value}}, failed);
    return check(rc, "Cannot set " + name + " in " + key) ? kOk : kFailed;
  }

  int remove(const std::string& key, const std::string& name) {
    RegistryFile db(file_);
    if (db.deleteValue(key, name)) return kOk;
    err_ << "No value " << name << " in " << key << "\n";
    return kFailed;
  }

 private:
  bool read(const std::string& key, std::vector<config::RegistryValue>& values) {
    return check(registry_.readValues(key, values), "Cannot read " + key);
  }

  bool check(int rc, const std::string& what) {
    if (rc == 0) return true;
    err_ << what << " in registry " << file_ << ": " << error::systemText(rc) << "\n";
    return false;
  }

  std::string file_;
  config::SqliteRegistry registry_;
  std::ostream& out_;
  std::ostream& err_;
};

}  // namespace

int regCommand(const Args& args, std::ostream& out, std::ostream& err) {
  config::RegistryRoot root = config::RegistryRoot::User;
  bool vars = false;
  Args pos;
  for (const std::string& a : args) {
    if (isHelp(a)) {
      out << kHelp;
      return kOk;
    } else if (a == "--user" || a == "-u") {
      root = config::RegistryRoot::User;
    } else if (a == "--machine" || a == "-m") {
      root = config::RegistryRoot::Machine;
    } else if (a == "--vars") {
      vars = true;
    } else {
      pos.push_back(a);
    }
  }
  if (vars && !pos.empty()) pos.insert(pos.begin() + 1, config::kVariablesKey);
  const std::string op = pos.empty() ? "" : pos[0];
  const size_t n = pos.size();
  if (n > 1) pos[1] = keyPath(pos[1]);
  Reg reg(root, out, err);
  try {
    if (op == "list" && n == 1) return reg.list();
    if (op == "list" && n == 2) return reg.list(pos[1]);
    if (op == "get" && n == 3) return reg.get(pos[1], pos[2]);
    if (op == "set" && n == 4) return reg.set(pos[1], pos[2], pos[3]);
    if (op == "delete" && n == 3) return reg.remove(pos[1], pos[2]);
  } catch (const std::exception& e) {
    err << e.what() << "\n";
    return kFailed;
  }
  err << kHelp;
  return kUsage;
}

}  // namespace vexlanctl
