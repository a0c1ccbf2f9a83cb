// The admin channel and run_as_user of a real server (vexland with the reference workers):
// who may use the channel, clients that send nothing or far too much, and a server that root
// starts as an unprivileged user.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <thread>

#include "supervisor/server_harness.h"

namespace {

using namespace std::chrono_literals;
using ::testing::HasSubstr;
using ::testing::StartsWith;
using vxtest::Server;
using Clock = std::chrono::steady_clock;

int connectTo(const std::string& path) {
  sockaddr_un addr = {};
  addr.sun_family = AF_UNIX;
  std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// Everything the server sends until it closes the connection or `limit` passes; with
// `whole_reply`, only until one complete reply is in.
std::string readReply(int fd, std::chrono::milliseconds limit, bool whole_reply = true) {
  std::string in;
  const auto until = Clock::now() + limit;
  for (;;) {
    if (whole_reply) {
      size_t nl = in.find('\n');
      if (nl != std::string::npos && in.compare(0, 6, "ERROR ") == 0) return in;
      if (nl != std::string::npos && in.compare(0, 3, "OK ") == 0 &&
          in.size() - nl - 1 >= std::stoul(in.substr(3, nl - 3))) {
        return in;
      }
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
    pollfd p = {fd, POLLIN, 0};
    if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) return in;
    char buf[65536];
    ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n <= 0) return in;
    in.append(buf, static_cast<size_t>(n));
  }
}

std::string ask(const std::string& socket, const std::string& line) {
  int fd = connectTo(socket);
  if (fd < 0) return "cannot connect: " + std::string(std::strerror(errno));
  (void)::send(fd, line.data(), line.size(), MSG_NOSIGNAL);
  std::string reply = readReply(fd, 10s);
  ::close(fd);
  return reply;
}

std::string adminSocket(const Server& s, pid_t pid) {
  return s.dir() + "/run/admin-pid" + std::to_string(pid) + ".sock";
}

std::string procField(pid_t pid, const std::string& field) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(in, line);) {
    if (line.compare(0, field.size() + 1, field + ":") == 0) {
      std::string v = line.substr(field.size() + 1);
      v.erase(0, v.find_first_not_of(" \t"));
      v.erase(v.find_last_not_of(" \t") + 1);
      return v;
    }
  }
  return "";
}

// Even where the file system would let another user in (the directory and the socket opened
// up by mistake), the channel checks who connects.
TEST(AdminChannel, RefusesAnotherUidEvenWhenTheFileWouldLetItIn) {
  if (!vxtest::canActAsOtherUser()) GTEST_SKIP() << vxtest::kNeedsRoot;
  Server s;
  s.start();
  ASSERT_TRUE(s.waitErr("Vexlan: Spawned OK.\n"));
  const std::string socket = adminSocket(s, s.program().pid());
  ASSERT_THAT(ask(socket, "status\n"), StartsWith("OK "));
  struct stat st {};
  ASSERT_EQ(::stat(socket.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0660u);
  ASSERT_EQ(::chmod(s.dir().c_str(), 0755), 0);
  ASSERT_EQ(::chmod((s.dir() + "/run").c_str(), 0755), 0);
  ASSERT_EQ(::chmod(socket.c_str(), 0666), 0);

  const int refused = vxtest::asOtherUser([&] {
    int fd = connectTo(socket);
    if (fd < 0) return 2;
    (void)::send(fd, "log-level * 0\n", 14, MSG_NOSIGNAL);
    std::string reply = readReply(fd, 5s, false);  // to the end: the server closes it
    return reply.compare(0, 24, "ERROR Permission denied:") == 0 ? 0 : 1;
  });
  EXPECT_EQ(refused, 0);
  EXPECT_TRUE(s.waitLog("Refused 1 admin connection, the last from uid 65534 (pid "));
  EXPECT_EQ(s.countLog("Admin channel: log level"), 0u);  // nothing was relayed
  EXPECT_THAT(ask(socket, "metrics tree vexland/admin\n"), HasSubstr("refused: 1\n"));
  EXPECT_EQ(s.stop().status, 0);
}

TEST(AdminChannel, ClientsThatSendNothingOrFarTooMuchDelayNobody) {
  Server s;
  s.start({{"VX_ADMIN_IDLE_MS", "1500"}});
  ASSERT_TRUE(s.waitErr("Vexlan: Spawned OK.\n"));
  const std::string socket = adminSocket(s, s.program().pid());

  // One client connects and says nothing; another sends 10 MB without a line end.
  int silent = connectTo(socket);
  ASSERT_GE(silent, 0);
  int flood = connectTo(socket);
  ASSERT_GE(flood, 0);
  std::atomic<size_t> flooded{0};
  std::thread flooder([&] {
    const std::string chunk(65536, 'x');
    while (flooded < (size_t{10} << 20)) {
      ssize_t n = ::send(flood, chunk.data(), chunk.size(), MSG_NOSIGNAL);
      if (n <= 0) return;  // the server closed it
      flooded += static_cast<size_t>(n);
    }
  });

  // Meanwhile other clients are answered at once, and so are requests the workers answer.
  std::chrono::milliseconds slowest{0};
  for (int i = 0; i < 10; ++i) {
    for (const char* line : {"status\n", "log-level dbms/events 2\n"}) {
      const auto start = Clock::now();
      std::string reply = ask(socket, line);
      slowest = std::max(
          slowest, std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start));
      EXPECT_THAT(reply, StartsWith("OK ")) << line;
    }
  }
  EXPECT_LT(slowest.count(), 100) << "the slowest answer";
  EXPECT_THAT(ask(socket, "metrics tree dbms/uptime\n"), HasSubstr("uptime: "));

  flooder.join();
  EXPECT_LT(flooded.load(), size_t{10} << 20) << "the server stopped taking the flood";
  EXPECT_THAT(readReply(flood, 5s, false), StartsWith("ERROR The request is longer than 1024"));
  ::close(flood);
  // The silent one goes when its time is up.
  EXPECT_THAT(readReply(silent, 10s, false),
              StartsWith("ERROR No complete request within the time allowed"));
  ::close(silent);

  // More clients at once than the channel takes: the one too many is told so.
  std::vector<int> idle;
  for (int i = 0; i < 16; ++i)
    idle.push_back(connectTo(socket));
  EXPECT_THAT(ask(socket, "status\n"), StartsWith("ERROR Too many clients"));
  for (int fd : idle)
    ::close(fd);
  // Their places are free again once the server has seen them go.
  std::string dropped;
  for (auto until = Clock::now() + 5s; Clock::now() < until; std::this_thread::sleep_for(10ms)) {
    dropped = ask(socket, "metrics tree vexland/admin/dropped\n");
    if (dropped.compare(0, 3, "OK ") == 0) break;
  }
  // The flood, the silent one, and each one too many.
  EXPECT_THAT(dropped, testing::ContainsRegex("dropped: ([3-9]|[1-9][0-9]+)\n"));
  EXPECT_EQ(s.stop().status, 0);
}

