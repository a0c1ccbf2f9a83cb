#include "supervisor/entry/pid_file.h"

#include <fcntl.h>

#include <cerrno>

namespace entry {

namespace {

struct flock wholeFile(short type) {
  struct flock lock = {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  lock.l_start = 0;
  lock.l_len = 0;  // to the end, however the file grows
  return lock;
}

}  // namespace

bool lockPidFile(int fd) {
  struct flock lock = wholeFile(F_WRLCK);
  int r;
  do {
    r = ::fcntl(fd, F_OFD_SETLK, &lock);
  } while (r != 0 && errno == EINTR);
  return r == 0;
}

bool pidFileHeld(int fd) {
  // A read lock conflicts only with write locks, so readers' locks are not mistaken for the
  // daemon's.
  struct flock lock = wholeFile(F_RDLCK);
  if (::fcntl(fd, F_OFD_GETLK, &lock) != 0) return false;
  return lock.l_type != F_UNLCK;
}

}  // namespace entry
