// The pool every process of the system maps: an anonymous shared memory file (memfd) the
// supervisor creates and its children inherit. The first 4 bytes hold the magic; write areas
// start at the page size.
#pragma once

#include <cstdint>

namespace io {

constexpr uint32_t kPoolMagic = 0x71178228;

class SharedMemory {
 public:
  // Creates and maps a new pool of `size` bytes (contents zero). Failures raise ESystemError
  // "Cannot create map for sibling messenger" / "Cannot map view for sibling messenger".
  explicit SharedMemory(uint64_t size);
  struct Attach {};
  // Maps an inherited pool descriptor read-only; the descriptor is closed once mapped (the
  // mapping keeps the pool alive). A child writes only to its own area (makeWritable), so a
  // stray write into another process's area faults in the child instead of corrupting it.
  SharedMemory(Attach, int fd, uint64_t size);
  ~SharedMemory();
  SharedMemory(const SharedMemory&) = delete;
  SharedMemory& operator=(const SharedMemory&) = delete;

  uint8_t* base() const { return base_; }
  uint64_t size() const { return size_; }
  // The pool's descriptor (close-on-exec), -1 in a process that attached.
  int fd() const { return fd_; }

  // Backs and maps a range now (best effort), so that messages never wait for page faults:
  // `write` for our own area, read for the areas we read messages from.
  void prefault(uint64_t offset, uint64_t size, bool write) const;
  // Makes [offset, offset + size) writable in this mapping (whole pages: an area that does not
  // start and end on page boundaries takes the pages it touches).
  void makeWritable(uint64_t offset, uint64_t size);

  uint32_t magic() const;
  void writeMagic();

 private:
  void map(int fd, int prot);
  uint8_t* base_ = nullptr;
  uint64_t size_;
  int fd_ = -1;
};

}  // namespace io
