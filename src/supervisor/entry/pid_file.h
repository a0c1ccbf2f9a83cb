// The pid file's lock. A background daemon holds a write lock on its pid file for its whole
// life: an open-file-description lock (F_OFD_SETLK) that the launcher takes on the file it
// creates and hands to the daemon with the descriptor, and that goes with the daemon however
// it ends, a SIGKILL included. A pid file whose lock nobody holds is stale: the event it names
// may by now belong to another daemon, so the clients send nothing then.
//
// Only a write lock counts, and a write lock needs a descriptor open for writing: a user who
// can merely read the pid file cannot make a stale one look held.
#pragma once

namespace entry {

// Takes the write lock on the whole file open for writing at `fd`, without waiting; false when
// somebody else holds a lock on it.
bool lockPidFile(int fd);

// True when somebody holds a write lock on the file open at `fd` (opened for reading is
// enough). The caller's own locks do not count.
bool pidFileHeld(int fd);

}  // namespace entry
