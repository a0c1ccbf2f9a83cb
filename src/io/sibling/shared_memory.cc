#include "io/sibling/shared_memory.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "error/exception.h"

namespace io {

SharedMemory::SharedMemory(uint64_t size) : size_(size) {
  fd_ = ::memfd_create("vexlan-smem", MFD_CLOEXEC);
  if (fd_ < 0) error::throwErrno("Cannot create map for sibling messenger");
  if (::ftruncate(fd_, static_cast<off_t>(size)) != 0) {
    int e = errno;
    ::close(fd_);
    error::throwSystemError("Cannot create map for sibling messenger", e);
  }
  try {
    map(fd_, PROT_READ | PROT_WRITE);
  } catch (...) {
    ::close(fd_);
    throw;
  }
}

SharedMemory::SharedMemory(Attach, int fd, uint64_t size) : size_(size) {
  // A pool smaller than we were told would fault on access instead of failing here.
  struct stat st;
  if (::fstat(fd, &st) != 0) error::throwErrno("Cannot map view for sibling messenger");
  if (static_cast<uint64_t>(st.st_size) < size) {
    throw error::EFatal("Shared memory pool holds " + std::to_string(st.st_size) +
                        " bytes, less than the " + std::to_string(size) + " announced");
  }
  map(fd, PROT_READ);
  ::close(fd);
}

void SharedMemory::map(int fd, int prot) {
  void* p = ::mmap(nullptr, size_, prot, MAP_SHARED, fd, 0);
  if (p == MAP_FAILED) error::throwErrno("Cannot map view for sibling messenger");
  base_ = static_cast<uint8_t*>(p);
}

SharedMemory::~SharedMemory() {
  if (base_ != nullptr) ::munmap(base_, size_);
  if (fd_ >= 0) ::close(fd_);
}

void SharedMemory::prefault(uint64_t offset, uint64_t size, bool write) const {
  uint64_t page = static_cast<uint64_t>(::sysconf(_SC_PAGESIZE));
  uint64_t start = offset / page * page;
  uint64_t end = std::min(size_, (offset + size + page - 1) / page * page);
  if (start >= end) return;
  // Kernels before 5.14 refuse; the pages then come on first use as before.
  ::madvise(base_ + start, end - start, write ? MADV_POPULATE_WRITE : MADV_POPULATE_READ);
}

void SharedMemory::makeWritable(uint64_t offset, uint64_t size) {
  uint64_t page = static_cast<uint64_t>(::sysconf(_SC_PAGESIZE));
  uint64_t start = offset / page * page;
  uint64_t end = std::min(size_, (offset + size + page - 1) / page * page);
  if (start >= end) return;
  if (::mprotect(base_ + start, end - start, PROT_READ | PROT_WRITE) != 0) {
    error::throwErrno("Cannot make our area of the shared memory pool writable");
  }
}

uint32_t SharedMemory::magic() const {
  uint32_t m;
  std::memcpy(&m, base_, sizeof m);
  return m;
}

void SharedMemory::writeMagic() {
  std::memcpy(base_, &kPoolMagic, sizeof kPoolMagic);
}

}  // namespace io
