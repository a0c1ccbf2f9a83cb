// The worker runtime: what every worker program of the server is built on.
//
//   worker::Worker w(worker::Identity::fromProgram(argv[0]));   // attached, own area known
//   auto config = w.requestConfiguration();                     // blocking request
//   w.on<queues::REQUEST_RESULT>([&](auto& ev, queues::queue_t from) { ... });
//   w.supportMetrics(meter::Registry::root());
//   w.initOk({queues::QUEUE_DBMS});
//   return w.run();                                   // 0 after SYS_EXIT and an orderly leave
//
// One thread, one reactor. run() waits for the next ready selectable and runs its handler:
// events from any peer (one handler per event number), user selectables, timers. The events
// the supervisor sends on its own behalf are answered inside the runtime: SYS_EXIT (leave),
// the metric queries (from the tree given to supportMetrics), SET_LOG_LEVEL (applied to the
// spdlog loggers, see log_levels.h). Handlers registered for those numbers are not called for
// them; the observer (onEvery) sees every event.
//
// Blocking requests (call and the typed helpers) send the request and then read only the
// supervisor's stream until the reply with the request's inresponse arrives. Meanwhile metric
// queries and log levels are answered at once; every other event read is kept and handed to
// the handlers, in order, when the loop runs again. Other peers' streams simply wait. No
// handler is ever called from inside a blocking request.
//
// A send that waits for room in this worker's area, and a read that waits for the rest of an
// event, take in every peer's messages meanwhile without parsing them (guarded_streams.h), so
// that workers writing large events to each other never wait for one another forever.
//
// A supervisor that has gone (its FIFO lost its reader, or its stream ended while this worker
// was not leaving) ends run() with kExitSupervisorGone, and makes a blocking request raise
// ESupervisorGone; neither waits for anything.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "io/closure.h"
#include "io/selector.h"
#include "io/sibling/sibling_messenger.h"
#include "io/timer.h"
#include "meter/group.h"
#include "queues/events_control.h"
#include "sdk/errors.h"
#include "sdk/identity.h"
#include "sdk/parent_watch.h"
#include "wire/ioprim.h"

namespace worker {

// Exit code of a worker whose supervisor went away.
inline constexpr int kExitSupervisorGone = 2;

using Timeout = std::chrono::milliseconds;
inline constexpr Timeout kForever = Timeout::max();

struct Options {
  // Prefix of the pool's environment variables ("smem::mapfile", ...).
  std::string env_prefix = "smem";
  // How long attaching waits for the supervisor to assign this worker's area.
  Timeout attach_timeout = std::chrono::seconds(30);
};

// The events the supervisor sends as requests of its own, which the runtime answers itself
// (SYS_EXIT, SET_LOG_LEVEL and the metric queries). They may carry any inresponse and are
// never replies.
bool isSupervisorRequest(const queues::event& ev);

class ConditionFront;
class GuardedIStream;
class GuardedOStream;

class Worker {
 public:
  using Handler = std::function<void(queues::event& ev, queues::queue_t from)>;
  using Observer = std::function<void(const queues::event& ev, queues::queue_t from)>;
  using ReplyHandler = std::function<void(queues::event& reply)>;
  using Callback = std::function<void()>;
  using TimerId = uint64_t;

  // Attaches to the pool named by the environment and connects as identity.queue; returns
  // when the supervisor has assigned this worker its area. Raises ESupervisorGone when there
  // is no supervisor, ETimeout after options.attach_timeout, error::EFatal for a missing or
  // malformed pool variable.
  explicit Worker(Identity identity, Options options = {});
  ~Worker();
  Worker(const Worker&) = delete;
  Worker& operator=(const Worker&) = delete;

  const Identity& identity() const { return identity_; }
  queues::queue_t queue() const { return identity_.queue; }
  io::SiblingMessenger& messenger() { return *m_; }

  // ---- Handlers (called from run()) ----

  // The handler of one event number; replaces an earlier one.
  void on(queues::event_t number, Handler handler);
  template <queues::event_t N>
  void on(std::function<void(queues::ev<N>& ev, queues::queue_t from)> handler) {
    on(N, [h = std::move(handler)](queues::event& ev, queues::queue_t from) {
      if (auto* e = queues::as<N>(ev)) h(*e, from);
    });
  }
  // Events without a handler (including unmatched exception replies). Without one they are
  // dropped with a debug line.
  void onUnhandled(Handler handler) { unhandled_ = std::move(handler); }
  // Sees every event read, before it is handled (for counting and tracing).
  void onEvery(Observer observer) { observer_ = std::move(observer); }
  // A peer's stream ended: it left or died, or (refused true) the supervisor refused to
  // connect it while messages for it were waiting; those messages are lost.
  void onPeerGone(std::function<void(queues::queue_t queue, bool refused)> handler) {
    peer_gone_ = std::move(handler);
  }
  // SYS_EXIT arrived. Returning true leaves at once (the default without a handler); false
  // keeps the worker running (it may call leave() later, for instance after its own last
  // messages to its peers).
  void onExit(std::function<bool(const control::Sys_Exit_Data&)> handler) {
    on_exit_ = std::move(handler);
  }

