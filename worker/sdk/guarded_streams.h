// The streams a worker's event reader and writer see. They stand in front of a peer's sibling
// streams and never let the event layer wait by itself: a read that must wait for the rest of
// an event, and a write that must wait for room in the area, wait in the worker's own loop,
// which also watches the supervisor (so a supervisor that goes away ends the wait) and, for a
// write, keeps reading what peers send (so two workers writing to each other never both wait
// for the other to read).
#pragma once

#include <string>

#include "io/stream.h"

namespace worker {

class Worker;

class GuardedIStream : public io::IStream {
 public:
  GuardedIStream(Worker& w, int32_t peer, io::IStream& real) : w_(w), peer_(peer), real_(real) {}
  std::string describe() const override { return real_.describe(); }
  // Always: readBegin itself waits.
  bool isReady() const override { return true; }
  size_t readBegin(const uint8_t*& p) override;
  void readCommit(size_t n) override { real_.readCommit(n); }
  void close() override { real_.close(); }

 private:
  Worker& w_;
  int32_t peer_;
  io::IStream& real_;
};

class GuardedOStream : public io::OStream {
 public:
  GuardedOStream(Worker& w, int32_t peer, io::OStream& real) : w_(w), peer_(peer), real_(real) {}
  std::string describe() const override { return real_.describe(); }
  bool isReady() const override { return true; }
  size_t writeBegin(uint8_t*& p) override;
  void writeCommit(size_t n) override { real_.writeCommit(n); }
  bool flush() override { return real_.flush(); }
  void close() override { real_.close(); }

 private:
  Worker& w_;
  int32_t peer_;
  io::OStream& real_;
};

}  // namespace worker
