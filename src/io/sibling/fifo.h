// The FIFOs that carry control messages. Every sibling reads one FIFO of its own, published as
// the file fifoprefix + "." + id in a private directory; every other sibling that talks to it
// holds it open for writing. Writers write whole 8-byte messages in writes of at most PIPE_BUF
// bytes, which the kernel keeps atomic, so messages of several writers never interleave.
//
// A FIFO with a name can be opened by any process of the user, so the sender id in a message
// read from it is only a claim. Where the sender must be known (the supervisor's input), each
// child writes instead to a channel of its own: a pipe whose writing end only that child
// inherits.
#pragma once

#include <sys/types.h>

#include <climits>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "io/os_selector.h"
#include "io/selectable.h"

namespace io {

// Most bytes one write(2) carries: writes up to PIPE_BUF are all-or-nothing.
constexpr size_t kFifoBatchBytes = PIPE_BUF;
constexpr size_t kFifoBatchMessages = kFifoBatchBytes / 8;

// A private directory "vexlan.XXXXXX" (mode 0700) in the runtime directory (io/runtime_dir.h),
// removed with everything in it when the object dies. Two servers never collide and no other
// user can open their FIFOs.
//
// The object holds a lock on its directory (flock) for its whole life, and the lock goes with
// the process however it ends. Creating a new one first removes every "vexlan.*" directory of
// the runtime directory whose lock nobody holds: what killed or crashed servers left behind.
// Creation and that sweep both hold the runtime directory's "fifo.lock", so a directory is
// never swept between its creation and its lock.
class FifoDirectory {
 public:
  // In io::runtimeDirectory(); its failures (and a failure to create) raise error::Exception.
  FifoDirectory();
  explicit FifoDirectory(const std::string& base);
  ~FifoDirectory();
  FifoDirectory(const FifoDirectory&) = delete;
  FifoDirectory& operator=(const FifoDirectory&) = delete;
  const std::string& path() const { return path_; }
  // How many directories of gone servers this one's creation removed.
  size_t swept() const { return swept_; }

 private:
  std::string path_;
  int lock_fd_ = -1;
  size_t swept_ = 0;
};

// Path of the FIFO of one sibling.
std::string fifoPath(const std::string& fifoprefix, int32_t id);

// What one read(2) brought and the reader has not consumed yet, in a buffer kept for good.
class ReadBuffer {
 public:
  static constexpr size_t kBytes = 64 * 1024;

  ReadBuffer() : buf_(new uint8_t[kBytes]) {}
  const uint8_t* data() const { return buf_.get() + pos_; }
  size_t size() const { return end_ - pos_; }
  void consume(size_t n) {
    pos_ += n;
    if (pos_ >= end_) pos_ = end_ = 0;
  }
  // One read(2) from `fd` into the emptied buffer: the byte count, 0 at end of file, or -1
  // with errno set.
  ssize_t readFrom(int fd);

 private:
  std::unique_ptr<uint8_t[]> buf_;
  size_t pos_ = 0;
  size_t end_ = 0;
};

// Reads a sibling's own FIFO. It is opened read-write, so it never sees end of file, whoever
// comes and goes on the writing side. Reads never block, except in readBlocking, which a
// selector calls when this FIFO is all it waits for. The kernel buffer is enlarged where
// allowed so that bursts of notices from several writers fit.
class FifoReader : public virtual Selectable, public BlockingReadable {
 public:
  // Creates the FIFO at `path` (removing a stale one) and opens it. Failure raises
  // ESystemError "Cannot create anonymous pipe".
  explicit FifoReader(std::string path);
  ~FifoReader() override;

  // Removes the FIFO's name: nobody can open it any more, what is open stays open.
  void unpublish();

  std::string describe() const override { return "InputSignalReader(" + path_ + ")"; }
  bool isReady() const override { return buffer_.size() != 0 || error_ != 0 || kick_; }
  void prepareWait() override;
  int ioDescriptor() const override { return fd_; }
  uint32_t ioInterest() const override;
  void ioReady(uint32_t events) override;

