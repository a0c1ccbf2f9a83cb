// Payloads of the remote-check worker and the check statistics its services report.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "tql/id.h"
#include "tql/property.h"
#include "wire/codec.h"

namespace services {

struct remcheck_stat {
  int64_t ctime = 0;
  tql::id_t check_id;
  uint32_t result = 0;
  uint32_t replytime = 0;
  uint32_t attempts = 0;
  std::vector<std::string> result_strings;
  VX_FIELDS(remcheck_stat, ctime, check_id, result, replytime, attempts, result_strings)
};

}  // namespace services

namespace remcheck {

using tql::id_t;

struct Remote_Check_Data {
  id_t id;
  VX_FIELDS(Remote_Check_Data, id)
};

struct Check_Timeout_Data {
  id_t id;
  uint32_t serial = 0;
  int64_t ctime = 0;
  VX_FIELDS(Check_Timeout_Data, id, serial, ctime)
};

struct Icmp_Request_Data {
  uint32_t cmd = 0;
  std::string host;
  uint32_t addr = 0;
  id_t id;
  uint32_t serial = 0;
  uint32_t good_time = 0;
  uint32_t acceptable_time = 0;
  uint32_t max_attempts = 0;
  VX_FIELDS(Icmp_Request_Data, cmd, host, addr, id, serial, good_time, acceptable_time,
            max_attempts)
};

struct Icmp_Echo_Reply_Data {
  id_t id;
  uint32_t serial = 0;
  services::remcheck_stat stats;
  VX_FIELDS(Icmp_Echo_Reply_Data, id, serial, stats)
};

struct remcheck_conf {
  std::string host;
  uint32_t addr = 0;
  id_t id;
  uint32_t service = 0;
  uint32_t port = 0;
  uint32_t frequency = 0;
  uint32_t warnIfAbove = 0;
  uint32_t alertIfAbove = 0;
  std::string libssl;
  std::map<uint32_t, tql::property_ptr> properties;
  VX_FIELDS(remcheck_conf, host, addr, id, service, port, frequency, warnIfAbove, alertIfAbove,
            libssl, properties)
};

}  // namespace remcheck
