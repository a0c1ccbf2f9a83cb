// What the supervisor answers on its admin channel: its status with the figures it counts,
// the meter trees of the whole server, and log levels relayed to the workers.
#include <unistd.h>

#include "meter/registry.h"
#include "supervisor/admin_protocol.h"
#include "supervisor/env_duration.h"
#include "supervisor/main_process.h"
#include "supervisor/slog.h"

namespace supervisor {

namespace {

// The time a client has for a request, or to take a reply: VX_ADMIN_IDLE_MS when set
// (tests), else 10 seconds.
TimeValue adminIdleLimit() {
  return envMilliseconds("VX_ADMIN_IDLE_MS", AdminChannel::Limits{}.idle);
}

}  // namespace

void MainProcess::openAdminChannel() {
  if (admin_path_.empty()) return;
  try {
    AdminChannel::Service& service = *this;
    AdminChannel::Limits limits;
    limits.idle = adminIdleLimit();
    admin_ = std::make_unique<AdminChannel>(selector_, admin_path_, service,
                                            &meter::Registry::root(), limits);
  } catch (const error::Exception& e) {
    // The server runs on without it: operators still have the status file and the log.
    slog(std::string("The admin channel is not available: ") + e.what());
  }
}

void MainProcess::serveAdmin(AdminChannel::Ticket ticket, std::string_view line) {
  admin::Request r;
  try {
    r = admin::parseRequest(line);
  } catch (const error::Exception& e) {
    return admin_->reply(ticket, admin::errorReply(e.what()));
  }
  switch (r.command) {
    case admin::Command::Status:
      return admin_->reply(ticket, admin::okReply(statusJson(status(serverState(), true))));
    case admin::Command::LogLevel: {
      std::vector<std::string> reached = relayLogLevels({{r.target, r.level}});
      const std::string what = r.target + "=" + std::to_string(r.level);
      if (reached.empty()) {
        return admin_->reply(ticket, admin::errorReply("No running worker for " + r.target));
      }
      std::string tags;
      for (const std::string& t : reached)
        tags += " " + t;
      slog("Admin channel: log level " + what + " sent to" + tags);
      return admin_->reply(ticket, admin::okReply("log level " + what + " sent to" + tags + "\n"));
    }
    case admin::Command::Metrics:
      return collector_.collect(r.path, [this, ticket, format = r.format](MetricSnapshot s) {
        if (!admin_) return;
        std::string body = format == admin::MetricFormat::Tree          ? treeText(s)
                           : format == admin::MetricFormat::OpenMetrics ? openMetricsText(s)
                                                                        : prometheusText(s);
        if (body.size() > admin::kMaxReplyBytes) {
          return admin_->reply(ticket, admin::errorReply("The metrics do not fit in one reply"));
        }
        admin_->reply(ticket, admin::okReply(body));
      });
  }
}

void MainProcess::adminLog(const std::string& line) {
  slog(line);
}

std::vector<std::pair<queues::queue_t, std::string>> MainProcess::metricSuppliers() const {
  std::vector<std::pair<queues::queue_t, std::string>> out;
  for (queues::queue_t q : metrics_.suppliers()) {
    if (const VexlanProcess* p = registry_.findByQueue(q)) out.emplace_back(q, p->entry.sname);
  }
  return out;
}

void MainProcess::askWorker(queues::queue_t queue, queues::event& ev,
                            MetricCollector::Answer answer) {
  metrics_.ask(queue, ev, std::move(answer));
}

const meter::Group& MainProcess::ownTree() const {
  return meter::Registry::root();
}

}  // namespace supervisor
