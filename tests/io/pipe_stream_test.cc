#include "io/pipe_stream.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "io/exceptions.h"
#include "io/selector.h"
#include "io/signal.h"
#include "io/timer.h"
#include "io/wait.h"

namespace {

struct Pipe {
  int r = -1, w = -1;
  Pipe() { EXPECT_EQ(::pipe2(&r, O_CLOEXEC), 0); }
};

void writeAll(int fd, const std::string& s) {
  ASSERT_EQ(::write(fd, s.data(), s.size()), static_cast<ssize_t>(s.size()));
}

TEST(PipeStream, MoreThanThePipeHoldsPassesInOrderWithoutBlocking) {
  Pipe p;
  io::PipeOStream out(p.w, "out");
  io::PipeIStream in(p.r, "in");
  io::Timer guard(TimeValue::now() + TimeValue(20, 0));
  io::BareSelector sel;
  sel.add(out);
  sel.add(in);
  sel.add(guard);

  const size_t total = 1 << 20;  // far beyond the kernel's pipe buffer
  auto byte = [](size_t i) { return static_cast<uint8_t>((i * 7 + i / 4096) & 0xff); };
  size_t sent = 0, got = 0;
  int writer_waited = 0;
  bool mismatch = false;
  for (;;) {
    io::Selectable& s = sel.wait();
    ASSERT_NE(&s, &guard) << "sent " << sent << " got " << got;
    if (&s == &out) {
      if (sent == total) {
        sel.remove(out);
        out.close();
        continue;
      }
      uint8_t* q;
      size_t room = out.writeBegin(q);
      size_t n = std::min(room, total - sent);
      for (size_t i = 0; i < n; ++i)
        q[i] = byte(sent + i);
      out.writeCommit(n);
      sent += n;
      if (!out.flush()) ++writer_waited;
    } else if (&s == &in) {
      const uint8_t* q;
      size_t n;
      try {
        n = in.readBegin(q);
      } catch (const io::EEndOfStream& e) {
        EXPECT_STREQ(e.what(), "EOS from PipeIStream(in)");
        break;
      }
      EXPECT_LE(n, io::PipeIStream::kBufferSize);
      for (size_t i = 0; i < n && !mismatch; ++i)
        mismatch = q[i] != byte(got + i);
      in.readCommit(n);
      got += n;
    }
  }
  EXPECT_FALSE(mismatch);
  EXPECT_EQ(got, total);
  EXPECT_GT(writer_waited, 0);  // the pipe did fill up, and the thread went on serving
  sel.remove(in);
  sel.remove(guard);
}

TEST(PipeIStream, CommitsRestartTheBufferAndEndOfStreamFollowsTheData) {
  Pipe p;
  io::PipeIStream in(p.r, "in");
  EXPECT_EQ(in.describe(), "PipeIStream(in)");
  writeAll(p.w, "hello");
  io::waitReady(in);
  const uint8_t* first;
  ASSERT_EQ(in.readBegin(first), 5u);
  in.readCommit(2);
  const uint8_t* q;
  ASSERT_EQ(in.readBegin(q), 3u);  // offered again without a new read
  EXPECT_EQ(q, first + 2);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(q), 3), "llo");
  in.readCommit(3);
  EXPECT_FALSE(in.isReady());

  writeAll(p.w, "xy");
  ::close(p.w);
  io::waitReady(in);
  ASSERT_EQ(in.readBegin(q), 2u);
  EXPECT_EQ(q, first);  // everything consumed: the next read filled the buffer from its start
  in.readCommit(2);
  io::waitReady(in);
  EXPECT_THROW(in.readBegin(q), io::EEndOfStream);
  EXPECT_THROW(in.readBegin(q), io::EEndOfStream);  // and it stays ended
}

TEST(PipeOStream, ReaderGoneBecomesARecordedError) {
  Pipe p;
  ::close(p.r);
  io::PipeOStream out(p.w, "out");
  uint8_t* q;
  ASSERT_EQ(out.writeBegin(q), io::PipeOStream::kBufferSize);
  q[0] = 'x';
  out.writeCommit(1);
  EXPECT_TRUE(out.flush());  // ready: nothing more will ever be written, and we are alive
  try {
    out.writeBegin(q);
    FAIL();
  } catch (const error::ESystemError& e) {
    EXPECT_STREQ(e.what(), "out write: Broken pipe");
  }
}

TEST(PipeStream, ClosedStreamDoesNotSilenceADescriptorThatTookItsNumber) {
  Pipe p;
  io::PipeIStream in(p.r, "in");
  int number = p.r;
  io::BareSelector sel;
  sel.add(in);
  EXPECT_THROW(sel.wait(true), io::ENotReady);  // the read is now armed in epoll
  in.close();
  io::Signal sig;
  ASSERT_EQ(sig.fd(), number);  // the lowest free number is reused
  sel.add(sig);
  sel.remove(in);
  sig.set();
  EXPECT_EQ(&sel.wait(true), &sig);
  sel.remove(sig);
  ::close(p.w);
}

TEST(PipeStreamDeath, BrokenInvariantsAbort) {
  Pipe p;
  io::PipeIStream in(p.r, "in");
  io::PipeOStream out(p.w, "out");
  writeAll(p.w, "abc");
  io::waitReady(in);
  EXPECT_DEATH(in.readCommit(5),
               "Assertion failed: Overcommit in PipeIStream 5 is 2 bytes past end of buffer");
  uint8_t* q;
  out.writeBegin(q);
  out.writeCommit(4000);
  EXPECT_DEATH(out.writeCommit(100),
               "Assertion failed: Overcommit in PipeOStream 100 is 4 bytes past end of buffer");
  in.close();
  EXPECT_DEATH(in.close(), "Assertion failed: Double close on PipeIStream");
}

}  // namespace
