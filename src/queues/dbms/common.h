// Small structures that many database payloads share.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tql/id.h"
#include "tql/property_types.h"
#include "wire/codec.h"

namespace dbms {

using tql::id_t;
using tql::version_t;

// One (code, text) entry of a reply's details; codes are TQL error codes.
struct Tql_Detail {
  uint32_t code = 0;
  std::string text;
  VX_FIELDS(Tql_Detail, code, text)
};
using Tql_Details = std::vector<Tql_Detail>;

// The reply of the requests that answer with a status only; only the event number tells the
// replies apart.
struct Status_Reply {
  uint32_t status = 0;
  Tql_Details details;
  VX_FIELDS(Status_Reply, status, details)
};

// Where an object came from: the station, the mount point and the build that made it.
struct Origin {
  id_t station;
  id_t mountpoint;
  uint32_t build = 0;
  VX_FIELDS(Origin, station, mountpoint, build)
};

// One step of an object's path: its identifier and its class.
struct Id_Class {
  id_t id;
  uint32_t class_ = 0;
  VX_FIELDS(Id_Class, id, class_)
};

}  // namespace dbms
