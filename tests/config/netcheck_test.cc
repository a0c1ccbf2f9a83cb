#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sstream>

#include "config/error_text.h"
#include "config/netcheck_file.h"
#include "config/netcheck_watcher.h"
#include "config/pattern_cost.h"
#include "error/exception.h"
#include "support/test_support.h"

namespace config {
namespace {

NetCheckList parse(const std::string& text) {
  std::istringstream in(text);
  return parse_netchecks(in);
}

std::string parseError(const std::string& text) {
  return errorOf([&] { parse(text); });
}

TEST(NetCheckFile, ChecksInFileOrder) {
  NetCheckList got = parse(
      "# custom checks\r\n"
      "\n"
      "   [disk]\r\n"
      "command=  /usr/bin/df -h /  \r\n"
      "  result_pattern=^used ([0-9]+)%$\n"
      "command=/bin/df\n"  // the last value of a key wins
      "[load]\n"
      "  # only a command: the default pattern\n"
      "command=uptime\n");
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0], (NetCheckDefinition{"disk", "/bin/df", "^used ([0-9]+)%$"}));
  EXPECT_EQ(got[1], (NetCheckDefinition{"load", "uptime", kDefaultResultPattern}));
  EXPECT_EQ(got[0].result_pattern, "^used ([0-9]+)%$");
  EXPECT_TRUE(parse("").empty());
  EXPECT_TRUE(parse("# nothing\n\n   \n").empty());
}

TEST(NetCheckFile, Errors) {
  const std::pair<std::string, std::string> cases[] = {
      {"command=x\n", "Error at line 1: Expected [checkname]"},
      {"\n[a\n", "Error at line 2: Expected [checkname]"},
      {"[]\ncommand=x\n", "Error at line 1: Check without a name encountered"},
      {"[a]\ncommand x\n", "Error at line 2: Expected '='"},
      {"[a]\ncommand =x\n", "Error at line 2: Unknown option: command "},
      {"[a]\nCommand=x\n", "Error at line 2: Unknown option: Command"},
      {"[a]\ncommand=  \n", "Error at line 2: Command expected"},
      {"[a]\ncommand=x\nresult_pattern=\n", "Error at line 3: Pattern expected"},
      {"[a]\ncommand=x\nresult_pattern=([0-9]\n", "Error at line 3: Unmatched ( or \\("},
      {"[a]\ncommand=x\nresult_pattern=a{2,1}\n", "Error at line 3: Invalid content of \\{\\}"},
      // A check ends at the next section or at the end of the file; the line is the last read.
      {"[a]\nresult_pattern=x\n\n[b]\ncommand=y\n", "Error at line 4: No command found for check"},
      {"[a]\ncommand=x\n[b]\n\n# end\n", "Error at line 5: No command found for check"},
  };
  for (const auto& [text, message] : cases)
    EXPECT_EQ(parseError(text), message) << text;
}

TEST(NetCheckFile, HostileInputIsRefusedWithBoundedWork) {
  const std::string longValue(kMaxNetCheckLine - 8, 'x');
  EXPECT_EQ(parse("[a]\ncommand=" + longValue + "\r\n").at(0).command, longValue);
  EXPECT_EQ(parseError("[a]\ncommand=" + longValue + "xy" + std::string(1 << 20, 'z')),
            "Error at line 2: Line too long");
  EXPECT_EQ(parseError(std::string("[a]\ncommand=ls\0 -l\n", 18)),
            "Error at line 2: NUL character in line");
  // Nested counts that would make the C library build a huge automaton.
  EXPECT_EQ(parseError("[a]\ncommand=x\nresult_pattern=((a{1000}){1000})\n"),
            "Error at line 3: Pattern too complex");
}

TEST(NetCheckFile, PatternCost) {
  EXPECT_EQ(pattern_cost(""), 0u);
  EXPECT_EQ(pattern_cost("abc"), 3u);
  EXPECT_EQ(pattern_cost("a{5}"), 5u);
  EXPECT_EQ(pattern_cost("(ab){3,7}"), 14u);
  EXPECT_EQ(pattern_cost("(a{10}){10,}"), 110u);
  EXPECT_EQ(pattern_cost("a+"), 2u);
  EXPECT_EQ(pattern_cost("[]{}(]{9}"), 9u);  // brackets hold no groups or counts
  EXPECT_EQ(pattern_cost("[[:digit:]]{4}"), 4u);
  EXPECT_EQ(pattern_cost("a{x}"), 4u);  // not a bound: ordinary characters
  EXPECT_EQ(pattern_cost("\\({9}"), 9u);
  EXPECT_EQ(pattern_cost("a)b"), 3u);
  EXPECT_EQ(pattern_cost(kDefaultResultPattern) < kMaxPatternCost, true);
  EXPECT_GT(pattern_cost("(((a{32767}){32767}){32767}){32767}"), kMaxPatternCost);
  EXPECT_GT(pattern_cost("a{99999999999999999999999}"), kMaxPatternCost);
}

