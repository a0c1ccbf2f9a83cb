// Payloads of the SNMP and ESXi workers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tql/id.h"
#include "wire/codec.h"

namespace snmp {

struct Esxi_Probe_Data {
  std::string hostname;
  std::string endpoint;
  uint32_t port = 0;
  VX_FIELDS(Esxi_Probe_Data, hostname, endpoint, port)
};

struct Esxi_Probe_Result_Data {
  VX_NO_FIELDS(Esxi_Probe_Result_Data)
};

struct Snmp_Check_Data {
  tql::id_t id;
  VX_FIELDS(Snmp_Check_Data, id)
};

struct Snmp_Timeout_Data {
  uint32_t req_id = 0;
  VX_FIELDS(Snmp_Timeout_Data, req_id)
};

struct Snmp_Oid_Probe_Data {
  std::string hostname;
  std::string community;
  std::string password;
  uint32_t version = 0;
  VX_FIELDS(Snmp_Oid_Probe_Data, hostname, community, password, version)
};

struct Snmp_Probe_Timeout_Data {
  uint32_t req_id = 0;
  VX_FIELDS(Snmp_Probe_Timeout_Data, req_id)
};

struct Snmp_Probe_Result_Data {
  std::vector<uint32_t> oid;
  uint32_t version = 0;
  VX_FIELDS(Snmp_Probe_Result_Data, oid, version)
};

}  // namespace snmp
