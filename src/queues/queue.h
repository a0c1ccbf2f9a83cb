// Queue (process) identifiers and their four-letter names, declared once as a table.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

#include "wire/codec.h"

namespace queues {

// X(value, enumerator suffix, printed name)
#define VX_QUEUE_TABLE(X) \
  X(-1, NONE, "none")     \
  X(0, MAIN, "main")      \
  X(1, SCHD, "schd")      \
  X(2, DBMS, "dbms")      \
  X(3, RMCH, "rmch")      \
  X(4, SKIO, "skio")      \
  X(5, ALRM, "alrm")      \
  X(6, ALRT, "alrt")      \
  X(7, SNMP, "snmp")      \
  X(8, BRDC, "brdc")      \
  X(9, BNCH, "bnch")      \
  X(10, PORT, "port")     \
  X(11, KEYG, "keyg")     \
  X(12, REPT, "rept")     \
  X(13, FORC, "forc")     \
  X(14, KNGT, "kngt")     \
  X(15, NETS, "nets")     \
  X(16, GRID, "grid")     \
  X(17, NCUP, "ncup")     \
  X(18, GMAS, "gmas")     \
  X(19, GSAT, "gsat")     \
  X(20, TSDB, "tsdb")     \
  X(21, UPLN, "upln")     \
  X(22, ESXI, "esxi")     \
  X(23, WAPI, "wapi")     \
  X(24, EXTRA, "extra")

// A signed 32-bit queue identifier. Any value is valid (queue_t(25) is fine); the enumerators
// name the queues the server knows. 0 is the supervisor.
enum queue_t : int32_t {
#define VX_QUEUE_ENUM(v, id, name) QUEUE_##id = v,
  VX_QUEUE_TABLE(VX_QUEUE_ENUM)
#undef VX_QUEUE_ENUM
};

// The queue's name; an unknown value is its decimal number with "x" put in front until it is
// four characters long (25 gives "xx25").
std::string queueName(queue_t q);
inline std::string queueName(int32_t q) {
  return queueName(static_cast<queue_t>(q));
}

}  // namespace queues

// On the wire a queue identifier is its 4 bytes; its text form is the queue's name. Declared
// beside the type so that every use of the type sees it.
namespace wire {
template <>
struct Codec<queues::queue_t> {
  static constexpr size_t kMinSize = 4;
  static void write(protocol::ioprim& io, const queues::queue_t& v) { detail::putRaw(io, v); }
  static void read(protocol::ioprim& io, queues::queue_t& v) {
    v = detail::getRaw<queues::queue_t>(io);
  }
  static void print(std::ostream& os, const queues::queue_t& v, int) {
    os << queues::queueName(v) << '\n';
  }
};
}  // namespace wire
