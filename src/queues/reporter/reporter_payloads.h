// Payloads of the report worker.
#pragma once

#include <cstdint>

#include "tql/id.h"
#include "tql/property_types.h"
#include "wire/codec.h"

namespace reporter {

struct Scheduled_Report_Generation_Data {
  tql::id_t id;
  tql::version_t version;
  int64_t time = 0;
  VX_FIELDS(Scheduled_Report_Generation_Data, id, version, time)
};

}  // namespace reporter
