#include "reference/reference_worker.h"

#include <spdlog/sinks/stdout_sinks.h>
#include <spdlog/spdlog.h>

#include <cstring>
#include <sstream>

#include "io/wait.h"
#include "queues/catalogue.h"

namespace reference {

using queues::queue_t;

namespace {

// Variable values can be long (the saved entropy pool is one): traces show their start.
std::string shortened(const std::string& value) {
  constexpr size_t kMax = 40;
  return value.size() <= kMax ? value : value.substr(0, kMax) + "...";
}

std::string queueList(const std::set<queue_t>& queues) {
  std::string s;
  for (queue_t q : queues)
    s += (s.empty() ? "" : ", ") + queues::queueName(q);
  return s;
}

}  // namespace

Uptime::Uptime(meter::Group* parent, std::string name)
    : Metric(parent, std::move(name), "s", "Seconds since the worker attached"),
      start_us_(meter::MicroSecondTiming::steadyMicroseconds()) {}

meter::MetricValue Uptime::value() const {
  return (meter::MicroSecondTiming::steadyMicroseconds() - start_us_) / 1000000;
}

Counters::Counters()
    : events(nullptr, "events"),
      received(&events, "received", "events", "Events read from any peer"),
      by_type(&events, "by_type", {{"count", "events", "Events of this type read"}}),
      requests(nullptr, "requests"),
      served(&requests, "served", "requests",
             "SYS_EXIT, SET_LOG_LEVEL and metric queries from the supervisor"),
      sent(&requests, "sent", "requests", "Requests and messages sent to the supervisor"),
      round_trip(&requests, "round_trip", "Blocking requests, from sending to the reply"),
      uptime(nullptr, "uptime") {}

ReferenceWorker::ReferenceWorker(worker::Worker& w, Behaviours b) : w_(w), b_(std::move(b)) {
  events_log_ = spdlog::get("events");
  if (!events_log_) {
    events_log_ = std::make_shared<spdlog::logger>(
        "events", std::make_shared<spdlog::sinks::stderr_sink_mt>());
    events_log_->set_pattern("%n %l: %v");
    events_log_->set_level(spdlog::level::info);
    spdlog::register_logger(events_log_);
  }
}

void ReferenceWorker::trace(const std::string& msg) {
  if (!b_.trace) return;
  ++counters_.sent;
  w_.log(msg);
}

void ReferenceWorker::report(const std::string& msg) {
  spdlog::warn("{}", msg);
  ++counters_.sent;
  try {
    w_.log(msg);
  } catch (const error::Exception&) {
    // Leaving already: standard error still reaches the supervisor's log.
  }
}

void ReferenceWorker::observe(const queues::event& ev, queue_t from) {
  ++counters_.received;
  counters_.by_type.add(queues::eventName(ev.type), 0);
  if (from == queues::QUEUE_MAIN && worker::isSupervisorRequest(ev)) ++counters_.served;
  std::string line = "got " + queues::eventName(ev.type) + " from " + queues::queueName(from) +
                     " (inresponse " + std::to_string(static_cast<int32_t>(ev.inresponse)) + ")";
  events_log_->debug("{}", line);
  // Our own log requests must not be traced while we leave: only the supervisor listens then.
  if (!w_.leaving()) trace(line);
}

bool ReferenceWorker::onExit() {
  if (b_.ignore_exit) {
    report("ignoring SYS_EXIT");
    return false;
  }
  trace("leaving on SYS_EXIT");
  return true;
}

void ReferenceWorker::onPeerGone(queue_t q, bool refused) {
  if (refused) {
    report("send to " + queues::queueName(q) + " refused by the supervisor: messages lost");
  } else {
    trace(queues::queueName(q) + " has gone");
  }
}

void ReferenceWorker::sendInitOk() {
  w_.initOk(b_.depend_on);
  trace("INIT_OK sent (depend_on: " + queueList(b_.depend_on) + ")");
  if (b_.second_init_ok) {
    w_.initOk(b_.depend_on);
    trace("second INIT_OK sent");
  }
  w_.supportMetrics(meter::Registry::root());
  if (b_.store_var) {
    w_.storeVariables({{b_.store_var->first, b_.store_var->second}});
    trace("stored variable " + b_.store_var->first);
  }
  if (b_.request_spawn) {
    w_.requestSpawn(*b_.request_spawn);
    trace("asked to spawn " + queues::queueName(*b_.request_spawn));
  }
  if (b_.entropy) {
    queues::ev<queues::GET_PURE_ENTROPY> ask(queues::QUEUE_MAIN, 0, *b_.entropy);
    ++counters_.sent;
    w_.send(queues::QUEUE_MAIN, ask);
    trace("asked for " + std::to_string(*b_.entropy) + " bytes of pure entropy");
  }
  if (b_.send) sendEvents(b_.send->queue, b_.send->count);
  if (b_.garbage) writeGarbage();
  if (b_.ping_ms > 0) w_.after(std::chrono::milliseconds(b_.ping_ms), [this] { ping(); });
}

// The round trip of a request as this worker sees it: how responsive the supervisor is.
void ReferenceWorker::ping() {
  if (w_.leaving()) return;
  uint64_t start = meter::MicroSecondTiming::steadyMicroseconds();
  ++counters_.sent;
  w_.pseudoRandom(8);
  uint64_t took = meter::MicroSecondTiming::steadyMicroseconds() - start;
  ++counters_.sent;
  w_.log("ping answered in " + std::to_string(took) + " us");
  w_.after(std::chrono::milliseconds(b_.ping_ms), [this] { ping(); });
}

void ReferenceWorker::sendEvents(queue_t q, int count) {
  try {
    for (int k = 0; k < count; ++k) {
      queues::ev<queues::REQUEST_RESULT> ev(q, 0, k);
      w_.send(q, ev);
    }
    trace("sent " + std::to_string(count) + " REQUEST_RESULT to " + queues::queueName(q));
  } catch (const worker::EPeerGone& e) {
    report(std::string("send failed: ") + e.what());
  }
}

// An event number no catalogue has: whoever reads it cannot go on with this stream.
void ReferenceWorker::writeGarbage() {
  static const uint32_t kWords[4] = {250, 0, 0, 0};
  io::OStream& os = w_.messenger().sibling(queues::QUEUE_MAIN)->ostream();
  io::waitReady(os);
  uint8_t* p;
  size_t room = os.writeBegin(p);
  size_t n = std::min(room, sizeof kWords);
  std::memcpy(p, kWords, n);
  os.writeCommit(n);
  w_.messenger().flush();
  trace("wrote garbage");
}

int ReferenceWorker::run() {
  w_.onEvery([this](const queues::event& ev, queue_t from) { observe(ev, from); });
  w_.onExit([this](const control::Sys_Exit_Data&) { return onExit(); });
  w_.onPeerGone([this](queue_t q, bool refused) { onPeerGone(q, refused); });
  // Everything read is counted and traced by observe(); nothing else is done with it.
  w_.onUnhandled([](queues::event&, queue_t) {});
  const worker::Identity& id = w_.identity();
  trace("started as " + id.sname + " (queue " + std::to_string(id.queue) + ", program " +
        id.program + ")");
  if (b_.exit) {
    int code = b_.exit->code;
    w_.after(std::chrono::milliseconds(b_.exit->after_ms), [this, code] {
      trace("ending on its own with exit code " + std::to_string(code));
      if (code == 0)
        w_.leave(0);
      else
        w_.quit(code);
    });
  }
  // The configuration and the variables are asked for together: one round trip, not two,
  // on the way to INIT_OK.
  worker::Worker::Settings settings;
  {
    meter::MicroSecondTiming::Scope timing(counters_.round_trip);
    counters_.sent += 2;
    settings = w_.requestSettings();
  }
  const control::Server_Configuration_Fields& config = settings.config;
  const std::map<std::string, std::string>& vars = settings.vars;
  trace("configuration received (host " + config.host_name + ", passive " +
        (config.passive ? "1" : "0") + ")");
  std::string text;
  for (const auto& [name, value] : vars)
    text += (text.empty() ? "" : ", ") + name + "=" + shortened(value);
  trace("variables received: " + (text.empty() ? std::string("none") : text));
  if (b_.init_delay_ms > 0) {
    w_.after(std::chrono::milliseconds(b_.init_delay_ms), [this] { sendInitOk(); });
  } else {
    sendInitOk();
  }
  return w_.run();
}

}  // namespace reference
