// vexlanctl as the administrator runs it: check-config and reg, their errors, and the usage.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>

#include "supervisor/program.h"

namespace {

using testing::HasSubstr;
using testing::StartsWith;
using vxtest::Outcome;

class Ctl : public testing::Test {
 protected:
  // vexlanctl with both registry roots in the test's own directory.
  Outcome ctl(std::vector<std::string> args, std::map<std::string, std::string> env = {}) {
    env.emplace("VX_REGISTRY_USER", dir_.file("user/registry.db"));
    env.emplace("VX_REGISTRY_MACHINE", dir_.file("machine/registry.db"));
    return vxtest::run(VX_VEXLANCTL, args, env);
  }
  std::string file(const std::string& name, const std::string& text) {
    vxtest::writeFile(dir_.file(name), text);
    return dir_.file(name);
  }
  vxtest::TempDir dir_;
};

TEST_F(Ctl, CheckConfigPrintsEverySettingInOrder) {
  Outcome o = ctl({"check-config", VX_SOURCE_DIR "/tests/config/data/example.conf"});
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(o.err, "");
  EXPECT_THAT(o.out, StartsWith("layout_conf_path: \"/etc/vexlan/layout.conf\"\n"
                                "dbms_tsdb_file_path: \"/var/lib/vexlan/tsdb\"\n"));
  EXPECT_THAT(o.out, HasSubstr("\nmodem_options: set {\n  \"page\"\n  \"sms\"\n}\n"));
  EXPECT_THAT(o.out, HasSubstr("\nsnmp_timeout_initial: 1.500000\n"));
  // The supervisor's own settings follow the server configuration.
  EXPECT_THAT(o.out, testing::EndsWith("\nios_cert_path: \".\"\nworker_stall_limit: 120\n"));
  // The server names itself after the system when the file gives no name.
  EXPECT_THAT(o.out, testing::Not(HasSubstr("\nhost_name: \"\"\n")));
}

TEST_F(Ctl, TheShippedConfigurationsAreValid) {
  for (const char* conf :
       {VX_SOURCE_DIR "/packaging/vexlan.conf", VX_SOURCE_DIR "/examples/vexlan.conf"}) {
    Outcome o = ctl({"check-config", conf});
    EXPECT_EQ(o.status, 0) << conf << ": " << o.err;
  }
}

TEST_F(Ctl, CheckConfigGivesTheServersErrorAndStatusOne) {
  struct Case {
    std::string text;
    std::string error;
  };
  for (const Case& c : std::vector<Case>{
           {"logdir = \"/l\"\nlog_days = 3 # days\n", "Trailing data after int: \"3 # days\"\n"},
           {"passive = true\n", "Missing option in configuration: logdir\n"},
           {"logdir = \"/l\"\npassive = maybe\n", ""},
       }) {
    Outcome o = ctl({"check-config", file("bad.conf", c.text)});
    EXPECT_EQ(o.status, 1) << c.text;
    EXPECT_EQ(o.out, "") << c.text;
    if (!c.error.empty()) {
      EXPECT_EQ(o.err, c.error);
    }
    EXPECT_THAT(o.err, testing::MatchesRegex("[^\n]+\n")) << c.text;
  }
  Outcome o = ctl({"check-config", dir_.file("missing.conf")});
  EXPECT_EQ(o.status, 1);
  EXPECT_THAT(o.err, HasSubstr("missing.conf"));
}

TEST_F(Ctl, CheckConfigWithoutAFileReadsTheRegistryAsTheServerDoes) {
  for (const char* option :
       {"logdir", "layout_conf", "dbms_tsdb", "dbms_odb", "working_directory", "log_days"}) {
    ASSERT_EQ(ctl({"reg", "--machine", "set", "SOFTWARE/Vexlan/VXServer", option, "12"}).status, 0);
  }
  Outcome o = ctl({"check-config"});
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_THAT(o.out, HasSubstr("\nlog_days: 12\n"));
  // The user root comes first once it holds the key.
  ASSERT_EQ(ctl({"reg", "set", "SOFTWARE/Vexlan/VXServer", "log_days", "13"}).status, 0);
  o = ctl({"check-config"});
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.err, "Missing option in configuration: logdir\n");
}

