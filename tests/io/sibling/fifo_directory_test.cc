#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fcntl.h>

#include <memory>

#include "io/sibling/fifo.h"
#include "support/test_support.h"

namespace io {
namespace {

bool exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

TEST(FifoDirectory, AStartRemovesTheDirectoriesOfServersThatAreGone) {
  vxtest::TempDir base;
  auto running = std::make_unique<FifoDirectory>(base.path());
  const std::string live = running->path();
  // What a SIGKILL leaves: a directory whose lock went with its process.
  ASSERT_EQ(::mkdir(base.file("vexlan.gone01").c_str(), 0700), 0);
  vxtest::writeFile(base.file("vexlan.gone01/SMem.0"), "");
  // Held by somebody who is not a FifoDirectory of this process: left alone too.
  ASSERT_EQ(::mkdir(base.file("vexlan.held01").c_str(), 0700), 0);
  int held = ::open(base.file("vexlan.held01").c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_EQ(::flock(held, LOCK_EX), 0);
  // Not ours by name: never touched.
  ASSERT_EQ(::mkdir(base.file("other").c_str(), 0700), 0);

  FifoDirectory next(base.path());
  EXPECT_EQ(next.swept(), 1u);
  EXPECT_FALSE(exists(base.file("vexlan.gone01")));
  EXPECT_TRUE(exists(live));
  EXPECT_TRUE(exists(base.file("vexlan.held01")));
  EXPECT_TRUE(exists(base.file("other")));
  EXPECT_NE(next.path(), live);

  ::close(held);
  running.reset();  // an orderly end removes its own directory
  EXPECT_FALSE(exists(live));
  FifoDirectory third(base.path());
  EXPECT_EQ(third.swept(), 1u);  // the one whose holder let go
  EXPECT_TRUE(exists(next.path()));
}

}  // namespace
}  // namespace io
