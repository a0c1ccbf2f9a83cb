// The extra process of the end-to-end tests: a worker on the SDK that asks the supervisor what
// the reference workers never ask, or misbehaves in ways they never do. VXPW_SCRIPT holds
// comma-separated steps; VXPW_OUT receives one line per answer and "done" after the last
// step. Then it serves like any worker until it is told to exit.
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "io/wait.h"
#include "queues/catalogue.h"
#include "sdk/worker.h"
#include "security/hex.h"
#include "support/test_support.h"

namespace {

using queues::queue_t;

class Probe {
 public:
  // The pool descriptor is taken by the worker's messenger; a copy is kept for the impostor.
  Probe()
      : spare_pool_fd_(::dup(std::atoi(std::getenv("smem::mapfile")))),
        w_(worker::Identity::forQueue(queues::QUEUE_EXTRA)),
        out_(std::getenv("VXPW_OUT")) {}

  int run(const std::string& script) {
    // Exception replies to the one-way stores (sent with an inresponse of their own) arrive
    // when the loop runs, after "done".
    w_.onUnhandled([this](queues::event& ev, queue_t) {
      if (auto* e = dynamic_cast<queues::exevent*>(&ev)) {
        out_ << "exception " << e->inresponse << " " << e->message << std::endl;
      }
    });
    w_.initOk();
    std::stringstream steps(script);
    for (std::string step; std::getline(steps, step, ',');)
      perform(step);
    out_ << "done" << std::endl;
    return w_.run();
  }

