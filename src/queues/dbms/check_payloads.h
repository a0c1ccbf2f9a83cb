// Database payloads about checks, hosts and check-ins.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "queues/dbms/common.h"
#include "queues/remcheck/remcheck_payloads.h"
#include "tsdb/check_stats.h"
#include "util/time_value.h"

namespace dbms {

struct Data_RemCheck_Data {
  id_t check_id;
  services::remcheck_stat stat;
  VX_FIELDS(Data_RemCheck_Data, check_id, stat)
};

struct Data_SnmpCheck_Continuous_Data {
  id_t check_id;
  tsdb::snmpcheck_stat_continuous stat;
  VX_FIELDS(Data_SnmpCheck_Continuous_Data, check_id, stat)
};

struct Data_SnmpCheck_Enum_Data {
  id_t check_id;
  tsdb::snmpcheck_stat_enum stat;
  VX_FIELDS(Data_SnmpCheck_Enum_Data, check_id, stat)
};

struct Data_SnmpCheck_Uptime_Data {
  id_t check_id;
  tsdb::snmpcheck_stat_uptime stat;
  VX_FIELDS(Data_SnmpCheck_Uptime_Data, check_id, stat)
};

struct Data_EsxiCheck_Data {
  id_t check_id;
  tsdb::esxicheck_stat stat;
  VX_FIELDS(Data_EsxiCheck_Data, check_id, stat)
};

struct Data_DomainExport_State_Data {
  id_t id;
  uint32_t state = 0;
  VX_FIELDS(Data_DomainExport_State_Data, id, state)
};

struct Put_Check_State_Data {
  id_t check_id;
  uint32_t new_state = 0;
  VX_FIELDS(Put_Check_State_Data, check_id, new_state)
};

struct Put_IncidentLog_Data {
  int32_t time = 0;
  id_t host_id;
  std::string text;
  uint32_t level = 0;
  VX_FIELDS(Put_IncidentLog_Data, time, host_id, text, level)
};

struct Return_Host_Configured_State_Data {
  bool configured = false;
  bool rescan = false;
  VX_FIELDS(Return_Host_Configured_State_Data, configured, rescan)
};

struct Set_Host_Reconfigured_Data {
  id_t hostid;
  bool configure = false;
  id_t new_id;
  VX_FIELDS(Set_Host_Reconfigured_Data, hostid, configure, new_id)
};

struct Set_Host_Rescan_Data {
  id_t hostid;
  bool rescan = false;
  id_t new_id;
  VX_FIELDS(Set_Host_Rescan_Data, hostid, rescan, new_id)
};

struct Checkin_Start_Data {
  id_t node_id;
  VX_FIELDS(Checkin_Start_Data, node_id)
};

struct Checkin_Complete_Data {
  id_t node_id;
  int64_t checkin_time = 0;
  VX_FIELDS(Checkin_Complete_Data, node_id, checkin_time)
};

struct Checkin_Abort_Data {
  id_t node_id;
  VX_FIELDS(Checkin_Abort_Data, node_id)
};

// One agent check result of a check-in.
struct AgentCheck_Record {
  id_t check_id;
  int64_t ctime = 0;
  uint32_t result = 0;
  std::string text;
  bool changed = false;
  uint32_t status = 0;
  VX_FIELDS(AgentCheck_Record, check_id, ctime, result, text, changed, status)
};

struct Data_AgentCheck_Data {
  std::vector<AgentCheck_Record> data;
  VX_FIELDS(Data_AgentCheck_Data, data)
};

struct Return_Data_AgentCheck_Data {
  uint64_t good = 0;
  uint64_t fail = 0;
  bool should_reconfigure = false;
  VX_FIELDS(Return_Data_AgentCheck_Data, good, fail, should_reconfigure)
};

struct Host_Rebooted_Data {
  id_t host;
  id_t uptime_check;
  id_t new_id1;
  id_t new_id2;
  VX_FIELDS(Host_Rebooted_Data, host, uptime_check, new_id1, new_id2)
};

struct Execute_Remedy_Data {
  id_t host;
  id_t remedy;
  VX_FIELDS(Execute_Remedy_Data, host, remedy)
};

struct Late_Checkin_Data {
  id_t node;
  VX_FIELDS(Late_Checkin_Data, node)
};

struct Audit_Event_Data {
  id_t user;
  std::string comment;
  std::vector<id_t> objects;
  TimeValue time;
  uint32_t operation = 0;
  uint32_t result = 0;
  VX_FIELDS(Audit_Event_Data, user, comment, objects, time, operation, result)
};

struct Return_Tql_Class_Names_Data {
  std::vector<std::string> names;
  VX_FIELDS(Return_Tql_Class_Names_Data, names)
};

struct Property_Name {
  uint32_t number = 0;
  std::string name;
  VX_FIELDS(Property_Name, number, name)
};

struct Return_Tql_Property_Names_Data {
  std::vector<Property_Name> names;
  VX_FIELDS(Return_Tql_Property_Names_Data, names)
};

}  // namespace dbms
