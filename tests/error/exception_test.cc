#include <gtest/gtest.h>

#include <cerrno>

#include "error/assert.h"
#include "error/exception.h"
#include "error/system_text.h"

namespace {

TEST(SystemError, TextIsContextColonSystemMessage) {
  error::ESystemError e("Unable to open", EACCES);
  EXPECT_EQ(std::string(e.what()), "Unable to open: Permission denied");
  EXPECT_EQ(e.code(), EACCES);
}

TEST(SystemError, CodePicksTheSubclass) {
  EXPECT_THROW(error::throwSystemError("x", ENOENT), error::EFileNotFoundError);
  EXPECT_THROW(error::throwSystemError("x", ENOTDIR), error::EFileNotFoundError);
  EXPECT_THROW(error::throwSystemError("x", EEXIST), error::EFileExistsError);
  try {
    error::throwSystemError("x", EPERM);
  } catch (const error::EFileNotFoundError&) {
    FAIL() << "EPERM is not 'not found'";
  } catch (const error::ESystemError& e) {
    EXPECT_EQ(e.code(), EPERM);
  }
  errno = ENOENT;
  EXPECT_THROW(error::throwErrno("y"), error::EFileNotFoundError);
}

TEST(SystemError, UnknownCodeStillHasText) {
  // glibc answers "Unknown error N" for codes it does not know; the text is never empty.
  EXPECT_FALSE(error::systemText(987654).empty());
  EXPECT_EQ(error::systemText(EEXIST), "File exists");
}

TEST(AssertDeathTest, WritesPrefixAndAborts) {
  EXPECT_DEATH(VX_ASSERT(1 + 1 == 3, "Bad ", 42, " thing"), "^Assertion failed: Bad 42 thing\n");
}

}  // namespace
