#include "queues/worker_table.h"

#include <gtest/gtest.h>

#include <set>

namespace {

TEST(WorkerTable, RowsAreConsistent) {
  auto rows = queues::workerTable();
  ASSERT_EQ(rows.size(), 21u);
  uint64_t slices = 0;
  std::set<int> queues_seen;
  std::set<std::string> snames;
  for (const auto& r : rows) {
    slices += r.smem_slices;
    EXPECT_TRUE(queues_seen.insert(r.queue).second) << r.exe;
    EXPECT_TRUE(snames.insert(r.sname).second) << r.exe;
    EXPECT_EQ(queues::queueName(r.queue), r.sname);  // log lines and queue names agree
    EXPECT_EQ(r.flags & queues::kHardShutdown, 0u);
  }
  EXPECT_EQ(slices, 272u);
  EXPECT_EQ(rows.front().queue, queues::QUEUE_DBMS);  // start-up order begins with dbms
}

TEST(WorkerTable, LookupByQueueAndProgram) {
  EXPECT_STREQ(queues::findWorkerRow(queues::QUEUE_KEYG)->exe, "vexlan-keygen.exe");
  EXPECT_EQ(queues::findWorkerRow(queues::queue_t(9)), nullptr);
  EXPECT_EQ(queues::findWorkerRowByProgram("/usr/lib/vexlan/vexlan-scheduler")->queue,
            queues::QUEUE_SCHD);
  EXPECT_EQ(queues::findWorkerRowByProgram("vexlan-dbms.exe")->queue, queues::QUEUE_DBMS);
  EXPECT_EQ(queues::findWorkerRowByProgram("vexlan-dbms.ex"), nullptr);
  EXPECT_EQ(queues::findWorkerRowByProgram("vexland"), nullptr);
}

}  // namespace
