// Payloads of the control events: the requests workers address to the supervisor and its
// replies.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "queues/queue.h"
#include "wire/codec.h"

namespace control {

using queues::queue_t;

struct Sys_Exit_Data {
  uint32_t reason = 0;
  queue_t requested_by = queues::QUEUE_MAIN;
  std::string error_msg;
  VX_FIELDS(Sys_Exit_Data, reason, requested_by, error_msg)
};

// The queues a worker still needs while it shuts down.
struct Init_Ok_Data {
  std::set<queue_t> depend_on;
  VX_FIELDS(Init_Ok_Data, depend_on)
};

struct Log_Request_Data {
  std::string msg;
  int32_t log_type = 0;
  VX_FIELDS(Log_Request_Data, msg, log_type)
};

struct Server_Variable_Fields {
  std::map<std::string, std::string> vars;
  VX_FIELDS(Server_Variable_Fields, vars)
};

struct Get_Pseudo_Random_Data {
  int32_t bytes = 0;
  bool prefer_pure_entropy = false;
  VX_FIELDS(Get_Pseudo_Random_Data, bytes, prefer_pure_entropy)
};

// A metric path: the worker's name, then the groups, then the metric.
struct Get_Metric_Data {
  std::vector<std::string> id;
  VX_FIELDS(Get_Metric_Data, id)
};

struct Get_Metric_Type_Data {
  std::vector<std::string> id;
  VX_FIELDS(Get_Metric_Type_Data, id)
};

struct Return_Metric_Timing_Data {
  uint64_t n = 0;
  uint64_t min = 0;
  uint64_t max = 0;
  uint64_t sum = 0;
  uint64_t sum_squares = 0;
  VX_FIELDS(Return_Metric_Timing_Data, n, min, max, sum, sum_squares)
};

struct Metric {
  std::string name;
  std::string unit;
  std::string desc;
  int32_t type = 0;
  VX_FIELDS(Metric, name, unit, desc, type)
};

// A table of counters keyed by a text (a peer, a queue, a check type): its columns, described
// as metrics, and the keys of its current rows. A value is read with the path ending in the
// row key and the column name.
struct Metric_Table {
  std::string name;
  std::vector<Metric> columns;
  std::vector<std::string> rows;
  VX_FIELDS(Metric_Table, name, columns, rows)
};

// A group of the metric tree; groups nest (the reader bounds the depth).
struct Metric_Group {
  std::string name;
  std::vector<Metric_Group> groups;
  std::vector<Metric_Table> tables;
  std::vector<Metric> metrics;
  VX_FIELDS(Metric_Group, name, groups, tables, metrics)
};

struct Set_Log_Level_Data {
  std::map<std::string, int32_t> logger_level;
  VX_FIELDS(Set_Log_Level_Data, logger_level)
};

}  // namespace control