  // Called before each wait (the owner flushes what it has batched).
  void setBeforeWait(void (*fn)(void*), void* arg) {
    before_wait_ = fn;
    before_wait_arg_ = arg;
  }
  // Makes the reader ready for one pass, so that the selector starts a new pass at once (and
  // arms descriptors that were added while it prepared the wait).
  void kick() { kick_ = true; }
  void clearKick() { kick_ = false; }

  // Bytes read and not yet consumed.
  const uint8_t* data() const { return buffer_.data(); }
  size_t size() const { return buffer_.size(); }
  void consume(size_t n) { buffer_.consume(n); }
  // Reads what the FIFO holds now, if everything read before has been consumed.
  void readNow();
  // Like readNow, but sleeps until the FIFO has something.
  void readBlocking() override;
  bool readAvailable() override {
    readNow();
    return isReady();
  }
  // An error recorded by the last read (errno), 0 if none.
  int error() const { return error_; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  int fd_ = -1;
  int blocking_fd_ = -1;  // the same FIFO, opened without O_NONBLOCK
  ReadBuffer buffer_;
  int error_ = 0;
  bool kick_ = false;
  void (*before_wait_)(void*) = nullptr;
  void* before_wait_arg_ = nullptr;
};

// The reading end of one child's channel, in the parent: whatever arrives on it was written by
// that child (or by a process it handed the descriptor to, which is its own doing).
class ChannelReader : public virtual Selectable {
 public:
  // Takes over `fd`, the reading end of a pipe, for the child of id `owner`.
  ChannelReader(int32_t owner, int fd);
  ~ChannelReader() override;
  ChannelReader(const ChannelReader&) = delete;
  ChannelReader& operator=(const ChannelReader&) = delete;

  std::string describe() const override { return "ChannelReader[" + std::to_string(owner_) + "]"; }
  bool isReady() const override { return buffer_.size() != 0 || ended_; }
  int ioDescriptor() const override { return fd_; }
  uint32_t ioInterest() const override;
  void ioReady(uint32_t events) override;

  int32_t owner() const { return owner_; }
  const uint8_t* data() const { return buffer_.data(); }
  size_t size() const { return buffer_.size(); }
  void consume(size_t n) { buffer_.consume(n); }
  // Reads what the pipe holds now, if everything read before has been consumed.
  void readNow();
  // Every writer has closed it (the child has ended) or it failed: nothing more will come.
  bool ended() const { return ended_ && buffer_.size() == 0; }

 private:
  int32_t owner_;
  int fd_;
  ReadBuffer buffer_;
  bool ended_ = false;
};

// The writing end of a peer's FIFO. It is watched (an underlying selectable of the messenger)
// only while a write found the FIFO full; it becomes ready when the kernel reports room again.
class FifoWriter : public virtual Selectable {
 public:
  enum class Result { Done, Full, Broken };

  explicit FifoWriter(int32_t peer) : peer_(peer) {}
  ~FifoWriter() override;

  // Opens the FIFO at `path` for writing without blocking. ENXIO (nobody reads it) and every
  // other failure raise ESystemError with `context`.
  void open(const std::string& path, const std::string& context);
  // Takes over `fd`, an inherited writing end (a channel to the parent), made non-blocking.
  void adopt(int fd, const std::string& context);
  void close();
  bool isOpen() const { return fd_ >= 0; }

  // Writes whole messages, at most kFifoBatchBytes. Full: nothing was written, the FIFO has no
  // room (the writer now waits for room); Broken: the reader is gone (brokenBy() tells why).
  Result write(const uint8_t* bytes, size_t n);
  // The error (errno) of the write that broke, 0 before one did.
  int brokenBy() const { return broken_by_; }

  bool blocked() const { return blocked_; }
  int32_t peer() const { return peer_; }
  std::string describe() const override {
    return "OutputSignalWriter[" + std::to_string(peer_) + "]";
  }
  bool isReady() const override { return room_; }
  int ioDescriptor() const override { return fd_; }
  uint32_t ioInterest() const override;
  void ioReady(uint32_t events) override;
  void clearReady() { room_ = false; }

 private:
  int32_t peer_;
  int fd_ = -1;
  bool blocked_ = false;
  bool room_ = false;
  int broken_by_ = 0;
};

}  // namespace io
