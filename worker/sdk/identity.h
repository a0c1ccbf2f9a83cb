// Who a worker program is: its queue and short name, found from the name it was started
// under. One program may be installed under several names and serve a different queue under
// each; a name the worker table does not know is the extra process.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "queues/queue.h"

namespace worker {

struct Identity {
  queues::queue_t queue = queues::QUEUE_EXTRA;
  // Four-letter short name of the row ("dbms"); "extr" for the extra process.
  std::string sname;
  // The program name as started.
  std::string program;
  // The row's flags (queues::kDemandLoad, ...).
  uint32_t flags = 0;

  bool demandLoad() const;
  // "DBMS": the short name in upper case, as environment variable names use it.
  std::string upperName() const;

  // From argv[0] (a path or a bare name, with or without ".exe").
  static Identity fromProgram(std::string_view program);
  // The row of a queue; any queue without a row is named by queues::queueName.
  static Identity forQueue(queues::queue_t queue);
};

// A queue given by short name ("keyg", also "extr"/"extra"), by four-letter queue name or by
// number. Unknown text raises error::EParseError.
queues::queue_t parseQueue(std::string_view text);

}  // namespace worker