 private:
  void perform(const std::string& step) {
    if (step == "metrics") return metrics();
    if (step == "loglevel") return logLevel();
    if (step == "random") {
      out_ << "random " << w_.pseudoRandom(64).size() << std::endl;
      queues::ev<queues::GET_PSEUDO_RANDOM> negative(queues::QUEUE_MAIN, 0, {-1, false});
      std::unique_ptr<queues::event> r = w_.call(negative);
      if (auto* e = dynamic_cast<queues::exevent*>(r.get())) out_ << "random -1: " << e->message;
      out_ << std::endl;
      return;
    }
    if (step.starts_with("await:")) {
      // Until the test creates the file (it has seen what it waited for in the log). The
      // transport is served meanwhile: a peer's leave waits for our answer.
      for (int i = 0; i < 4000 && ::access(step.substr(6).c_str(), F_OK) != 0; ++i) {
        serveTransport();
        ::usleep(5000);
      }
      return;
    }
    if (step.starts_with("jitter:")) {
      // Events the supervisor takes without a word, at uneven intervals, until the test
      // creates the file: every one is a turn of its loop, and the unevenness feeds its
      // entropy pool.
      const std::string stop = step.substr(7);
      for (int i = 0; i < 20000 && ::access(stop.c_str(), F_OK) != 0; ++i) {
        queues::ev<queues::SUPPORTS_METRICS> ev(queues::QUEUE_MAIN, 0);
        w_.send(queues::QUEUE_MAIN, ev);
        serveTransport();
        ::usleep(static_cast<useconds_t>(200 + (i * 7919) % 2800));
      }
      return;
    }
    if (step == "randomhex") {
      out_ << "random " << security::toHex(w_.pseudoRandom(32)) << std::endl;
      return;
    }
    if (step == "purehex") {
      out_ << "pure " << security::toHex(w_.pureEntropy(32)) << std::endl;
      return;
    }
    if (step == "vars") {
      out_ << "vars";
      for (const auto& [name, value] : w_.requestVariables())
        out_ << " " << name;
      out_ << std::endl;
      return;
    }
    if (step.rfind("store:", 0) == 0) {
      // store:name=value, with inresponse 7000 + the step's position in the script.
      std::string assignment = step.substr(6);
      size_t eq = assignment.find('=');
      queues::ev<queues::STORE_SERVER_VARIABLE_FIELDS> ev(
          queues::QUEUE_MAIN, 7000 + static_cast<uint32_t>(++stores_),
          {{{assignment.substr(0, eq), assignment.substr(eq + 1)}}});
      raw([&](protocol::ioprim& prim) { prim << ev; });
      out_ << "stored " << 7000 + stores_ << std::endl;
      return;
    }
    if (step == "lognl") {
      w_.log("first line\nThu Dec  3 14:05:09 2026: forged line\r");
      return;
    }
    if (step == "wrongdest") {
      // A log request that names another queue as its destination.
      queues::ev<queues::SYSTEM_LOG_REQUEST> ev(queues::QUEUE_ALRM, 0, {"lost", 0});
      return raw([&](protocol::ioprim& prim) { prim << ev; });
    }
    if (step == "lie") {
      // A log request whose text claims a megabyte and brings three bytes.
      return raw([](protocol::ioprim& prim) {
        const uint32_t header[4] = {queues::SYSTEM_LOG_REQUEST, 0, 0, 0};
        const uint64_t length = 1000000;
        prim.writeField(sizeof header, header);
        prim.writeField(sizeof length, &length);
        prim.writeField(3, "abc");
      });
    }
    if (step == "flood") {
      // Requests whose answers are never read: the supervisor's area fills up.
      for (int i = 0; i < 5000; ++i) {
        queues::ev<queues::REQUEST_SERVER_CONFIGURATION> req(queues::QUEUE_MAIN, 1000 + i, 0);
        raw([&](protocol::ioprim& prim) { prim << req; });
      }
      out_ << "flooded" << std::endl;
      ::sleep(60);  // never reads; the supervisor ends it
      return;
    }
    if (step == "claim") {
      // A second messenger in this process announcing itself as the database worker.
      io::siblingmessenger_conf_t conf = io::siblingmessenger_conf_t::fromEnvironment("smem");
      conf.mapfile = spare_pool_fd_;
      static io::SiblingMessenger impostor(conf, queues::QUEUE_DBMS);
      impostor.flush();
      return;
    }
    if (step.rfind("slow:", 0) == 0) return slow(std::atoi(step.c_str() + 5));
    if (step == "scribble") return scribble();
    if (step == "orphan") {
      // A process left behind: its parent, a child of ours, ends at once, so it is handed to
      // the supervisor (a subreaper), which must reap it when it ends 200 ms later.
      int p[2];
      if (::pipe(p) != 0) return;
      pid_t child = ::fork();
      if (child == 0) {
        pid_t grandchild = ::fork();
        if (grandchild == 0) {
          ::usleep(200000);
          ::_exit(0);
        }
        [[maybe_unused]] ssize_t n = ::write(p[1], &grandchild, sizeof grandchild);
        ::_exit(0);
      }
      ::waitpid(child, nullptr, 0);
      pid_t orphan = -1;
      [[maybe_unused]] ssize_t n = ::read(p[0], &orphan, sizeof orphan);
      ::close(p[0]);
      ::close(p[1]);
      out_ << "orphan " << orphan << std::endl;
      return;
    }
    if (step == "stray") {
      // A wild pointer into the database worker's area.
      io::SiblingMessenger::SiblingRef dbms = w_.messenger().findSibling(queues::QUEUE_DBMS);
      // The fault ends the process, as it would any worker (no core, no sanitizer report).
      const rlimit no_core = {0, 0};
      ::setrlimit(RLIMIT_CORE, &no_core);
      struct sigaction dfl = {};
      dfl.sa_handler = SIG_DFL;
      ::sigaction(SIGSEGV, &dfl, nullptr);
      out_ << "writing at " << dbms->areaOffset() << std::endl;
      const_cast<uint8_t*>(w_.messenger().poolBase())[dbms->areaOffset() + 16] = 0xff;
      out_ << "wrote" << std::endl;
      return;
    }
    if (step == "forgepeer") {
      // Into the database worker's FIFO, in the supervisor's name: an acknowledgement of a
      // leave it never asked for.
      io::siblingmessenger_conf_t conf = io::siblingmessenger_conf_t::fromEnvironment("smem");
      // The supervisor's own FIFO has no name to open.
      if (::access(io::fifoPath(conf.fifoprefix, 0).c_str(), F_OK) != 0) out_ << "no ";
      out_ << "supervisor FIFO" << std::endl;
      int fd = ::open(io::fifoPath(conf.fifoprefix, queues::QUEUE_DBMS).c_str(), O_WRONLY);
      uint64_t w =
          io::ControlMessage::withId(io::MessageType::AckShutdown, queues::QUEUE_DBMS, 0).pack();
      out_ << (::write(fd, &w, 8) == 8 ? "forged" : "not forged") << std::endl;
      ::close(fd);
      return;
    }
    out_ << "unknown step " << step << std::endl;
  }

  void serveTransport() {
    w_.messenger().pollInput();
    w_.messenger().flush();
  }

  template <typename F>
  void raw(F write) {
    io::SiblingMessenger::SiblingRef main = w_.messenger().sibling(queues::QUEUE_MAIN);
    protocol::ioprim prim(nullptr, &main->ostream());
    write(prim);
    prim.endWrite();
    w_.messenger().flush();
  }

