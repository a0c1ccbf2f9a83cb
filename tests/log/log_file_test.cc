#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <spdlog/spdlog.h>
#include <sys/stat.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <sstream>

#include "error/exception.h"
#include "log/log_file.h"
#include "log/server_log.h"
#include "log/version.h"
#include "support/test_support.h"

namespace logging {
namespace {

std::vector<std::string> lines(const std::string& path) {
  std::istringstream in(vxtest::readFile(path));
  std::vector<std::string> out;
  for (std::string l; std::getline(in, l);)
    out.push_back(l);
  return out;
}

// The message part of each line (after the time stamp).
std::vector<std::string> messages(const std::string& path) {
  std::vector<std::string> out;
  for (const auto& l : lines(path)) {
    auto colon = l.find(": ");
    out.push_back(colon == std::string::npos ? "RAW " + l : l.substr(colon + 2));
  }
  return out;
}

class LogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    LogFile::setReporter([this](const std::string& s) { reports_.push_back(s); });
  }
  void TearDown() override { LogFile::setReporter(nullptr); }

  Clock clock() {
    return [this] { return now_; };
  }

  vxtest::TempDir dir_;
  time_t now_ = std::time(nullptr);
  std::vector<std::string> reports_;
};

TEST_F(LogTest, StampsOpensAndCloses) {
  now_ = 1796541695;  // Sun Dec  6 07:21:35 2026 UTC
  LogFile log(clock());
  log.open(dir_.file("server.log"));
  EXPECT_EQ(log.created() <= std::time(nullptr), true);
  log.write("hello");
  now_ = 1796541695 + 86400 * 6;
  log.write("ünïcode and \"quotes\"");
  log.close();
  auto l = lines(dir_.file("server.log"));
  ASSERT_EQ(l.size(), 4u);
  EXPECT_EQ(l[0], "Sun Dec  6 07:21:35 2026: " + std::string(kVersionBanner) + " Log initialized");
  EXPECT_EQ(l[1], "Sun Dec  6 07:21:35 2026: hello");
  EXPECT_EQ(l[2], "Sat Dec 12 07:21:35 2026: ünïcode and \"quotes\"");
  EXPECT_EQ(l[3], "Sat Dec 12 07:21:35 2026: Closing log.");
  EXPECT_FALSE(log.isOpen());
  EXPECT_TRUE(reports_.empty());
}

// Line by line or in groups (one write for several lines), the same lines result.
TEST_F(LogTest, RepeatsAreFolded) {
  const std::vector<std::string> sent = {"A", "A", "A", "B", "A", "A", "B", "A", "B", "B"};
  LogFile single(clock()), grouped(clock());
  single.open(dir_.file("single.log"));
  grouped.open(dir_.file("grouped.log"));
  for (const std::string& m : sent)
    single.write(m);
  grouped.write(sent[0]);
  grouped.write(std::span(sent).subspan(1, 5));  // A A B A A
  grouped.write(std::span<const std::string>());
  grouped.write(std::span(sent).subspan(6, 3));  // B A B
  grouped.write(sent[9]);
  single.close();
  grouped.close();
  const std::vector<std::string> expected = {std::string(kVersionBanner) + " Log initialized",
                                             "A",
                                             "Last message repeated 3 times",
                                             "B",
                                             "A",
                                             "Last message repeated 2 times",
                                             "B",
                                             "A",
                                             "B",
                                             "Last message repeated 2 times",
                                             "Closing log."};
  EXPECT_EQ(messages(dir_.file("single.log")), expected);
  EXPECT_EQ(messages(dir_.file("grouped.log")), expected);
}

TEST_F(LogTest, OldestCreatedOverOpenLogs) {
  EXPECT_EQ(LogFile::oldest_created(), 2147483647);
  LogFile a(clock()), b(clock());
  a.open(dir_.file("a.log"));
  b.open(dir_.file("b.log"));
  EXPECT_EQ(LogFile::oldest_created(), std::min(a.created(), b.created()));
  a.close();
  EXPECT_EQ(LogFile::oldest_created(), b.created());
  b.close();
  EXPECT_EQ(LogFile::oldest_created(), 2147483647);
}

