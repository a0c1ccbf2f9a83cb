// Diagnostic lines written inside a batch leave together, in whole lines, each write within
// what a pipe writes in one piece. Standard error is a SOCK_SEQPACKET socket here, so that each
// write(2) arrives as one message and the write boundaries can be seen.
#include "io/sibling/diagnostics.h"

#include <gtest/gtest.h>
#include <limits.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace {

class StderrCapture {
 public:
  StderrCapture() {
    int sv[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, sv) != 0) {
      ADD_FAILURE() << "socketpair";
    }
    read_ = sv[0];
    saved_ = ::dup(STDERR_FILENO);
    ::dup2(sv[1], STDERR_FILENO);
    ::close(sv[1]);
    int big = 1 << 20;
    ::setsockopt(STDERR_FILENO, SOL_SOCKET, SO_SNDBUF, &big, sizeof big);
  }
  ~StderrCapture() {
    ::dup2(saved_, STDERR_FILENO);
    ::close(saved_);
    ::close(read_);
  }
  // Every write made so far, one string each.
  std::vector<std::string> writes() {
    std::vector<std::string> out;
    std::string buf(1 << 16, '\0');
    for (ssize_t n; (n = ::recv(read_, buf.data(), buf.size(), 0)) > 0;)
      out.emplace_back(buf.data(), static_cast<size_t>(n));
    return out;
  }

 private:
  int read_ = -1;
  int saved_ = -1;
};

TEST(SiblingDiagnostics, LinesOfABatchLeaveInOneWriteWhenTheOutermostBatchCloses) {
  StderrCapture cap;
  {
    io::DiagnosticBatch outer;
    io::siblingDiagnostic("Adding EOS for sibling 1 input stream");
    {
      io::DiagnosticBatch inner;
      io::siblingDiagnostic("Adding EOS for sibling 2 input stream");
    }
    EXPECT_TRUE(cap.writes().empty()) << "an inner batch flushed";
    io::siblingDiagnostic("Adding EOS for sibling 3 input stream");
  }
  std::vector<std::string> w = cap.writes();
  ASSERT_EQ(w.size(), 1u);
  EXPECT_EQ(w[0],
            "Adding EOS for sibling 1 input stream\nAdding EOS for sibling 2 input stream\n"
            "Adding EOS for sibling 3 input stream\n");
  // Outside a batch every line is written at once.
  io::siblingDiagnostic("Shutting down FIFO for sibling 4");
  EXPECT_EQ(cap.writes(), std::vector<std::string>{"Shutting down FIFO for sibling 4\n"});
}

TEST(SiblingDiagnostics, ABigBatchIsSplitAtLineEndsWithinPipeBuf) {
  StderrCapture cap;
  std::string expected;
  {
    io::DiagnosticBatch batch;
    for (int i = 0; i < 300; ++i) {
      std::string text =
          " got ack for all messages, allowing " + std::to_string(i) + " to shutdown";
      io::siblingDiagnostic(text);
      expected += text + "\n";
    }
    // A line that alone exceeds PIPE_BUF goes by itself, after what was held before it.
    std::string huge(PIPE_BUF + 10, 'x');
    io::siblingDiagnostic(huge);
    expected += huge + "\n";
    io::siblingDiagnostic("last");
    expected += "last\n";
  }
  std::string joined;
  std::vector<std::string> w = cap.writes();
  ASSERT_GT(w.size(), 2u);
  for (size_t i = 0; i < w.size(); ++i) {
    ASSERT_FALSE(w[i].empty());
    EXPECT_EQ(w[i].back(), '\n') << "write " << i << " ends inside a line";
    if (w[i].size() > PIPE_BUF) {
      EXPECT_EQ(w[i].find('\n'), w[i].size() - 1) << "write " << i << " joins a long line";
    }
    joined += w[i];
  }
  EXPECT_EQ(joined, expected);
}

}  // namespace
