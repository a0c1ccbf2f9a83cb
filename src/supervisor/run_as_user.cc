#include "supervisor/run_as_user.h"

#include <grp.h>
#include <linux/capability.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "error/exception.h"
#include "error/system_text.h"

namespace supervisor {

namespace {

struct Caps {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
};

Caps current() {
  Caps c;
  if (::syscall(SYS_capget, &c.header, c.data) != 0) error::throwErrno("Cannot read capabilities");
  return c;
}

bool has(const __user_cap_data_struct* d, int cap, __u32 __user_cap_data_struct::*set) {
  return (d[cap / 32].*set & (1u << (cap % 32))) != 0;
}

void add(__user_cap_data_struct* d, int cap) {
  d[cap / 32].permitted |= 1u << (cap % 32);
  d[cap / 32].effective |= 1u << (cap % 32);
  d[cap / 32].inheritable |= 1u << (cap % 32);
}

}  // namespace

std::vector<int> keptCapabilities() {
  return {CAP_NET_RAW, CAP_NET_BIND_SERVICE};
}

std::optional<TargetUser> userToRunAs(const std::string& name) {
  if (name.empty()) return std::nullopt;
  std::vector<char> buf(16384);
  passwd pw = {};
  passwd* found = nullptr;
  int err = ::getpwnam_r(name.c_str(), &pw, buf.data(), buf.size(), &found);
  if (found == nullptr) {
    throw error::EFatal("run_as_user \"" + name +
                        "\": " + (err == 0 ? std::string("no such user") : error::systemText(err)));
  }
  if (pw.pw_uid == ::geteuid()) return std::nullopt;  // already that user
  if (::geteuid() != 0) {
    throw error::EFatal("run_as_user \"" + name +
                        "\": only root can change to another user (this is uid " +
                        std::to_string(::geteuid()) + ")");
  }
  return TargetUser{name, pw.pw_uid, pw.pw_gid};
}

void handOver(const std::string& path, const TargetUser& user) {
  if (::lchown(path.c_str(), user.uid, user.gid) != 0 && errno != ENOENT) {
    error::throwErrno("Cannot give " + path + " to user " + user.name);
  }
}

void becomeUser(const TargetUser& user) {
  const Caps before = current();
  std::vector<int> keep;
  for (int cap : keptCapabilities()) {
    if (has(before.data, cap, &__user_cap_data_struct::permitted)) keep.push_back(cap);
  }
  // Nothing started from here on may regain the others (this needs CAP_SETPCAP, so root's).
  for (int cap = 0; cap <= 63; ++cap) {
    bool kept = false;
    for (int k : keep)
      kept = kept || k == cap;
    if (kept) continue;
    if (::prctl(PR_CAPBSET_DROP, cap, 0, 0, 0) != 0) {
      if (errno == EINVAL) break;  // beyond the capabilities this kernel knows
      error::throwErrno("Cannot drop capability " + std::to_string(cap));
    }
  }
  if (::prctl(PR_SET_KEEPCAPS, 1, 0, 0, 0) != 0) error::throwErrno("Cannot keep capabilities");
  const gid_t groups[] = {user.gid};
  if (::setgroups(1, groups) != 0) error::throwErrno("Cannot set the groups of " + user.name);
  if (::setresgid(user.gid, user.gid, user.gid) != 0) {
    error::throwErrno("Cannot change to the group of " + user.name);
  }
  if (::setresuid(user.uid, user.uid, user.uid) != 0) {
    error::throwErrno("Cannot change to user " + user.name);
  }
  Caps after;
  for (int cap : keep)
    add(after.data, cap);
  if (::syscall(SYS_capset, &after.header, after.data) != 0) {
    error::throwErrno("Cannot set the capabilities of user " + user.name);
  }
  for (int cap : keep) {
    if (::prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_RAISE, cap, 0, 0) != 0) {
      error::throwErrno("Cannot pass capability " + std::to_string(cap) + " to the workers");
    }
  }
  ::prctl(PR_SET_KEEPCAPS, 0, 0, 0, 0);
  // No way back: a process that could become root again has not dropped it.
  if (::setresuid(0, 0, 0) == 0) {
    throw error::EFatal("Still able to become root after changing to user " + user.name);
  }
}

}  // namespace supervisor