TEST_F(Ctl, RegSetsGetsListsAndDeletesOnEitherRoot) {
  for (const char* root : {"--user", "--machine"}) {
    SCOPED_TRACE(root);
    const std::string key = "SOFTWARE\\Vexlan\\VXServer\\Deep\\Er";
    // Missing keys along the path are created.
    ASSERT_EQ(ctl({"reg", root, "set", key, "b", "two words"}).status, 0);
    ASSERT_EQ(ctl({"reg", root, "set", "SOFTWARE/Vexlan/VXServer/Deep/Er", "a", "1"}).status, 0);
    ASSERT_EQ(ctl({"reg", root, "set", key, "b", "2\n\"x\""}).status, 0);  // keeps its place
    Outcome o = ctl({"reg", root, "list", key});
    EXPECT_EQ(o.out, "b = \"2\\n\\\"x\\\"\"\na = \"1\"\n");
    EXPECT_EQ(ctl({"reg", root, "get", key, "b"}).out, "2\n\"x\"\n");
    o = ctl({"reg", root, "list"});
    EXPECT_THAT(o.out, HasSubstr("SOFTWARE\\Vexlan\\VXServer\\Deep\nSOFTWARE\\Vexlan\\VXServer\\"
                                 "Deep\\Er\n"));
    EXPECT_EQ(ctl({"reg", root, "delete", key, "b"}).status, 0);
    EXPECT_EQ(ctl({"reg", root, "list", key}).out, "a = \"1\"\n");
    o = ctl({"reg", root, "delete", key, "b"});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err, "No value b in " + key + "\n");
  }
  // Each root is its own file.
  ASSERT_EQ(ctl({"reg", "--machine", "set", "SOFTWARE/Vexlan/VXServer", "only", "m"}).status, 0);
  EXPECT_EQ(ctl({"reg", "--user", "get", "SOFTWARE/Vexlan/VXServer", "only"}).status, 1);
}

TEST_F(Ctl, RegEditsTheServerVariables) {
  ASSERT_EQ(ctl({"reg", "--vars", "set", "last_scan", "12:00"}).status, 0);
  ASSERT_EQ(ctl({"reg", "--vars", "set", "owner", "ops"}).status, 0);
  EXPECT_EQ(ctl({"reg", "--vars", "list"}).out, "last_scan = \"12:00\"\nowner = \"ops\"\n");
  EXPECT_EQ(ctl({"reg", "list", "SOFTWARE/Vexlan/VXServer/Variables"}).out,
            "last_scan = \"12:00\"\nowner = \"ops\"\n");
  EXPECT_EQ(ctl({"reg", "--vars", "get", "owner"}).out, "ops\n");
  EXPECT_EQ(ctl({"reg", "--vars", "delete", "owner"}).status, 0);
  EXPECT_EQ(ctl({"reg", "--vars", "list"}).out, "last_scan = \"12:00\"\n");
}

TEST_F(Ctl, RegReportsWhatIsMissingWithoutCreatingIt) {
  Outcome o = ctl({"reg", "list"});
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.err, "Cannot open registry " + dir_.file("user/registry.db") +
                       ": No such file or directory\n");
  o = ctl({"reg", "get", "SOFTWARE/Vexlan/VXServer", "log_days"});
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.err, "Cannot read SOFTWARE\\Vexlan\\VXServer in registry " +
                       dir_.file("user/registry.db") + ": No such file or directory\n");
  EXPECT_EQ(ctl({"reg", "delete", "SOFTWARE", "x"}).status, 1);
  EXPECT_FALSE(std::ifstream(dir_.file("user/registry.db")).good());

  ASSERT_EQ(ctl({"reg", "set", "SOFTWARE/K", "a", "1"}).status, 0);
  o = ctl({"reg", "get", "SOFTWARE/K", "b"});
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.err, "No value b in SOFTWARE\\K\n");
  o = ctl({"reg", "set", "NOROOT", "a", "1"});
  EXPECT_EQ(o.status, 1);
  EXPECT_THAT(o.err, StartsWith("Cannot set a in NOROOT in registry "));
}

TEST_F(Ctl, UsageAndHelp) {
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{},
                                             {"frobnicate"},
                                             {"reg", "get", "only-key"},
                                             {"reg", "rename", "a", "b"},
                                             {"check-config", "a", "b"},
                                             {"status", "-x"},
                                             {"status", "-p"},
                                             {"event", "encode"},
                                             {"event", "decode", "a", "b"},
                                             {"ber"}}) {
    Outcome o = ctl(args);
    EXPECT_EQ(o.status, 2) << testing::PrintToString(args);
    EXPECT_THAT(o.err, HasSubstr("usage: vexlanctl")) << testing::PrintToString(args);
  }
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"--help"},
                                             {"check-config", "--help"},
                                             {"reg", "-h"},
                                             {"status", "--help"},
                                             {"event", "decode", "--help"},
                                             {"ber", "decode", "-h"}}) {
    Outcome o = ctl(args);
    EXPECT_EQ(o.status, 0) << testing::PrintToString(args);
    EXPECT_THAT(o.out, HasSubstr("usage: vexlanctl")) << testing::PrintToString(args);
  }
}

}  // namespace
