// Database payloads that reach the time-series store through the object database.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "queues/dbms/common.h"
#include "tsdb/data_interval.h"

namespace dbms {

using tsdb::interval_ptr;

struct TSDB_Get_Data_Data {
  id_t id;
  uint32_t index_property = 0;
  uint32_t flags = 0;
  bool raw = false;
  int64_t start = 0;
  int64_t end = 0;
  uint32_t count = 0;
  uint32_t offset = 0;
  VX_FIELDS(TSDB_Get_Data_Data, id, index_property, flags, raw, start, end, count, offset)
};

struct Return_TSDB_Get_Data_Data {
  uint32_t data_type = 0;
  std::vector<interval_ptr> data;
  uint32_t status = 0;
  Tql_Details details;
  VX_FIELDS(Return_TSDB_Get_Data_Data, data_type, data, status, details)
};

struct TSDB_Put_Data_Data {
  id_t id;
  uint32_t index_property = 0;
  uint32_t data_type = 0;
  std::vector<interval_ptr> data;
  VX_FIELDS(TSDB_Put_Data_Data, id, index_property, data_type, data)
};

using Return_TSDB_Put_Data_Data = Status_Reply;

struct TSDB_Merge_Data_Data {
  uint32_t tsdb_index = 0;
  uint32_t data_type = 0;
  std::vector<interval_ptr> data;
  VX_FIELDS(TSDB_Merge_Data_Data, tsdb_index, data_type, data)
};

using Return_TSDB_Merge_Data_Data = Status_Reply;

struct TSDB_Get_Latest_Data_Record_Data {
  id_t id;
  uint32_t index_property = 0;
  uint32_t flags = 0;
  VX_FIELDS(TSDB_Get_Latest_Data_Record_Data, id, index_property, flags)
};

struct Return_TSDB_Get_Latest_Data_Record_Data {
  uint32_t data_type = 0;
  interval_ptr data;
  uint32_t status = 0;
  Tql_Details details;
  VX_FIELDS(Return_TSDB_Get_Latest_Data_Record_Data, data_type, data, status, details)
};

struct TSDB_Append_Data_Record_Data {
  id_t id;
  uint32_t index_property = 0;
  uint32_t data_type = 0;
  interval_ptr data;
  uint32_t new_state = 0;
  VX_FIELDS(TSDB_Append_Data_Record_Data, id, index_property, data_type, data, new_state)
};

using Return_TSDB_Append_Data_Record_Data = Status_Reply;

struct TSDB_Append_Data_Data {
  id_t id;
  uint32_t index_property = 0;
  uint32_t data_type = 0;
  std::vector<interval_ptr> data;
  uint32_t new_state = 0;
  std::string encoded_result;
  VX_FIELDS(TSDB_Append_Data_Data, id, index_property, data_type, data, new_state, encoded_result)
};

using Return_TSDB_Append_Data_Data = Status_Reply;

struct TSDB_Truncate_Old_Data_Data {
  id_t id;
  uint32_t index_property = 0;
  int64_t time = 0;
  VX_FIELDS(TSDB_Truncate_Old_Data_Data, id, index_property, time)
};

using Return_TSDB_Truncate_Old_Data_Data = Status_Reply;

}  // namespace dbms