  // Every worker announces its metrics after its INIT_OK, so the list is asked until it has
  // VXPW_SUPPLIERS groups (the probe itself supplies none).
  void metrics() {
    const size_t suppliers = std::strtoul(std::getenv("VXPW_SUPPLIERS"), nullptr, 10);
    std::string names;
    for (int attempt = 0; attempt < 500; ++attempt) {
      queues::ev<queues::LIST_METRICS> list(queues::QUEUE_MAIN, 0, 0);
      std::unique_ptr<queues::event> r = w_.call(list);
      const auto* l = queues::as<queues::RETURN_LIST_METRICS>(*r);
      if (l == nullptr) break;
      names.clear();
      for (const control::Metric_Group& g : l->payload.groups)
        names += " " + g.name + (g.groups.empty() ? "(empty)" : "");
      if (l->payload.groups.size() >= suppliers) break;
      ::usleep(10000);
    }
    out_ << "list" << names << std::endl;
    queues::ev<queues::GET_METRIC> value(queues::QUEUE_MAIN, 0, {{"dbms", "events", "received"}});
    std::unique_ptr<queues::event> r = w_.call(value);
    if (auto* v = queues::as<queues::RETURN_METRIC_UINT64>(*r)) out_ << "uint64 " << v->payload;
    out_ << " (" << queues::eventName(r->type) << ")" << std::endl;
    queues::ev<queues::GET_METRIC_TYPE> type(queues::QUEUE_MAIN, 0, {{"tsdb", "uptime"}});
    r = w_.call(type);
    if (auto* t = queues::as<queues::RETURN_GET_METRIC_TYPE>(*r)) {
      out_ << "type " << t->payload.name << " " << t->payload.unit;
    }
    out_ << std::endl;
    queues::ev<queues::GET_METRIC> empty(queues::QUEUE_MAIN, 0, {});
    r = w_.call(empty);
    if (auto* e = queues::as<queues::RETURN_METRIC_ERROR>(*r)) out_ << "error " << e->payload;
    out_ << std::endl;
  }

  void logLevel() {
    // The events logger of dbms alone to debug: dbms then writes every event it reads to its
    // standard error, which the supervisor logs. A configuration round trip makes sure the
    // supervisor has relayed the level before dbms and tsdb get something to read.
    queues::ev<queues::SET_LOG_LEVEL> levels(queues::QUEUE_MAIN, 0, {{{"dbms/events", 1}}});
    w_.send(queues::QUEUE_MAIN, levels);
    w_.requestConfiguration();
    ::usleep(200000);
    for (queue_t q : {queues::QUEUE_DBMS, queues::QUEUE_TSDB}) {
      queues::ev<queues::REQUEST_RESULT> ev(q, 0, 7);
      w_.send(q, ev);
    }
    out_ << "levels sent" << std::endl;
  }

  int stores_ = 0;

  // A log request whose bytes arrive one small message every `gap_ms`, far more slowly than
  // the stall limit allows for the whole event; the worker serves nothing meanwhile.
  void slow(int gap_ms) {
    std::string event(28 + 1000, 'x');
    const uint32_t header[4] = {queues::SYSTEM_LOG_REQUEST, 0, 0, 0};
    const uint64_t length = 1000;
    std::memcpy(event.data(), header, sizeof header);
    std::memcpy(event.data() + 16, &length, sizeof length);
    std::memset(event.data() + 24 + 1000, 0, 4);
    io::SiblingMessenger::SiblingRef main = w_.messenger().sibling(queues::QUEUE_MAIN);
    for (size_t at = 0; at < event.size(); at += 16) {
      io::waitReady(main->ostream());
      uint8_t* p;
      size_t n = std::min({main->ostream().writeBegin(p), event.size() - at, size_t{16}});
      std::memcpy(p, event.data() + at, n);
      main->ostream().writeCommit(n);
      w_.messenger().flush();
      if (at == 0) out_ << "first piece" << std::endl;
      ::usleep(static_cast<useconds_t>(gap_ms) * 1000);
    }
  }

  // 0xff over the supervisor's whole area through a mapping of our own (the SDK's is read-only
  // there), then a request, whose answer the supervisor has to write into that area.
  void scribble() {
    io::SiblingMessenger::SiblingRef main = w_.messenger().findSibling(queues::QUEUE_MAIN);
    const uint64_t size = std::strtoull(std::getenv("smem::mapsize"), nullptr, 10);
    void* pool = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, spare_pool_fd_, 0);
    if (pool == MAP_FAILED) {
      out_ << "cannot map the pool" << std::endl;
      return;
    }
    std::memset(static_cast<uint8_t*>(pool) + main->areaOffset(), 0xff, main->areaSize());
    out_ << "scribbled " << main->areaSize() << " bytes" << std::endl;
    queues::ev<queues::REQUEST_SERVER_CONFIGURATION> req(queues::QUEUE_MAIN, 1, 0);
    raw([&](protocol::ioprim& prim) { prim << req; });
  }

  int spare_pool_fd_;
  worker::Worker w_;
  std::ofstream out_;
};

}  // namespace

VXTEST_CHILD(probe_worker) {
  try {
    Probe probe;
    return probe.run(std::getenv("VXPW_SCRIPT"));
  } catch (const error::Exception& e) {
    std::ofstream(std::getenv("VXPW_OUT"), std::ios::app) << "error " << e.what() << std::endl;
    return 1;
  }
}