  // ---- Peers ----

  // Writes ev to queue `to` (setting its dest to `to`) and makes it visible. A peer that is
  // not connected yet is asked of the supervisor, which connects it (starting it when it is
  // demand-loaded) or refuses; the event waits for it meanwhile, and a refusal is reported
  // through onPeerGone. Writing to a peer already known to be gone raises EPeerGone.
  void send(queues::queue_t to, queues::event& ev);
  // Blocks until `to` is connected (EPeerGone when refused or gone, ETimeout). Only a peer
  // that something was sent to, or that introduced itself, ever connects.
  void waitPeer(queues::queue_t to, Timeout timeout = kForever);

  // ---- The supervisor ----

  // INIT_OK with the queues this worker still needs while it shuts down. Send it once.
  void initOk(const std::set<queues::queue_t>& depend_on = {});
  // Sends a request to the supervisor with a fresh inresponse and calls on_reply (from run())
  // with the reply that carries it, which may be an exception reply. Returns the inresponse.
  uint32_t request(queues::event& req, ReplyHandler on_reply);
  // Sends a request and blocks until its reply (see the top of this file). ETimeout after
  // `timeout`; a reply arriving later is dropped.
  std::unique_ptr<queues::event> call(queues::event& req, Timeout timeout = kForever);
  // Sends every request at once and blocks until all replies have arrived, in the order of
  // `reqs`: several questions for one round trip. ETimeout when they are not all in within
  // `timeout`; replies arriving later are dropped.
  std::vector<std::unique_ptr<queues::event>> callAll(const std::vector<queues::event*>& reqs,
                                                      Timeout timeout = kForever);

  // Blocking typed requests; an exception reply raises ERequestFailed with its text.
  control::Server_Configuration_Fields requestConfiguration(Timeout timeout = kForever);
  std::map<std::string, std::string> requestVariables(Timeout timeout = kForever);
  // Both of the above in one round trip, as a worker asks for them before its INIT_OK.
  struct Settings {
    control::Server_Configuration_Fields config;
    std::map<std::string, std::string> vars;
  };
  Settings requestSettings(Timeout timeout = kForever);
  // The supervisor answers only when its entropy pool holds `bytes` bytes.
  std::string pureEntropy(uint32_t bytes, Timeout timeout = kForever);
  std::string pseudoRandom(uint32_t bytes, bool prefer_pure_entropy = false,
                           Timeout timeout = kForever);
  // One-way messages: no reply exists.
  // A non-empty value sets a variable, an empty one removes it.
  void storeVariables(const std::map<std::string, std::string>& vars);
  // Logged by the supervisor as "[" + sname + "]: " + msg.
  void log(const std::string& msg, int32_t log_type = 0);
  // Asks the supervisor to start a demand-loaded worker.
  void requestSpawn(queues::queue_t queue);
  // Sends SUPPORTS_METRICS and answers metric queries from `root` from now on. Without it,
  // queries are answered with "Metrics not supported" and an empty list.
  void supportMetrics(const meter::Group& root);

  // ---- The reactor ----

  // Runs `fn` whenever s is ready; s stays watched until unwatch (or its destruction).
  void watch(io::Selectable& s, Callback fn);
  void unwatch(io::Selectable& s);
  // Runs `fn` once after `delay`.
  TimerId after(Timeout delay, Callback fn);
  void cancel(TimerId id);

  // ---- Life ----

  // Serves until the worker has left: returns the exit code given to leave() or quit(), 0
  // after SYS_EXIT, kExitSupervisorGone when the supervisor went away. Exceptions thrown by
  // handlers pass through.
  int run();
  // Orderly leave: tells the supervisor, which asks every peer to read what this worker sent;
  // run() returns exit_code once that is done. From now on only the supervisor can be written
  // to, and events from peers are read and dropped (metric queries are still answered).
  void leave(int exit_code = 0);
  // Ends run() at once, without the leave handshake: the supervisor learns it from the
  // process's end. For a worker that fails on purpose.
  void quit(int exit_code);
  bool leaving() const { return leaving_; }

