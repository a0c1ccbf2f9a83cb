#include "supervisor/worker_entry.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "error/exception.h"

namespace supervisor {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

std::vector<std::string> snames(const std::vector<WorkerEntry>& entries) {
  std::vector<std::string> out;
  for (const WorkerEntry& e : entries)
    out.push_back(e.sname);
  return out;
}

TEST(WorkerTable, StartupWorkersFollowPassiveModeWebApiAndGridRole) {
  control::Server_Configuration_Fields cfg;
  EXPECT_THAT(snames(startupEntries(cfg, GridRole::None, nullptr)),
              ElementsAreArray({"dbms", "tsdb", "schd", "rmch", "skio", "alrm", "alrt", "snmp",
                                "esxi", "brdc", "forc", "nets", "rept", "grid", "ncup", "upln"}));
  cfg.passive = true;
  cfg.wapi_enabled = true;
  EXPECT_THAT(snames(startupEntries(cfg, GridRole::Master, nullptr)),
              ElementsAre("dbms", "tsdb", "schd", "skio", "brdc", "grid", "gmas", "upln", "wapi"));
  EXPECT_THAT(snames(startupEntries(cfg, GridRole::Satellite, nullptr)),
              ElementsAre("dbms", "tsdb", "schd", "skio", "brdc", "grid", "gsat", "upln", "wapi"));
}

TEST(WorkerTable, ExtraProcessNeedsExactlyOneProgram) {
  control::Server_Configuration_Fields cfg;
  cfg.passive = true;  // the extra process starts whatever the mode
  for (const char* value : {"vexlan-extra", ",vexlan-extra,", "vexlan-extra,"}) {
    WorkerEntry extra = startupEntries(cfg, GridRole::None, value).back();
    EXPECT_EQ(extra.exe, "vexlan-extra") << value;
    EXPECT_EQ(extra.queue, queues::QUEUE_EXTRA);
    EXPECT_EQ(extra.sname, "extr");
    EXPECT_EQ(extra.smem_slices, 4u);
  }
  for (const char* value : {"a,b", "", ",,"}) {
    EXPECT_THROW(
        {
          try {
            startupEntries(cfg, GridRole::None, value);
          } catch (const error::EFatal& e) {
            EXPECT_STREQ(e.what(), "Cannot spawn more than one extra process");
            throw;
          }
        },
        error::EFatal)
        << value;
  }
}

TEST(WorkerTable, GridRoleComesFromItsVariable) {
  EXPECT_EQ(parseGridRole(nullptr), GridRole::None);
  EXPECT_EQ(parseGridRole(""), GridRole::None);
  EXPECT_EQ(parseGridRole("master"), GridRole::Master);
  EXPECT_EQ(parseGridRole("satellite"), GridRole::Satellite);
  EXPECT_THROW(parseGridRole("Master"), error::EFatal);
}

TEST(WorkerTable, OnlyKeyWorkersAreDemandLoaded) {
  for (const queues::WorkerRow& row : queues::workerTable()) {
    bool demand = row.queue == queues::QUEUE_KEYG || row.queue == queues::QUEUE_KNGT;
    EXPECT_EQ(isAutostart(row.queue), demand) << row.sname;
    EXPECT_EQ(copyIfDemandLoad(row.queue).has_value(), demand) << row.sname;
  }
  EXPECT_FALSE(isAutostart(queues::QUEUE_BNCH));  // named, but no worker
  EXPECT_FALSE(isAutostart(queues::QUEUE_EXTRA));
  std::optional<WorkerEntry> keyg = copyIfDemandLoad(queues::QUEUE_KEYG);
  ASSERT_TRUE(keyg);
  EXPECT_EQ(keyg->exe, "vexlan-keygen.exe");
  EXPECT_EQ(keyg->runtime, nullptr);
}

TEST(WorkerTable, SliceSizesShareThePoolInWholePages) {
  EXPECT_EQ(sliceUnit(16), 49152u);
  EXPECT_EQ(sliceUnit(128), 421888u);
  EXPECT_EQ(sliceUnit(1024), 3395584u);
  const uint64_t unit = sliceUnit(128);
  EXPECT_EQ(smemSliceSize(queues::QUEUE_MAIN, unit), 4 * unit);
  EXPECT_EQ(smemSliceSize(queues::QUEUE_EXTRA, unit), 4 * unit);
  EXPECT_EQ(smemSliceSize(queues::QUEUE_DBMS, unit), 13500416u);
  // Every area the table and the supervisor can ask for fits into the pool beyond its first
  // page.
  uint64_t total = 8 * unit;
  for (const queues::WorkerRow& row : queues::workerTable())
    total += smemSliceSize(row.queue, unit);
  EXPECT_LE(total + 4096, uint64_t{128} << 20);
  // A child may claim any id.
  for (queues::queue_t q : {queues::QUEUE_BNCH, queues::queue_t(25), queues::QUEUE_NONE}) {
    try {
      smemSliceSize(q, unit);
      ADD_FAILURE() << q;
    } catch (const error::Exception& e) {
      EXPECT_EQ(std::string(e.what()), "argh: someone asked for smem slice size for id " +
                                           std::to_string(q) + " which we don't know...");
    }
  }
}

}  // namespace
}  // namespace supervisor
