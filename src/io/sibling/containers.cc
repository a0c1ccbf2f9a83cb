#include "io/sibling/containers.h"

#include <sys/mman.h>

#include "error/exception.h"

namespace io {

void OutstandingTable::bind(uint64_t offset, uint64_t size) {
  unmap();
  base_ = offset;
  n_ = size / 8;
  count_ = 0;
  void* p = ::mmap(nullptr, n_ * sizeof(int16_t), PROT_READ | PROT_WRITE,
                   MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (p == MAP_FAILED) error::throwErrno("Cannot map the table of outstanding messages");
  slots_ = static_cast<int16_t*>(p);
}

void OutstandingTable::unmap() {
  if (slots_ != nullptr) ::munmap(slots_, n_ * sizeof(int16_t));
  slots_ = nullptr;
  n_ = 0;
}

}  // namespace io
