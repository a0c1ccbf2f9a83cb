// Where an installed server keeps its worker programs. They are looked up beside vexland
// first (a build tree, or a copy of the programs side by side), then here, then in PATH.
#pragma once

#include <cstdlib>
#include <string>

// The installation sets the real path when it builds the supervisor.
#ifndef VX_WORKER_LIBDIR
#define VX_WORKER_LIBDIR "/usr/lib/vexlan"
#endif

namespace supervisor {

// $VX_WORKER_DIR when set and not empty (a staged or relocated installation), else the
// directory the programs were installed to.
inline std::string workerDirectory() {
  const char* dir = std::getenv("VX_WORKER_DIR");
  return dir != nullptr && *dir != '\0' ? dir : VX_WORKER_LIBDIR;
}

}  // namespace supervisor
