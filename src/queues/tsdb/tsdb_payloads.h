// Payloads of the time-series store's own events.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "queues/queue.h"
#include "tsdb/data_interval.h"
#include "wire/codec.h"

namespace tsdb {

// One resolution level of a time series: the seconds one entry covers and how many it keeps.
struct layout_level_t {
  uint32_t resolution = 0;
  uint32_t entries = 0;
  VX_FIELDS(layout_level_t, resolution, entries)
};

struct time_series_layout_t {
  uint32_t data_type = 0;
  std::vector<layout_level_t> levels;
  VX_FIELDS(time_series_layout_t, data_type, levels)
};

struct Get_Data_Data {
  uint32_t handle = 0;
  uint32_t data_type = 0;
  uint32_t flags = 0;
  bool raw = false;
  int64_t start = 0;
  int64_t end = 0;
  uint32_t count = 0;
  uint32_t offset = 0;
  VX_FIELDS(Get_Data_Data, handle, data_type, flags, raw, start, end, count, offset)
};

struct Return_Get_Data_Data {
  uint32_t data_type = 0;
  std::vector<interval_ptr> data;
  VX_FIELDS(Return_Get_Data_Data, data_type, data)
};

struct Put_Data_Data {
  queues::queue_t orig_requester = queues::QUEUE_MAIN;
  uint32_t handle = 0;
  uint32_t operation = 0;
  uint32_t data_type = 0;
  std::vector<interval_ptr> data;
  VX_FIELDS(Put_Data_Data, orig_requester, handle, operation, data_type, data)
};

struct Truncate_Old_Data_Data {
  uint32_t handle = 0;
  int64_t time = 0;
  VX_FIELDS(Truncate_Old_Data_Data, handle, time)
};

struct Recovery_Merge_TimeSeries_Data {
  uint32_t handle = 0;
  std::vector<std::string> data;
  VX_FIELDS(Recovery_Merge_TimeSeries_Data, handle, data)
};

}  // namespace tsdb
