#include "io/sibling/messenger_parent.h"

#include <fcntl.h>
#include <unistd.h>

#include "error/assert.h"
#include "error/exception.h"

namespace io {

namespace {

uint64_t checkedMapSize(uint64_t mapsize, uint64_t page) {
  if (mapsize < 2 * page || mapsize > 0xfffffff8u || mapsize % 8 != 0) {
    throw error::EFatal("Shared memory pool size " + std::to_string(mapsize) +
                        " must be a multiple of 8 from two pages up to 4 GiB");
  }
  return mapsize;
}

}  // namespace

SiblingMessengerParent::SiblingMessengerParent(const std::string& prefix_name, uint64_t mapsize)
    : fifoprefix_(dir_.path() + "/" + prefix_name),
      page_size_(static_cast<uint64_t>(::sysconf(_SC_PAGESIZE))),
      mapsize_(checkedMapSize(mapsize, page_size_)),
      min_offset_(page_size_),
      pool_(mapsize_) {
  pool_.writeMagic();
}

SiblingMessengerParent::~SiblingMessengerParent() {
  if (inheritable_fd_ >= 0) ::close(inheritable_fd_);
}

void SiblingMessengerParent::pass(Variables& variables, const std::string& prefix,
                                  std::vector<int>& inherit) {
  // One inheritable copy serves every child: a copy per child would have to be closed after
  // each start, and the pool's own descriptor stays close-on-exec.
  if (inheritable_fd_ < 0) {
    inheritable_fd_ = ::fcntl(pool_.fd(), F_DUPFD, 3);
    if (inheritable_fd_ < 0) error::throwErrno("SiblingMessengerParent cannot duplicate handle");
  }
  variables[prefix + "::mapfile"] = std::to_string(inheritable_fd_);
  variables[prefix + "::mapsize"] = std::to_string(mapsize_);
  variables[prefix + "::fifoprefix"] = fifoprefix_;
  inherit.push_back(inheritable_fd_);
}

uint64_t SiblingMessengerParent::markAreaUsed(int32_t id, uint64_t size) {
  for (Area& a : areas_) {
    if (a.id != id) continue;
    VX_ASSERT(!a.used, "Found shared memory area for sibling ", id, " at offset ", a.offset,
              " of size ", a.size, " but it is already in use.");
    a.used = true;
    return a.offset;
  }
  uint64_t start = min_offset_;
  uint64_t end = start + size;
  while (end <= mapsize_) {
    auto it = areas_.begin();
    while (it != areas_.end() && it->offset < start)
      ++it;
    if (it == areas_.end() || it->offset >= end) {
      areas_.insert(it, Area{start, id, size, true});
      return start;
    }
    start = it->offset + it->size;
    end = start + size;
  }
  throw error::EFatal("No room for write area for ID " + std::to_string(id));
}

void SiblingMessengerParent::markAreaUnused(int32_t id) {
  for (Area& a : areas_) {
    if (a.id != id) continue;
    VX_ASSERT(a.used, "About to mark shared memory area for sibling ", id, " at offset ", a.offset,
              " of size ", a.size, " as unused, but it was not marked as used in the first place");
    a.used = false;
    return;
  }
  VX_ASSERT(false, "About to mark shared memory area for sibling ", id,
            " as unused, but it has none");
}

const SiblingMessengerParent::Area* SiblingMessengerParent::findArea(int32_t id) const {
  for (const Area& a : areas_) {
    if (a.id == id) return &a;
  }
  return nullptr;
}

}  // namespace io
