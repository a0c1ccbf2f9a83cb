// Database payloads of NetCheck definitions, identifier walks, traces, deletions and candidate
// nodes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "queues/dbms/common.h"

namespace dbms {

// A custom NetCheck definition: its name, the command to run and the pattern its result must
// match.
struct NetCheck_Definition {
  std::string name;
  std::string command;
  std::string result_pattern;
  VX_FIELDS(NetCheck_Definition, name, command, result_pattern)
};

struct Update_NetChecks_Data {
  std::vector<NetCheck_Definition> checks;
  VX_FIELDS(Update_NetChecks_Data, checks)
};

struct Return_NetCheck_Info_Data {
  std::string command;
  std::string result_pattern;
  VX_FIELDS(Return_NetCheck_Info_Data, command, result_pattern)
};

struct Get_First_ID_Data {
  VX_NO_FIELDS(Get_First_ID_Data)
};

struct Return_ID_Data {
  Origin origin;
  std::vector<Id_Class> id_trace;
  version_t obj_ver;
  VX_FIELDS(Return_ID_Data, origin, id_trace, obj_ver)
};

struct Get_Next_ID_Data {
  id_t id;
  VX_FIELDS(Get_Next_ID_Data, id)
};

struct Get_First_MasterID_Data {
  id_t mountpoint_id;
  VX_FIELDS(Get_First_MasterID_Data, mountpoint_id)
};

struct Return_MasterID_Data {
  bool skip_this = false;
  id_t id;
  id_t master_id;
  version_t obj_ver;
  version_t master_ver;
  uint32_t master_build = 0;
  uint32_t slave_build = 0;
  bool locally_modified = false;
  VX_FIELDS(Return_MasterID_Data, skip_this, id, master_id, obj_ver, master_ver, master_build,
            slave_build, locally_modified)
};

struct Get_Next_MasterID_Data {
  id_t mountpoint_id;
  id_t master_id;
  VX_FIELDS(Get_Next_MasterID_Data, mountpoint_id, master_id)
};

struct Get_Trace_Data {
  id_t id;
  VX_FIELDS(Get_Trace_Data, id)
};

struct Return_Trace_Data {
  Origin origin;
  std::vector<Id_Class> id_trace;
  version_t obj_ver;
  VX_FIELDS(Return_Trace_Data, origin, id_trace, obj_ver)
};

struct Get_Deleted_Data {
  id_t id;
  id_t mountpoint;
  VX_FIELDS(Get_Deleted_Data, id, mountpoint)
};

struct Get_Deleted_MasterId_Data {
  id_t master_id;
  id_t mountpoint;
  VX_FIELDS(Get_Deleted_MasterId_Data, master_id, mountpoint)
};

struct Return_Deleted_Data {
  id_t id;
  version_t version;
  id_t master_id;
  version_t master_version;
  VX_FIELDS(Return_Deleted_Data, id, version, master_id, master_version)
};

struct Retire_Deleted_Data {
  id_t id;
  version_t version;
  VX_FIELDS(Retire_Deleted_Data, id, version)
};

struct Add_Candidate_Node_Data {
  std::string node_name;
  id_t domain_id;
  std::string remaining_domain_name;
  VX_FIELDS(Add_Candidate_Node_Data, node_name, domain_id, remaining_domain_name)
};

}  // namespace dbms
