// Payloads of the network scan worker.
#pragma once

#include <cstdint>

#include "wire/codec.h"

namespace scan {

struct Scan_Request_Data {
  uint32_t ip = 0;
  uint32_t port = 0;
  VX_FIELDS(Scan_Request_Data, ip, port)
};

struct Scan_Result_Data {
  uint32_t ip = 0;
  uint32_t port = 0;
  bool ok = false;
  VX_FIELDS(Scan_Result_Data, ip, port, ok)
};

}  // namespace scan