TEST_F(LogTest, RotationKeepsFiveOldFiles) {
  const std::string path = dir_.file("server.log");
  for (int n = 1; n <= 5; ++n)
    vxtest::writeFile(path + "." + std::to_string(n) + ".txt", "old " + std::to_string(n) + "\n");
  LogFile log(clock());
  log.open(path);
  log.write("before");
  log.write("before");

  // A day old to the second does not rotate yet; 25 hours does.
  now_ = log.created() + 86400;
  EXPECT_FALSE(rotate_if_due(now_, 1));
  now_ = log.created() + 25 * 3600;
  EXPECT_TRUE(rotate_if_due(now_, 1));
  EXPECT_EQ(log.created(), now_);
  EXPECT_FALSE(rotate_if_due(now_ + 3600, 1));
  log.write("after");

  EXPECT_EQ(messages(path + ".1.txt"),
            (std::vector<std::string>{std::string(kVersionBanner) + " Log initialized", "before",
                                      "Last message repeated 2 times",
                                      std::string(kVersionBanner) + " Flushing log..."}));
  EXPECT_EQ(vxtest::readFile(path + ".2.txt"), "old 1\n");
  EXPECT_EQ(vxtest::readFile(path + ".5.txt"), "old 4\n");  // "old 5" was deleted
  EXPECT_FALSE(std::filesystem::exists(path + ".6.txt"));
  EXPECT_EQ(messages(path),
            (std::vector<std::string>{std::string(kVersionBanner) + " Log re-opened.", "after"}));
  EXPECT_TRUE(reports_.empty());
}

TEST_F(LogTest, VanishedDirectoryIsReportedOnceAndLoggingResumes) {
  const std::string sub = dir_.file("logs");
  ::mkdir(sub.c_str(), 0700);
  LogFile log(clock());
  log.open(sub + "/server.log");
  std::filesystem::remove_all(sub);

  now_ += 2 * 86400;
  EXPECT_TRUE(rotate_if_due(now_, 1));  // rename and reopen fail; the process carries on
  log.write("lost 1");
  log.write("lost 2");
  ASSERT_EQ(reports_.size(), 1u);
  EXPECT_EQ(reports_[0],
            "Cannot open log file '" + sub + "/server.log': No such file or directory");
  EXPECT_FALSE(rotate_if_due(now_, 1));  // counts as new: no rotation on every loop

  ::mkdir(sub.c_str(), 0700);
  log.write("back");
  EXPECT_EQ(messages(sub + "/server.log"), (std::vector<std::string>{"back"}));
  log.close();
}

TEST_F(LogTest, FullDiskIsReportedOncePerEpisode) {
  LogFile log(clock());
  log.open("/dev/full");
  for (int i = 0; i < 10; ++i)
    log.write("line " + std::to_string(i));
  log.close();
  ASSERT_EQ(reports_.size(), 1u);
  EXPECT_EQ(reports_[0], "Cannot write log file '/dev/full': No space left on device");
}

TEST_F(LogTest, UnopenablePathDoesNotStopTheCallerUnlessTheLogIsRequired) {
  LogFile log(clock());
  log.open(dir_.path());  // a directory
  log.write("nowhere");
  EXPECT_TRUE(log.isOpen());
  EXPECT_EQ(LogFile::oldest_created(), now_);
  ASSERT_EQ(reports_.size(), 1u);
  EXPECT_EQ(reports_[0], "Cannot open log file '" + dir_.path() + "': Is a directory");
  log.close();

  LogFile required(clock());
  try {
    required.openOrThrow(dir_.path());
    ADD_FAILURE() << "opened a directory";
  } catch (const error::ESystemError& e) {
    EXPECT_STREQ(e.what(), ("Cannot open log file '" + dir_.path() + "': Is a directory").c_str());
  }
  EXPECT_FALSE(required.isOpen());
  EXPECT_EQ(LogFile::oldest_created(), 2147483647);
  EXPECT_EQ(reports_.size(), 1u);  // the caller reports it
}

// spdlog's own default logger also has an empty name but writes to standard output: what
// tells ours apart is that its lines go to standard error.
std::pair<std::string, std::string> throughDefaultLogger(const std::string& text) {
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  spdlog::warn(text);
  spdlog::default_logger()->flush();
  std::string out = testing::internal::GetCapturedStdout();
  return {out, testing::internal::GetCapturedStderr()};
}

TEST(ServerLog, DefaultLoggerWritesToStandardError) {
  // Until then the default logger is spdlog's own.
  EXPECT_THAT(throughDefaultLogger("before").first, testing::HasSubstr("before"));
  init_default_logger();
  EXPECT_EQ(spdlog::default_logger()->name(), "");
  auto [out, err] = throughDefaultLogger("library says hello");
  EXPECT_EQ(out, "");
  EXPECT_THAT(err, testing::HasSubstr("library says hello"));
  init_default_logger();  // again at a restart of the main function: still fine
  EXPECT_THAT(throughDefaultLogger("again").second, testing::HasSubstr("again"));
  report_event("vexlan log test: report_event reaches syslog");
}

TEST(ServerLog, OpensServerLogInLogDirectory) {
  vxtest::TempDir dir;
  open_server_log(dir.path());
  EXPECT_EQ(server_log().path(), dir.path() + "/server.log");
  server_log().write("up");
  server_log().close();
  open_server_log(dir.path());  // a restart appends
  server_log().close();
  EXPECT_EQ(lines(dir.file("server.log")).size(), 5u);
}

}  // namespace
}  // namespace logging
