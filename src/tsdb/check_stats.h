// Per-check statistics that the check workers report and the time-series store turns into
// intervals. They check their own validity whenever they are written or read: a writer that
// produces an invalid one has a bug (assertion), a reader that receives one got bad input
// (error::Exception).
#pragma once

#include <cstdint>
#include <string>

#include "tql/id.h"
#include "wire/codec.h"

namespace tsdb {

// A fresh statistic covers the first second and is valid. Status 5 means no result could be taken;
// any other status needs a finite result.
inline constexpr uint32_t kStatusCount = 6;
inline constexpr uint32_t kStatusNoResult = 5;

struct snmpcheck_stat_continuous {
  static constexpr const char* kCheckedName = "snmpcheck_stat_continuous";
  int64_t start = 1;
  int64_t end = 1;
  double result = 0;
  uint32_t status = 0;
  VX_FIELDS(snmpcheck_stat_continuous, start, end, result, status)
  bool valid() const;
  // "start=1, end=2, result=0.5, status=0"
  std::string statText() const;
};

struct snmpcheck_stat_enum {
  static constexpr const char* kCheckedName = "snmpcheck_stat_enum";
  int64_t start = 1;
  int64_t end = 1;
  uint32_t mask = 0;
  uint32_t status = 0;
  VX_FIELDS(snmpcheck_stat_enum, start, end, mask, status)
  bool valid() const;
  std::string statText() const { return {}; }
};

struct snmpcheck_stat_uptime {
  static constexpr const char* kCheckedName = "snmpcheck_stat_uptime";
  int64_t start = 1;
  int64_t end = 1;
  double result = 0;
  uint32_t status = 0;
  VX_FIELDS(snmpcheck_stat_uptime, start, end, result, status)
  bool valid() const;
  std::string statText() const { return {}; }
};

// Statistics of one ESXi performance counter over a stretch of time.
struct esxicheck_stat {
  int64_t start = 0;
  int64_t end = 0;
  tql::id_t entity;
  uint32_t counter_key = 0;
  uint32_t value = 0;
  uint32_t status = 0;
  VX_FIELDS(esxicheck_stat, start, end, entity, counter_key, value, status)
};

}  // namespace tsdb
