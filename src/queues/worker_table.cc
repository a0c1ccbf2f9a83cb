#include "queues/worker_table.h"

#include <array>

namespace queues {

namespace {

constexpr std::array<WorkerRow, 21> kRows = {{
    {"vexlan-dbms.exe", QUEUE_DBMS, "dbms", 1, 0, 32},
    {"vexlan-tsdb.exe", QUEUE_TSDB, "tsdb", 1, 0, 8},
    {"vexlan-scheduler.exe", QUEUE_SCHD, "schd", 1, 0, 16},
    {"vexlan-remcheck.exe", QUEUE_RMCH, "rmch", 1, kActiveOnly, 8},
    {"vexlan-socketio.exe", QUEUE_SKIO, "skio", 1, 0, 8},
    {"vexlan-alarm.exe", QUEUE_ALRM, "alrm", 1, kActiveOnly, 32},
    {"vexlan-alert.exe", QUEUE_ALRT, "alrt", 1, kActiveOnly, 16},
    {"vexlan-snmp.exe", QUEUE_SNMP, "snmp", 1, kActiveOnly, 8},
    {"vexlan-esxi.exe", QUEUE_ESXI, "esxi", 1, kActiveOnly, 8},
    {"vexlan-broadcast.exe", QUEUE_BRDC, "brdc", 0, 0, 32},
    {"vexlan-forecast.exe", QUEUE_FORC, "forc", 2, kActiveOnly, 4},
    {"vexlan-netscan.exe", QUEUE_NETS, "nets", 1, kActiveOnly, 4},
    {"vexlan-report.exe", QUEUE_REPT, "rept", 2, kActiveOnly, 8},
    {"vexlan-router.exe", QUEUE_GRID, "grid", 1, 0, 32},
    {"vexlan-nodeclass.exe", QUEUE_NCUP, "ncup", 1, kActiveOnly, 8},
    {"vexlan-gridmaster.exe", QUEUE_GMAS, "gmas", 1, 0, 16},
    {"vexlan-gridsat.exe", QUEUE_GSAT, "gsat", 1, 0, 16},
    {"vexlan-uplink.exe", QUEUE_UPLN, "upln", 1, 0, 4},
    {"vexlan-keygen.exe", QUEUE_KEYG, "keyg", 2, kDemandLoad, 4},
    {"vexlan-keynegot.exe", QUEUE_KNGT, "kngt", 1, kDemandLoad, 4},
    {"vexlan-wapi.exe", QUEUE_WAPI, "wapi", 1, 0, 4},
}};

std::string_view stem(std::string_view name) {
  size_t slash = name.rfind('/');
  if (slash != std::string_view::npos) name.remove_prefix(slash + 1);
  if (name.size() > 4 && name.substr(name.size() - 4) == ".exe") name.remove_suffix(4);
  return name;
}

}  // namespace

std::span<const WorkerRow> workerTable() {
  return kRows;
}

const WorkerRow* findWorkerRow(queue_t queue) {
  for (const WorkerRow& row : kRows) {
    if (row.queue == queue) return &row;
  }
  return nullptr;
}

const WorkerRow* findWorkerRowByProgram(std::string_view program) {
  std::string_view wanted = stem(program);
  for (const WorkerRow& row : kRows) {
    if (stem(row.exe) == wanted) return &row;
  }
  return nullptr;
}

}  // namespace queues
