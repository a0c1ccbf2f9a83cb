#include "io/runtime_dir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "error/exception.h"
#include "support/test_support.h"

namespace io {
namespace {

using ::testing::HasSubstr;

// The service's and the session's runtime variables, set for one test (unset for null).
struct RuntimeEnv {
  vxtest::ScopedEnv service, session;
  RuntimeEnv(const char* service_dir, const std::string& session_dir)
      : service("RUNTIME_DIRECTORY", service_dir), session("XDG_RUNTIME_DIR", session_dir) {}
};

std::string refusal(const std::string& path, bool follow) {
  try {
    requirePrivateDirectory(path, follow);
  } catch (const error::Exception& e) {
    return e.what();
  }
  return "";
}

TEST(RuntimeDirectory, ChosenFromTheServiceThenTheSessionThenAFixedPlace) {
  vxtest::TempDir dir;
  {
    RuntimeEnv env("/run/vexlan:/run/other", "/");
    EXPECT_EQ(runtimeDirectoryPath(), "/run/vexlan");
  }
  {
    RuntimeEnv env(nullptr, dir.path());
    EXPECT_EQ(runtimeDirectoryPath(), dir.file("vexlan"));
    EXPECT_EQ(runtimeDirectory(), dir.file("vexlan"));  // created, private
    struct stat st {};
    ASSERT_EQ(::lstat(dir.file("vexlan").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
  }
  // A session directory that has gone counts as none.
  const std::string fixed =
      (::geteuid() == 0 ? "/run/vexlan-" : "/tmp/vexlan-") + std::to_string(::geteuid());
  RuntimeEnv env(nullptr, dir.file("gone"));
  EXPECT_EQ(runtimeDirectoryPath(), fixed);
}

TEST(RuntimeDirectory, RefusesWhatSomebodyElseCouldHavePrepared) {
  vxtest::TempDir dir;
  ASSERT_EQ(::mkdir(dir.file("open").c_str(), 0777), 0);
  ::chmod(dir.file("open").c_str(), 0777);
  EXPECT_EQ(refusal(dir.file("open"), false),
            "Runtime directory " + dir.file("open") +
                " is writable by others (mode 0777): refusing to use it");
  ASSERT_EQ(::mkdir(dir.file("mine").c_str(), 0700), 0);
  ASSERT_EQ(::symlink(dir.file("mine").c_str(), dir.file("link").c_str()), 0);
  EXPECT_THAT(refusal(dir.file("link"), false), HasSubstr("is a symbolic link"));
  EXPECT_EQ(refusal(dir.file("link"), true), "");  // the service manager's may be a link
  vxtest::writeFile(dir.file("file"), "");
  EXPECT_THAT(refusal(dir.file("file"), false), HasSubstr("is not a directory"));

  // The same through the rules: a session directory whose "vexlan" is not ours to use.
  RuntimeEnv env(nullptr, dir.path());
  ASSERT_EQ(::symlink(dir.file("mine").c_str(), dir.file("vexlan").c_str()), 0);
  EXPECT_THROW(runtimeDirectory(), error::Exception);

  if (!vxtest::canActAsOtherUser()) GTEST_SKIP() << vxtest::kNeedsRoot;
  ASSERT_EQ(::mkdir(dir.file("theirs").c_str(), 0700), 0);
  ASSERT_EQ(::chown(dir.file("theirs").c_str(), vxtest::kOtherUid, vxtest::kOtherGid), 0);
  EXPECT_EQ(refusal(dir.file("theirs"), false),
            "Runtime directory " + dir.file("theirs") + " belongs to uid " +
                std::to_string(vxtest::kOtherUid) + ", not to uid 0: refusing to use it");
}

}  // namespace
}  // namespace io