TEST(NetCheckFile, UnreadableFile) {
  vxtest::TempDir dir;
  EXPECT_THROW(
      {
        try {
          read_netcheck_file(dir.file("none"));
        } catch (const error::EParseError& e) {
          EXPECT_EQ(std::string(e.what()), "Unable to open file " + dir.file("none"));
          throw;
        }
      },
      error::EParseError);
}

class Watcher : public ::testing::Test {
 protected:
  Watcher()
      : file_(dir_.file("checks.conf")),
        watcher_(
            file_, [this](const NetCheckList& l) { sent_.push_back(l); },
            [this](const std::string& line) { logged_.push_back(line); }) {}

  void write(const std::string& text, time_t mtime) {
    vxtest::writeFile(file_, text);
    touch(mtime);
  }
  void touch(time_t mtime) {
    struct timespec times[2] = {{mtime, 0}, {mtime, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, file_.c_str(), times, 0), 0);
  }

  vxtest::TempDir dir_;
  std::string file_;
  std::vector<NetCheckList> sent_;
  std::vector<std::string> logged_;
  NetCheckWatcher watcher_;
};

TEST_F(Watcher, SendsWhenTheTimeChanges) {
  write("[a]\ncommand=x\n", 1000);
  EXPECT_EQ(watcher_.run(TimeValue(50, 7)), TimeValue(55, 7));
  ASSERT_EQ(sent_.size(), 1u);
  EXPECT_EQ(sent_[0].at(0).name, "a");

  watcher_.run(TimeValue(55, 0));
  EXPECT_EQ(sent_.size(), 1u);  // same time: nothing read

  touch(1001);  // touched without a change: sent again
  watcher_.run(TimeValue(60, 0));
  EXPECT_EQ(sent_.size(), 2u);
  EXPECT_TRUE(logged_.empty());
}

TEST_F(Watcher, BadFileIsLoggedAndNotRetriedUntilItChanges) {
  write("[a]\ncommand=x\nresult_pattern=(\n", 1000);
  watcher_.run(TimeValue(0, 0));
  watcher_.run(TimeValue(5, 0));
  EXPECT_TRUE(sent_.empty());
  ASSERT_EQ(logged_.size(), 1u);
  EXPECT_EQ(logged_[0], "Error reading custom NetChecks: Error at line 3: Unmatched ( or \\(");

  write("[a]\ncommand=x\n", 1001);
  watcher_.run(TimeValue(10, 0));
  EXPECT_EQ(sent_.size(), 1u);
}

// Written in place or replaced within one tick of the file clock: the time stays, the file
// does not, and the finished version must still be read.
TEST_F(Watcher, ChangesWithinOneTimestampAreSeen) {
  write("[a]\ncomm", 1000);  // caught half-written
  watcher_.run(TimeValue(0, 0));
  ASSERT_EQ(logged_.size(), 1u);
  write("[a]\ncommand=x\n", 1000);  // finished, same time
  watcher_.run(TimeValue(5, 0));
  ASSERT_EQ(sent_.size(), 1u);

  const std::string next = dir_.file("checks.new");
  vxtest::writeFile(next, "[b]\ncommand=y\n");  // same size, new file renamed over it
  struct timespec times[2] = {{1000, 0}, {1000, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, next.c_str(), times, 0), 0);
  ASSERT_EQ(::rename(next.c_str(), file_.c_str()), 0);
  watcher_.run(TimeValue(10, 0));
  ASSERT_EQ(sent_.size(), 2u);
  EXPECT_EQ(sent_[1].at(0).name, "b");
}

TEST_F(Watcher, VanishedFileKeepsTheLastListAndComesBack) {
  write("[a]\ncommand=x\n", 1000);
  watcher_.run(TimeValue(0, 0));
  ASSERT_EQ(::unlink(file_.c_str()), 0);
  watcher_.run(TimeValue(5, 0));
  watcher_.run(TimeValue(10, 0));
  ASSERT_EQ(logged_.size(), 1u);  // logged once, not every five seconds
  EXPECT_EQ(logged_[0], "Could not stat: " + file_ + ": No such file or directory");
  EXPECT_EQ(sent_.size(), 1u);

  write("[a]\ncommand=x\n", 1000);  // back with the very same time: read again
  watcher_.run(TimeValue(15, 0));
  EXPECT_EQ(sent_.size(), 2u);
}

TEST_F(Watcher, SendErrorsAreLogged) {
  NetCheckWatcher failing(
      file_, [](const NetCheckList&) { throw error::Exception("pool full"); },
      [this](const std::string& line) { logged_.push_back(line); });
  write("[a]\ncommand=x\n", 1000);
  failing.run(TimeValue(0, 0));
  EXPECT_EQ(logged_, (std::vector<std::string>{"Error reading custom NetChecks: pool full"}));
}

TEST(NetCheckWatcherNoFile, EmptyPathDoesNothing) {
  int calls = 0;
  NetCheckWatcher w(
      "", [&](const NetCheckList&) { ++calls; }, [&](const std::string&) { ++calls; });
  EXPECT_EQ(w.run(TimeValue(1, 0)), TimeValue(6, 0));
  EXPECT_EQ(calls, 0);
}

}  // namespace
}  // namespace config
