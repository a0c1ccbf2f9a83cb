// Buffered pipe streams driven by the reactor. Neither ever blocks the thread: the descriptor
// is non-blocking, and reads and writes happen only when the selector reports the descriptor
// ready (or, for a write, when there is something to send and the pipe may take it at once).
// They carry a child's standard handles and the sibling FIFOs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "io/stream.h"

namespace io {

// Reads a pipe into one 4096-byte buffer. A new read starts only when the reader has consumed
// everything buffered, so end of file and errors are reported only after the last byte.
class PipeIStream : public IStream {
 public:
  static constexpr size_t kBufferSize = 4096;

  // A stream without a descriptor yet (see attach).
  explicit PipeIStream(std::string name = "");
  // Takes ownership of fd and makes it non-blocking.
  PipeIStream(int fd, std::string name);
  ~PipeIStream() override;

  // Gives the stream a descriptor (owned from now on, made non-blocking) and forgets the
  // end of file or error of an earlier one.
  void attach(int fd);
  bool isOpen() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  const std::string& name() const { return name_; }

  std::string describe() const override { return "PipeIStream(" + name_ + ")"; }
  bool isReady() const override { return error_ != 0 || eof_ || end_ > pos_; }
  // Arms a read when the buffer is empty. A stream without a descriptor records EBADF, so a
  // waiter learns at once that nothing will ever arrive.
  void prepareWait() override;
  int ioDescriptor() const override { return fd_; }
  uint32_t ioInterest() const override;
  void ioReady(uint32_t events) override;

  // The buffered bytes. On an empty buffer a recorded error raises ESystemError
  // "Error in PipeIStream(name)" and end of file raises EEndOfStream.
  size_t readBegin(const uint8_t*& p) override;
  void readCommit(size_t n) override;
  // Closes the descriptor (if any); closing twice is a broken invariant.
  void close() override;

 private:
  void readNow();

  int fd_ = -1;
  int error_ = 0;
  bool eof_ = false;
  bool read_pending_ = false;
  bool closed_ = false;
  size_t pos_ = 0;
  size_t end_ = 0;
  std::string name_;
  uint8_t buf_[kBufferSize];
};

// Writes through one 4096-byte buffer. Committed bytes leave in one write() of everything
// buffered; on a pipe that write is never split (it is at most PIPE_BUF bytes), so whole
// messages written by several processes to one FIFO never interleave.
class PipeOStream : public OStream {
 public:
  static constexpr size_t kBufferSize = 4096;

  explicit PipeOStream(std::string name = "");
  PipeOStream(int fd, std::string name);
  ~PipeOStream() override;

  // Gives the stream a descriptor (owned from now on, made non-blocking); buffered bytes and
  // a recorded error of an earlier descriptor are dropped.
  void attach(int fd);
  bool isOpen() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  const std::string& name() const { return name_; }
  // Committed bytes not yet written.
  size_t buffered() const { return end_ - start_; }

  std::string describe() const override { return "PipeOStream(" + name_ + ")"; }
  // False while a write waits for room in the pipe; then true once everything is written or
  // an error is recorded.
  bool isReady() const override { return !write_pending_ && (error_ != 0 || end_ == start_); }
  // Starts writing what is buffered.
  void prepareWait() override;
  int ioDescriptor() const override { return fd_; }
  uint32_t ioInterest() const override;
  void ioReady(uint32_t events) override;

  // Room after the buffered bytes. A recorded error raises ESystemError name + " write".
  size_t writeBegin(uint8_t*& p) override;
  void writeCommit(size_t n) override;
  // Writes what it can now without blocking; true when nothing is left waiting.
  bool flush() override;
  // Closes the descriptor; bytes not yet written are dropped.
  void close() override;

 private:
  void startWrite();
  void writeNow();

  int fd_ = -1;
  int error_ = 0;
  bool write_pending_ = false;
  size_t start_ = 0;
  size_t end_ = 0;
  std::string name_;
  uint8_t buf_[kBufferSize];
};

}  // namespace io
