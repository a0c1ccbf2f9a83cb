// Payloads of the alarm worker.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tql/id.h"
#include "tql/property_types.h"
#include "wire/codec.h"

namespace alarms {

using tql::id_t;

struct Immediate_State_Data {
  id_t id;
  uint32_t state = 0;
  VX_FIELDS(Immediate_State_Data, id, state)
};

struct Immediate_States_Data {
  std::vector<Immediate_State_Data> states;
  VX_FIELDS(Immediate_States_Data, states)
};

struct Checkin_Data {
  id_t id;
  int64_t checkin_time = 0;
  VX_FIELDS(Checkin_Data, id, checkin_time)
};

struct Acknowledge_Alert_Data {
  id_t user;
  std::string comment;
  id_t object;
  VX_FIELDS(Acknowledge_Alert_Data, user, comment, object)
};

struct Reset_Score_Data {
  id_t user;
  std::string comment;
  id_t object;
  bool recursive = false;
  VX_FIELDS(Reset_Score_Data, user, comment, object, recursive)
};

struct Set_Status_Data {
  id_t id;
  uint32_t status = 0;
  int64_t entered_warn = 0;
  int64_t entered_remedy = 0;
  int64_t entered_alert = 0;
  VX_FIELDS(Set_Status_Data, id, status, entered_warn, entered_remedy, entered_alert)
};

struct Alarm_Notify_Data {
  id_t id;
  tql::version_t seq;
  VX_FIELDS(Alarm_Notify_Data, id, seq)
};

}  // namespace alarms
