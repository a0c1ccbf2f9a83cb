// Payloads of the grid router.
#pragma once

#include <cstdint>

#include "wire/codec.h"

namespace router {

struct SubscribeEpsecChange_Data {
  VX_NO_FIELDS(SubscribeEpsecChange_Data)
};

struct EpsecChangeNotification_Data {
  bool confirmed = false;
  uint32_t gid = 0;
  uint32_t major = 0;
  uint32_t minor = 0;
  uint32_t release = 0;
  uint32_t buildno = 0;
  VX_FIELDS(EpsecChangeNotification_Data, confirmed, gid, major, minor, release, buildno)
};

}  // namespace router
