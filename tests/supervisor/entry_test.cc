#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

#include "supervisor/entry/command_line.h"
#include "supervisor/entry/crash_handler.h"
#include "supervisor/entry/event_signal.h"
#include "supervisor/entry/named_event.h"
#include "support/test_support.h"

namespace entry {
namespace {

std::optional<CommandLine> parse(std::vector<const char*> args) {
  args.insert(args.begin(), "vexland");
  return parseCommandLine(static_cast<int>(args.size()), args.data());
}

TEST(CommandLine, OptionsAndTrailingValueOptions) {
  auto none = parse({});
  ASSERT_TRUE(none);
  EXPECT_TRUE(none->daemon);
  EXPECT_FALSE(none->pid_file || none->config_file || none->shutdown_request ||
               none->rotate_request);

  auto all = parse({"-f", "a.conf", "-w:sigusr1", "-v", "-w:shutdown", "-p", "x.pid"});
  ASSERT_TRUE(all);
  EXPECT_FALSE(all->daemon);
  EXPECT_TRUE(all->shutdown_request && all->rotate_request);
  EXPECT_EQ(all->pid_file, "x.pid");
  EXPECT_EQ(all->config_file, "a.conf");

  // The value is taken whatever it looks like; a last "-p" or "-f" is ignored.
  auto value = parse({"-p", "-v", "-f"});
  ASSERT_TRUE(value);
  EXPECT_EQ(value->pid_file, "-v");
  EXPECT_TRUE(value->daemon);
  EXPECT_FALSE(value->config_file);
}

TEST(CommandLine, AnyUnknownArgumentAsksForTheUsage) {
  for (auto args : std::vector<std::vector<const char*>>{
           {"-x"}, {"-v", "-V"}, {"-p", "a", "-w:shut"}, {"-f", "c", ""}, {"-v", "-v "}}) {
    EXPECT_FALSE(parse(args)) << args.back();
  }
}

TEST(CrashReport, PathBesideTheExecutable) {
  EXPECT_EQ(crashReportPath("/usr/sbin/vexland"), "/usr/sbin/vexland.dmp");
  EXPECT_EQ(crashReportPath("/opt/v/vexland.bin"), "/opt/v/vexland.dmp");
  EXPECT_EQ(crashReportPath("/opt/v/vexland.x.y"), "/opt/v/vexland.x.dmp");
  // Dots outside the file name, or a leading one, are not an extension.
  EXPECT_EQ(crashReportPath("/opt/vexlan.d/vexland"), "/opt/vexlan.d/vexland.dmp");
  EXPECT_EQ(crashReportPath("/opt/.vexland"), "/opt/.vexland.dmp");
  EXPECT_EQ(crashReportPath("vexland.exe"), "vexland.dmp");
  EXPECT_EQ(crashReportPath(""), "tolvane.dmp");
}

TEST(CrashReport, SyslogDatagramCarriesPriorityIdentAndPid) {
  vxtest::TempDir dir;
  std::string path = dir.file("log");
  int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_un addr = {};
  addr.sun_family = AF_UNIX;
  std::strcpy(addr.sun_path, path.c_str());
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_TRUE(sendSyslogDatagram(path.c_str(), "crashed"));
  char buf[256];
  ssize_t n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
  ASSERT_GT(n, 0);
  EXPECT_EQ(std::string(buf, static_cast<size_t>(n)),
            "<27>Vexlan[" + std::to_string(::getpid()) + "]: crashed");
  ::close(fd);
  EXPECT_FALSE(sendSyslogDatagram(dir.file("nobody").c_str(), "lost"));
}

TEST(NamedEvent, TheFirstNumberFreeUnderEveryPrefixIsTaken) {
  std::string a = "VxTest." + std::to_string(::getpid()) + ".a.";
  std::string b = "VxTest." + std::to_string(::getpid()) + ".b.";
  unsigned n0 = 99, n1 = 99, n2 = 99;
  auto first = bindFirstFree({a, b}, n0);
  EXPECT_EQ(n0, 0u);
  auto blocker = bindFirstFree({b}, n1);
  EXPECT_EQ(n1, 1u);
  // Number 1 is taken under the second prefix only: the pair skips it.
  auto second = bindFirstFree({a, b}, n2);
  EXPECT_EQ(n2, 2u);
  EXPECT_EQ(boundEventName(second[0].get()), a + "2");
  first.clear();
  auto third = bindFirstFree({a, b}, n0);
  EXPECT_EQ(n0, 0u);  // a name vanishes with its socket
}

// One datagram to the abstract name `name`; 0 when sent.
int sendOne(const std::string& name) {
  UniqueFd fd = openEvent(name);
  char one = 1;
  return fd.valid() && ::send(fd.get(), &one, 1, 0) == 1 ? 0 : 1;
}

TEST(EventSignal, CountsOnlyItsOwnUserAndRoot) {
  unsigned n = 0;
  std::vector<UniqueFd> bound = bindFirstFree({"VexlanTest.evt."}, n);
  const std::string name = "VexlanTest.evt." + std::to_string(n);
  UniqueFd setter = openEvent(name);
  EventSignal event(bound[0].release(), setter.release(), name);
  EXPECT_FALSE(event.take());
  event.set();  // the daemon itself (its signal handlers write the same way)
  EXPECT_TRUE(event.take());
  EXPECT_FALSE(event.take());  // drained

  if (!vxtest::canActAsOtherUser()) GTEST_SKIP() << vxtest::kNeedsRoot;
  // The sender sends no credentials: the kernel attaches them all the same.
  EXPECT_EQ(vxtest::asOtherUser([&] { return sendOne(name) + sendOne(name); }), 0);
  EXPECT_FALSE(event.take());
  EXPECT_EQ(vxtest::asOtherUser([&] { return sendOne(name); }), 0);
  EXPECT_EQ(sendOne(name), 0);  // root's among the others' still counts
  EXPECT_TRUE(event.take());
  EXPECT_TRUE(EventSignal::permitted(0));
  EXPECT_FALSE(EventSignal::permitted(vxtest::kOtherUid));
}

}  // namespace
}  // namespace entry