// Root starts it as "nobody": it and its workers run as that user with the two network
// capabilities and nothing else, in files that belong to that user, and end in order.
TEST(RunAsUser, RootStartsTheServerAsAnotherUserKeepingOnlyTheNetworkCapabilities) {
  if (!vxtest::canActAsOtherUser()) GTEST_SKIP() << vxtest::kNeedsRoot;
  Server s("run_as_user = \"nobody\"");
  // The state folder belongs to the user, as /var/lib/vexlan does after the package's set-up.
  ASSERT_EQ(::chown(s.dir().c_str(), vxtest::kOtherUid, vxtest::kOtherGid), 0);
  ASSERT_EQ(::chmod(s.dir().c_str(), 0755), 0);
  s.start();
  ASSERT_TRUE(s.waitErr("Vexlan: Spawned OK.\n"));
  ASSERT_TRUE(
      s.waitLog("Running as user nobody (uid 65534), keeping CAP_NET_RAW and "
                "CAP_NET_BIND_SERVICE for the workers"));
  const pid_t server = s.program().pid();
  const pid_t worker = s.workerPid("vexlan-dbms.exe");
  ASSERT_GT(worker, 0);
  for (pid_t p : {server, worker}) {
    EXPECT_EQ(procField(p, "Uid"), "65534\t65534\t65534\t65534");
    EXPECT_EQ(procField(p, "Groups"), "65534");
  }
  // CAP_NET_BIND_SERVICE (10) and CAP_NET_RAW (13).
  EXPECT_EQ(procField(worker, "CapEff"), "0000000000002400");
  EXPECT_EQ(procField(worker, "CapAmb"), "0000000000002400");
  EXPECT_EQ(procField(worker, "CapBnd"), "0000000000002400");
  for (const std::string f : {"/run", "/log", "/log/server.log"}) {
    struct stat st {};
    ASSERT_EQ(::stat((s.dir() + f).c_str(), &st), 0) << f;
    EXPECT_EQ(st.st_uid, vxtest::kOtherUid) << f;
  }
  EXPECT_THAT(ask(adminSocket(s, server), "status\n"), HasSubstr("\"state\": \"running\""));
  EXPECT_EQ(s.stop().status, 0) << s.log();
  EXPECT_TRUE(s.waitLog("Vexlan shutdown complete"));

  // A user that does not exist ends the start.
  Server bad("run_as_user = \"no-such-user-here\"");
  bad.start();
  vxtest::Outcome o = bad.wait();
  EXPECT_EQ(o.status, 1);
  EXPECT_THAT(o.err,
              HasSubstr("Vexlan fatal error: run_as_user \"no-such-user-here\": no such user\n"));
}

}  // namespace
