// The admin channel: a Unix stream socket in the daemon's runtime directory through which an
// operator's tool asks the running server for its status and metrics and sets log levels
// (the requests and replies are admin_protocol.h).
//
// It is served by the supervisor's own reactor and never blocks it: the socket and every
// connection are non-blocking, and each is one more selectable of the main loop. A client is
// another user's program and is held to bounds:
//   - only root, the daemon's own uid and members of the daemon's group may connect
//     (SO_PEERCRED, and SO_PEERGROUPS for supplementary groups); the socket is mode 0660;
//   - at most `max_clients` connections at once; more are answered with an error and closed;
//   - a request line of at most admin::kMaxRequestBytes; a longer one is answered with an
//     error and the connection closed after reading no more than that;
//   - a client that sends no complete request, or does not take its reply, for `idle` is
//     closed.
// A request is handed to the Service with a ticket; the answer may come at once or later
// (when workers have answered), through reply(ticket). The connection is not read meanwhile.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "io/closure.h"
#include "io/selector.h"
#include "io/timer.h"
#include "meter/group.h"
#include "meter/metric.h"
#include "util/rate_limit.h"
#include "util/time_value.h"

namespace supervisor {

class AdminChannel {
 public:
  using Handler = refcount_ptr<BindBase<void>>;
  using Ticket = uint64_t;

  class Service {
   public:
    virtual ~Service() = default;
    // One request line (without its "\n"); the answer goes to reply(ticket, ...), now or later.
    virtual void serveAdmin(Ticket ticket, std::string_view line) = 0;
    // Notes for the server log (refused peers, at most one line a minute).
    virtual void adminLog(const std::string& line) = 0;
  };

  struct Limits {
    size_t max_clients = 16;
    TimeValue idle = TimeValue(10, 0);
  };

  // Binds `path` (replacing a socket left there), makes it mode 0660 and watches it in
  // `selector`. The channel's meters go into `meters` (a group of the supervisor's tree).
  // Failure raises error::ESystemError naming the path.
  AdminChannel(io::Selector<Handler>& selector, std::string path, Service& service,
               meter::Group* meters, Limits limits);
  // Closes every connection and removes the socket.
  ~AdminChannel();
  AdminChannel(const AdminChannel&) = delete;
  AdminChannel& operator=(const AdminChannel&) = delete;

  // The whole reply (admin::okReply / errorReply) to the request of `ticket`. A client that
  // has gone meanwhile is not an error: the reply is dropped.
  void reply(Ticket ticket, std::string bytes);

  const std::string& path() const { return path_; }
  size_t clients() const { return clients_.size(); }

  // May a peer with these credentials use the channel: root, this process's real or effective
  // uid, or a member (primary or supplementary) of this process's effective group.
  static bool permitted(uid_t uid, gid_t gid, const gid_t* groups, size_t ngroups);

 private:
  class Listener;
  class Client;

  void onListener();
  void onClient(Client& c);
  void onTimer();
  void serveNext(Client& c);
  void close(Client& c);
  void armTimer();
  void refusePeer(int fd, uid_t uid, pid_t pid);

  io::Selector<Handler>& selector_;
  std::string path_;
  Service& service_;
  Limits limits_;
  std::unique_ptr<Listener> listener_;
  std::map<Ticket, std::unique_ptr<Client>> clients_;
  Ticket next_ticket_ = 0;
  io::Timer timer_;
  util::RateLimit notes_{std::chrono::seconds(60)};
  uint64_t unreported_ = 0;

  meter::Group group_;
  meter::IntegerCounter accepted_;
  meter::IntegerCounter requests_;
  meter::IntegerCounter refused_;
  meter::IntegerCounter dropped_;
};

}  // namespace supervisor
