#include <gtest/gtest.h>

#include <sstream>

#include "config/config_file.h"
#include "config/lookup.h"
#include "config/memory_registry.h"
#include "config/server_config.h"
#include "error/exception.h"
#include "support/test_support.h"

namespace config {
namespace {

using Fields = control::Server_Configuration_Fields;

const std::string kRequired =
    "logdir = \"/var/log/vexlan\"\n"
    "layout_conf = \"/etc/vexlan/layout.conf\"\n"
    "dbms_tsdb = \"/srv/tsdb\"\n"
    "dbms_odb = \"/srv/odb\"\n"
    "working_directory = \"/srv\"\n";

Fields read(const std::string& extra, unsigned processors = 4) {
  ConfigMap map;
  std::istringstream in(kRequired + extra);
  read_config_stream(in, map);
  Fields f;
  read_server_config(map, f, processors);
  return f;
}

std::string errorOf(const std::string& text) {
  ConfigMap map;
  std::istringstream in(text);
  read_config_stream(in, map);
  Fields f;
  try {
    read_server_config(map, f, 4);
  } catch (const error::Exception& e) {
    return e.what();
  }
  return "(no error)";
}

TEST(ServerConfig, RequiredOptionsInReadingOrder) {
  EXPECT_EQ(errorOf(""), "Missing option in configuration: logdir");
  EXPECT_EQ(errorOf("logdir=\"/l\"\n"), "Missing option in configuration: layout_conf");
  EXPECT_EQ(errorOf("logdir=\"/l\"\nlayout_conf=\"a\"\ndbms_tsdb=\"b\"\ndbms_odb=\"c\"\n"),
            "Missing option in configuration: working_directory");
  // A bad value early in the order is reported before a missing required option later on.
  EXPECT_EQ(errorOf("logdir=\"/l\"\nlog_days=41\n"),
            "Integer value too high in line 2, maximum is 40 while looking for log_days");
}

// Only the defaults that are decisions or derived; the plain constants are the table itself.
TEST(ServerConfig, Defaults) {
  const Fields f = read("");
  EXPECT_EQ(f.log_mask, uint64_t{1} << 4);  // only log_assert is on by default
  EXPECT_EQ(f.broadcast_bind_port, f.socketio_bind_port);
  EXPECT_EQ(f.dbms_cache_kin, 62500u);
  EXPECT_EQ(f.dbms_cache_kout, 125000u);
  EXPECT_EQ(f.modem_options, (std::set<std::string>{"page"}));
  EXPECT_EQ(f.alert_textmail_ending, "\n\nKind regards,\n    The Vexlan.\n");
  EXPECT_EQ(f.mail_server, "localhost");
  EXPECT_EQ(f.mail_from, "vexlan@localhost.localdomain");
  EXPECT_EQ(f.cluster_members, "localhost");
  EXPECT_EQ(f.webinterface_url, "http://localhost/vexlan/index.cgi");
  EXPECT_EQ(f.snmp_timeout_max, TimeValue(10, 0));
  EXPECT_EQ(f.tsdb_buffer_write_min, 16u);
  // Never read: left for others to fill.
  EXPECT_EQ(f.variable_file + f.libssl + f.host_name, "");
}

TEST(ServerConfig, DerivedDefaults) {
  EXPECT_EQ(read("socketio_bind_port=4000\n").broadcast_bind_port, 4000);
  EXPECT_EQ(read("socketio_bind_port=4000\nbroadcast_bind_port=5000\n").broadcast_bind_port, 5000);
  EXPECT_EQ(read("modem = \"COM3\"\n").modem_port, "COM3");
  EXPECT_EQ(read("modem = \"COM3\"\nmodem_port=\"COM4\"\n").modem_port, "COM4");
  EXPECT_EQ(read("netcheck_process_pool_size=0\n", 4).netcheck_process_pool_size, 4u);
  EXPECT_EQ(read("", 0).netcheck_process_pool_size, 8u);
  EXPECT_EQ(read("", 0x10002).netcheck_process_pool_size, 2u);  // low 16 bits
  EXPECT_EQ(read("netcheck_process_pool_size=500\n").netcheck_process_pool_size, 500u);
  EXPECT_EQ(read("snmp_timeout_initial=1500\n").snmp_timeout_initial, TimeValue(1, 500000));
  EXPECT_EQ(read("tsdb_buffer_entries=8\n").tsdb_buffer_write_min, 2u);
  EXPECT_EQ(errorOf(kRequired + "tsdb_buffer_entries=8\ntsdb_buffer_write_min=9\n"),
            "Integer value too high in line 7, maximum is 8 while looking for "
            "tsdb_buffer_write_min");
  EXPECT_EQ(read("allow_import_export=TRUE\n").skio_insecure, 1u);
  EXPECT_EQ(read("max_transfer_unit=512\n").mtu, 512);
}

// The supervisor's own options: read from the same file and checked like every other option.
TEST(ServerConfig, SupervisorSettings) {
  auto settings = [](const std::string& text) {
    ConfigMap map;
    std::istringstream in(text);
    read_config_stream(in, map);
    SupervisorSettings s;
    read_supervisor_settings(map, s);
    return s;
  };
  EXPECT_EQ(settings("").worker_stall_limit, 120u);
  EXPECT_EQ(settings("worker_stall_limit = 1\n").worker_stall_limit, 1u);
  EXPECT_EQ(settings("worker_stall_limit = 86400\n").worker_stall_limit, 86400u);
  for (const auto& [text, error] : std::vector<std::pair<std::string, std::string>>{
           {"worker_stall_limit = 0\n",
            "Integer value too low in line 1, minimum is 1 while looking for worker_stall_limit"},
           {"worker_stall_limit = 86401\n",
            "Integer value too high in line 1, maximum is 86400 while looking for "
            "worker_stall_limit"}}) {
    try {
      settings(text);
      ADD_FAILURE() << "no error for " << text;
    } catch (const error::Exception& e) {
      EXPECT_EQ(std::string(e.what()), error) << text;
    }
  }
}

TEST(ServerConfig, CacheSplitDefaultsStayInRange) {
  Fields small = read("dbms_cache_size=500\n");
  EXPECT_EQ(small.dbms_cache_kin, 200u);  // 500 / 4 lifted to the minimum
  EXPECT_EQ(small.dbms_cache_kout, 250u);
  Fields large = read("dbms_cache_size=3000000\n");
  EXPECT_EQ(large.dbms_cache_kin, 750000u);
  EXPECT_EQ(large.dbms_cache_kout, 1000000u);  // 1500000 capped at the maximum
  // Explicit values are still checked against the range the size gives.
  EXPECT_EQ(errorOf(kRequired + "dbms_cache_size=500\ndbms_cache_kin=251\n"),
            "Integer value too high in line 7, maximum is 250 while looking for dbms_cache_kin");
  EXPECT_EQ(read("dbms_cache_size=400\ndbms_cache_kin=200\n").dbms_cache_kin, 200u);
}

TEST(ServerConfig, ElseOptions) {
  // The newer name is required and range-checked, so a bad value falls back silently.
  EXPECT_EQ(read("netcheck_ping_spacing=50\n").remcheck_ping_spacing, 10000u);
  EXPECT_EQ(read("netcheck_ping_spacing=50\nremcheck_ping_spacing=300\n").remcheck_ping_spacing,
            300u);
  EXPECT_EQ(read("netcheck_ping_spacing=200\nremcheck_ping_spacing=300\n").remcheck_ping_spacing,
            200u);
  EXPECT_EQ(read("netcheck_limit_children=x\nremcheck_limit_children=3\n").remcheck_limit_children,
            3u);
  // The fallback's own error passes on.
  EXPECT_EQ(errorOf(kRequired + "netcheck_limit_children=1\nremcheck_limit_children=31\n"),
            "Integer value too high in line 7, maximum is 30 while looking for "
            "remcheck_limit_children");
  // snmp_packet_spacing falls back to itself: missing takes the default, bad stays bad.
  EXPECT_EQ(read("snmp_packet_spacing=100\n").snmp_packet_spacing, 100u);
  EXPECT_EQ(errorOf(kRequired + "snmp_packet_spacing=99\n"),
            "Integer value too low in line 6, minimum is 100 while looking for "
            "snmp_packet_spacing");
}

TEST(ServerConfig, SecretKeyLength) {
  EXPECT_EQ(errorOf(kRequired + "ssec_secret_keylength=200\n"),
            "ssec_secret_keylength must be 128, 192 or 256");
  EXPECT_EQ(read("ssec_secret_keylength=192\n").ssec_secret_keylength, 192u);
  EXPECT_EQ(read("ssec_secret_keylength=128\n").ssec_secret_keylength, 128u);
}

TEST(ServerConfig, LogMaskBits) {
  struct Case {
    std::string option;
    int bit;
  };
  const Case cases[] = {
      {"log_socketio_debug", 0},  {"log_dbms_debug", 1},       {"log_general_debug", 2},
      {"log_sched_debug", 3},     {"log_alarm_debug", 5},      {"log_alert_debug", 6},
      {"log_snmp_debug", 7},      {"log_broadcast_debug", 8},  {"log_time_debug", 9},
      {"log_netcheck_debug", 10}, {"log_remcheck_debug", 10},  {"log_brdc_frag_debug", 11},
      {"log_report_debug", 12},   {"log_forecast_debug", 13},  {"log_dbms_anomaly", 14},
      {"log_upgrade_debug", 15},  {"log_scan_debug", 16},      {"log_keygen_debug", 17},
      {"log_router_debug", 18},   {"log_link_debug", 19},      {"log_station_debug", 20},
      {"log_snmpval_debug", 21},  {"log_icmpcheck_debug", 22}, {"log_nodeclass_debug", 23},
      {"log_gridrpc_debug", 24},  {"log_gridsync_debug", 25},  {"log_tsdb_debug", 26},
      {"log_dbms_cpu", 27},       {"log_ssl_debug", 28},       {"log_uplink_debug", 29},
      {"log_esxi_debug", 30},     {"log_audit", 31},           {"log_tql_trace", 32}};
  for (const auto& c : cases) {
    EXPECT_EQ(read(c.option + "=true\nlog_assert=false\n").log_mask, uint64_t{1} << c.bit)
        << c.option;
  }
  // log_netcheck_debug wins when it reads; when it does not, log_remcheck_debug decides.
  EXPECT_EQ(read("log_netcheck_debug=false\nlog_remcheck_debug=true\n").log_mask, 1u << 4);
  EXPECT_EQ(read("log_netcheck_debug=maybe\nlog_remcheck_debug=true\n").log_mask,
            (1u << 4) | (1u << 10));
  EXPECT_EQ(errorOf(kRequired + "log_netcheck_debug=maybe\nlog_remcheck_debug=maybe\n"),
            "Expected either \"true\" or \"false\" value in line 7 (MAYBE) while looking for "
            "log_remcheck_debug");
}

TEST(ServerConfig, RegistrySourceFallsBackToMachineRoot) {
  MemoryRegistry user;
  MemoryRegistry machine({"SOFTWARE", "SOFTWARE\\Vexlan"});
  write_registry(machine, kServerKey,
                 {{"logdir", "C:\\logs"},
                  {"layout_conf", "l"},
                  {"dbms_tsdb", "t"},
                  {"dbms_odb", "o"},
                  {"working_directory", "w"},
                  {"log_days", "0"}});
  ConfigMap map = load_config_map(std::nullopt, user, machine);
  EXPECT_EQ(map.at("logdir").value, "C:\\logs");
  Fields f;
  // Registry values are plain texts; a value's line is its creation index less one (the
  // values were created in name order, log_days fourth).
  try {
    read_server_config(map, f, 1);
    ADD_FAILURE();
  } catch (const error::EParseError& e) {
    EXPECT_STREQ(e.what(),
                 "Integer value too low in line 2, minimum is 1 while looking for log_days");
  }
  EXPECT_EQ(f.system_log_dir_path, "C:\\logs");

  // The user root wins when it has the key, even an empty one.
  MemoryRegistry userWithKey({"SOFTWARE", "SOFTWARE\\Vexlan", kServerKey});
  EXPECT_TRUE(load_config_map(std::nullopt, userWithKey, machine).empty());

  // Neither root: the machine root's error passes on.
  MemoryRegistry none;
  try {
    load_config_map(std::nullopt, user, none);
    ADD_FAILURE();
  } catch (const error::ESystemError& e) {
    EXPECT_EQ(e.code(), 2);
  }
}

TEST(ServerConfig, NamedFileIsTheOnlySource) {
  vxtest::TempDir dir;
  MemoryRegistry user, machine({"SOFTWARE", "SOFTWARE\\Vexlan"});
  write_registry(machine, kServerKey, {{"logdir", "from registry"}});
  EXPECT_THROW(load_config_map(dir.file("missing.conf"), user, machine), error::EFStreamError);
  vxtest::writeFile(dir.file("a.conf"), kRequired);
  EXPECT_EQ(get_string_opt(load_config_map(dir.file("a.conf"), user, machine), "logdir", ""),
            "/var/log/vexlan");
}

}  // namespace
}  // namespace config