 private:
  friend class GuardedIStream;
  friend class GuardedOStream;

  struct Peer {
    io::SiblingMessenger::SiblingRef si;
    std::unique_ptr<GuardedIStream> in;
    std::unique_ptr<GuardedOStream> out;
    // Ready while there is something to read: held bytes or a message of the sibling stream.
    std::unique_ptr<ConditionFront> readable;
    std::unique_ptr<protocol::ioprim> prim;  // destroyed first: it uses the streams above
    bool watched = false;                    // `readable` is in the loop's selector
    bool reading = false;                    // an event of it is being read
    bool poisoned = false;                   // it sent bytes that are not events
    bool waiting = false;                    // something was sent before it connected
    bool connected = false;
  };
  // What a blocking wait reads while it waits: the supervisor's events (a request, a wait for
  // a peer), or every peer's messages, held unparsed (a write that waits for room, a read that
  // waits for the rest of an event; see guarded_streams.h).
  enum class Serve { Supervisor, Peers };
  using Closure = refcount_ptr<BindBase<void>>;

  Peer& peer(queues::queue_t q);
  bool peersChanged() const;
  void refreshPeers();
  void refreshPeer(int32_t q);
  bool readable(int32_t q) const;
  void readFrom(int32_t q);
  std::unique_ptr<queues::event> readEvent(int32_t q);
  // Reads what a poisoned peer sent and drops it; false at its end.
  bool discard(int32_t q);
  void peerEnded(int32_t q);
  void dispatch(queues::event& ev, queues::queue_t from);
  void defer(std::unique_ptr<queues::event> ev, queues::queue_t from);
  // Answers what the runtime answers itself; false for anything else.
  bool handleInternally(queues::event& ev, queues::queue_t from);
  void reply(queues::queue_t to, queues::event& ev);
  uint32_t nextRequestId();
  // Waits until the reply `id` arrives (id 0: none awaited) or `until` holds, serving what
  // `serve` says; events read meanwhile are kept for the loop. See the top of this file.
  std::unique_ptr<queues::event> block(uint32_t id, const std::function<bool()>& until,
                                       Timeout timeout, const std::string& what, Serve serve);
  // Registers what every request waits for in request_sel_.
  void setUpRequestWait();
  // Called by the guarded streams when nothing can be read, or there is no room to write.
  void waitReadable(int32_t q, const GuardedIStream& in);
  void waitWritable(int32_t q, io::OStream& real);
  [[noreturn]] void supervisorGone(const std::string& why);
  // sel.poll(), except that a control message breaking the protocol whose sender cannot be
  // verified is logged and dropped: anyone may have written it into our FIFO in another's
  // name, and ending over it would make this worker pay for someone else's fault.
  template <typename T>
  std::pair<io::Selectable*, T> poll(io::Selector<T>& sel);
  void fireTimer(TimerId id);

  Identity identity_;
  Options options_;
  std::unique_ptr<io::SiblingMessenger> m_;
  std::unique_ptr<ParentWatch> watch_;
  std::unique_ptr<ConditionFront> changes_;
  std::vector<Peer> peers_;  // indexed by queue, 0 to io::kMaxSiblingId
  struct TimerEntry {
    std::unique_ptr<io::Timer> timer;
    Callback fn;
  };
  std::map<TimerId, TimerEntry> timers_;
  TimerId next_timer_ = 0;
  // Declared after what they hold, so that they are destroyed first. request_sel_ serves the
  // common wait (a request, not nested) without building a selector each time.
  io::Timer request_timer_;
  io::Selector<int> request_sel_;
  io::Selector<Closure> sel_;

  std::unordered_map<queues::event_t, Handler> handlers_;
  Handler unhandled_;
  Observer observer_;
  std::function<void(queues::queue_t, bool)> peer_gone_;
  std::function<bool(const control::Sys_Exit_Data&)> on_exit_;
  std::unordered_map<uint32_t, ReplyHandler> pending_;
  std::unordered_set<uint32_t> abandoned_;
  // Replies awaited by a callAll, and those that arrived while it waited for another.
  std::unordered_set<uint32_t> awaited_;
  std::unordered_map<uint32_t, std::unique_ptr<queues::event>> early_;
  // Work found while blocked, done by the loop before it waits again, in order.
  std::deque<Callback> deferred_;
  const meter::Group* metrics_ = nullptr;
  uint32_t next_request_ = 0;
  int blocked_ = 0;  // nesting depth of block()
  int sending_ = 0;  // sends in progress (a wait inside one must not write)
  bool leaving_ = false;
  bool finished_ = false;
  int exit_code_ = 0;
};

}  // namespace worker
