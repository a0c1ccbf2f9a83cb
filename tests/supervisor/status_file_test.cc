#include "supervisor/status_file.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>

#include "support/test_support.h"

namespace supervisor {
namespace {

using ::testing::HasSubstr;

ServerStatus sample() {
  ServerStatus s;
  s.state = "running";
  s.pid = 42;
  s.started = TimeValue(1700000000, 5);
  s.updated = TimeValue(1700000001, 250000);
  s.workers.push_back({"schd",
                       queues::QUEUE_SCHD,
                       "vexlan-scheduler.exe",
                       "running",
                       43,
                       TimeValue(1700000000, 900000),
                       {queues::QUEUE_DBMS, queues::QUEUE_TSDB}});
  s.workers.push_back({"extr",
                       queues::QUEUE_EXTRA,
                       "odd \"name\"\\\n\x01",
                       "starting",
                       44,
                       TimeValue(1700000001, 0),
                       {}});
  s.idle.push_back({"keyg", queues::QUEUE_KEYG, "vexlan-keygen.exe"});
  return s;
}

TEST(StatusFile, JsonListsEveryWorkerAndTheIdleOnes) {
  std::string j = statusJson(sample());
  EXPECT_THAT(j, HasSubstr("\"state\": \"running\",\n  \"pid\": 42,\n"
                           "  \"started\": 1700000000.000005,\n"));
  EXPECT_THAT(j, HasSubstr("{\"sname\": \"schd\", \"queue\": 1, \"exe\": "
                           "\"vexlan-scheduler.exe\", \"state\": \"running\", \"pid\": 43, "
                           "\"started\": 1700000000.900000, \"depend_on\": [2, 20]}"));
  EXPECT_THAT(j, HasSubstr("\"exe\": \"odd \\\"name\\\"\\\\\\n\\u0001\""));
  EXPECT_THAT(j, HasSubstr("\"demand_load_idle\": [\n    {\"sname\": \"keyg\", \"queue\": 11, "
                           "\"exe\": \"vexlan-keygen.exe\"}\n  ]\n}\n"));
  ServerStatus none;
  none.state = "stopped";
  EXPECT_THAT(statusJson(none), HasSubstr("\"workers\": [],\n  \"demand_load_idle\": []\n}"));
}

TEST(StatusFile, IsReplacedWholeAndLeavesNothingBeside) {
  vxtest::TempDir dir;
  StatusFile f(dir.file("status.json"));
  EXPECT_EQ(f.write(sample()), "");
  ServerStatus later = sample();
  later.state = "stopped";
  EXPECT_EQ(f.write(later), "");
  EXPECT_EQ(vxtest::readFile(f.path()), statusJson(later));
  struct stat st {};
  ASSERT_EQ(::stat(f.path().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);

  StatusFile nowhere(dir.file("missing/status.json"));
  EXPECT_THAT(nowhere.write(sample()), HasSubstr("Cannot create " + dir.file("missing/")));
}

TEST(StatusFile, OneNamePerDaemon) {
  EXPECT_EQ(statusFileName(3u, false, 99), "status-sht3.json");  // from its pid file's event
  EXPECT_EQ(statusFileName(std::nullopt, true, 99), "status.json");
  EXPECT_EQ(statusFileName(std::nullopt, false, 99), "status-pid99.json");
}

}  // namespace
}  // namespace supervisor
