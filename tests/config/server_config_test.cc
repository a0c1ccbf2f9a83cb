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

// Defaults that are decisions or follow other values; the plain ranges and defaults are
// checked option by option below.
TEST(ServerConfig, Defaults) {
  const Fields f = read("");
  EXPECT_EQ(f.log_mask, uint64_t{1} << 4);  // only log_assert is on by default
  EXPECT_EQ(f.modem_options, (std::set<std::string>{"page"}));
  EXPECT_EQ(f.alert_textmail_ending, "\n\nKind regards,\n    The Vexlan.\n");
  EXPECT_EQ(f.mail_server, "localhost");
  EXPECT_EQ(f.mail_from, "vexlan@localhost.localdomain");
  EXPECT_EQ(f.cluster_members, "localhost");
  EXPECT_EQ(f.webinterface_url, "http://localhost/vexlan/index.cgi");
  // Never read: left for others to fill.
  EXPECT_EQ(f.variable_file + f.libssl + f.host_name, "");
}

// Every integer option: its default, both ends of its range, and the exact error just past
// each end (the option's line is the first after kRequired). An option read under a newer
// name first falls back to the old one instead of failing.
TEST(ServerConfig, EveryIntegerOptionsRangeAndDefault) {
  using Get = int64_t (*)(const Fields&);
  struct Option {
    const char* name;
    int64_t min, max, def;
    Get get;
    bool falls_back = false;
  };
#define VX_GET(field) [](const Fields& f) -> int64_t { return f.field; }
#define VX_GET_MS(field) \
  [](const Fields& f) -> int64_t { return int64_t{f.field.sec} * 1000 + f.field.usec / 1000; }
  const Option options[] = {
      {"log_days", 1, 40, 1, VX_GET(log_days)},
      {"dbms_cache_size", 400, 10000000, 250000, VX_GET(dbms_cache_size)},
      {"dbms_cache_kin", 200, 125000, 62500, VX_GET(dbms_cache_kin)},  // at the default size
      {"dbms_cache_kout", 200, 1000000, 125000, VX_GET(dbms_cache_kout)},
      {"dbms_buffer_blocks", 32, 9999991, 4099, VX_GET(dbms_buffer_blocks)},
      {"smem_size", 16, 1024, 128, VX_GET(smem_size)},
      {"socketio_bind_port", 1025, 65535, 3241, VX_GET(socketio_bind_port)},
      {"broadcast_bind_port", 1025, 65535, 3241, VX_GET(broadcast_bind_port)},
      {"netcheck_ping_spacing", 100, 5000000, 10000, VX_GET(remcheck_ping_spacing), true},
      {"remcheck_ping_spacing", 100, 5000000, 10000, VX_GET(remcheck_ping_spacing)},
      {"socketio_max_pending_connections", 5, 5000, 200, VX_GET(socketio_max_pending_connections)},
      {"socketio_max_connections", 5, 5000, 300, VX_GET(socketio_max_connections)},
      {"socketio_max_inflight", 5, 1000, 10, VX_GET(socketio_max_inflight)},
      {"socketio_agentconf_burst", 1, 50, 5, VX_GET(socketio_agentconf_burst)},
      {"socketio_agentconf_rate", 10, 86400, 600, VX_GET(socketio_agentconf_rate)},
      {"netcheck_limit_children", 2, 30, 20, VX_GET(remcheck_limit_children), true},
      {"remcheck_limit_children", 2, 30, 20, VX_GET(remcheck_limit_children)},
      {"dns_cache_secs", 0, 31536000, 86400, VX_GET(dns_cache_secs)},
      {"modem_pager_timeout", 1, 300, 30, VX_GET(modem_pager_timeout)},
      {"alert_defer_at_boot", 0, 60, 2, VX_GET(alert_defer_at_boot)},
      {"alert_attempts", 1, 100, 5, VX_GET(alert_attempts)},
      {"alert_retry_delay", 3, 600, 30, VX_GET(alert_retry_delay)},
      {"agent_checkin_delay", 3, 600, 30, VX_GET(agent_checkin_delay)},
      {"max_transfer_unit", 512, 1500, 1500, VX_GET(mtu)},
      {"max_snmp_table_entries", 1, 10000, 500, VX_GET(max_snmp_table_entries)},
      {"snmp_reconfig_delay", 15, 900, 30, VX_GET(snmp_reconfig_delay)},
      {"snmp_max_retrans", 1, 25, 3, VX_GET(snmp_max_retrans)},
      {"snmp_max_retrans_walk", 1, 25, 5, VX_GET(snmp_max_retrans_walk)},
      {"snmp_timeout_initial", 100, 2500, 500, VX_GET_MS(snmp_timeout_initial)},
      {"snmp_timeout_max", 1000, 50000, 10000, VX_GET_MS(snmp_timeout_max)},
      {"snmp_packet_spacing", 100, 5000000, 10000, VX_GET(snmp_packet_spacing)},
      {"spare_keypool_size", 1, 50, 5, VX_GET(spare_keypool_size)},
      {"keypool_reuse", 1, 50, 1, VX_GET(keypool_reuse)},
      {"concurrent_check_recoveries", 1, 100, 4, VX_GET(concurrent_check_recoveries)},
      {"max_scan_processes", 4, 30, 8, VX_GET(max_scan_processes)},
      {"ssec_keylength", 512, 8192, 1024, VX_GET(ssec_keylength)},
      {"ssec_min_keylength", 512, 8192, 1024, VX_GET(ssec_min_keylength)},
      {"ssec_secret_keylength", 128, 256, 256, VX_GET(ssec_secret_keylength)},
      {"ssec_secret_min_keylength", 128, 256, 128, VX_GET(ssec_secret_min_keylength)},
      {"ssec_secret_lifetime", 60, 7200, 600, VX_GET(ssec_secret_lifetime)},
      {"grid_default_ttl", 1, 64, 8, VX_GET(grid_default_ttl)},
      {"master_notify_queue", 128, 1048576, 8192, VX_GET(master_notify_queue)},
      {"satellite_tsdb_async", 1, 8192, 32, VX_GET(satellite_tsdb_async)},
      {"allowed_candidate_nodes", 0, 100, 10, VX_GET(allowed_candidate_nodes)},
      {"tsdb_buffer_entries", 8, 8192, 64, VX_GET(tsdb_buffer_entries)},
      {"tsdb_buffer_write_min", 1, 64, 16, VX_GET(tsdb_buffer_write_min)},  // at the default
      {"tsdb_buffer_age_max", 120, 21600, 600, VX_GET(tsdb_buffer_age_max)},
      {"tsdb_buffer_flush_batch", 1, 8192, 8, VX_GET(tsdb_buffer_flush_batch)},
      {"wapi_port", 1025, 65535, 8088, VX_GET(wapi_port)},
      {"wapi_threads", 1, 5, 1, VX_GET(wapi_threads)},
  };
#undef VX_GET
#undef VX_GET_MS
  const Fields defaults = read("");
  for (const Option& o : options) {
    SCOPED_TRACE(o.name);
    const std::string name = o.name;
    EXPECT_EQ(o.get(defaults), o.def);
    EXPECT_EQ(o.get(read(name + "=" + std::to_string(o.min) + "\n")), o.min);
    EXPECT_EQ(o.get(read(name + "=" + std::to_string(o.max) + "\n")), o.max);
    const std::string low = name + "=" + std::to_string(o.min - 1) + "\n";
    const std::string high = name + "=" + std::to_string(o.max + 1) + "\n";
    if (o.falls_back) {
      EXPECT_EQ(o.get(read(low)), o.def);
      EXPECT_EQ(o.get(read(high)), o.def);
      continue;
    }
    EXPECT_EQ(errorOf(kRequired + low), "Integer value too low in line 6, minimum is " +
                                            std::to_string(o.min) + " while looking for " + name);
    EXPECT_EQ(errorOf(kRequired + high), "Integer value too high in line 6, maximum is " +
                                             std::to_string(o.max) + " while looking for " + name);
  }
  // The pool size's default and minimum 0 mean the processor count (4 here).
  EXPECT_EQ(defaults.netcheck_process_pool_size, 4u);
  EXPECT_EQ(errorOf(kRequired + "netcheck_process_pool_size=-1\n"),
            "Integer value too low in line 6, minimum is 0 while looking for "
            "netcheck_process_pool_size");
  EXPECT_EQ(errorOf(kRequired + "netcheck_process_pool_size=501\n"),
            "Integer value too high in line 6, maximum is 500 while looking for "
            "netcheck_process_pool_size");
  // The baud rate is one of a list.
  for (int rate : {200, 300, 600, 1200, 1800, 2400, 4800, 9600, 19200, 38400})
    EXPECT_EQ(read("modem_baud_rate=" + std::to_string(rate) + "\n").modem_baud_rate, rate);
  EXPECT_EQ(defaults.modem_baud_rate, 9600);
  EXPECT_EQ(errorOf(kRequired + "modem_baud_rate=9601\n"),
            "Integer value invalid in line 6, expected one of 200, 300, 600, 1200, 1800, 2400, "
            "4800, 9600, 19200, 38400");
}

// Every flag is false unless set; every text option has its default unless given.
TEST(ServerConfig, EveryFlagAndTextOptionsDefault) {
  using GetBool = bool (*)(const Fields&);
  const std::pair<const char*, GetBool> flags[] = {
      {"socketio_legacy", [](const Fields& f) { return f.socketio_legacy; }},
      {"disable_alerts", [](const Fields& f) { return f.disable_alerts; }},
      {"passive", [](const Fields& f) { return f.passive; }},
      {"alert_to_event_log", [](const Fields& f) { return f.alert_to_event_log; }},
      {"alert_to_incident_log", [](const Fields& f) { return f.alert_to_incident_log; }},
      {"upload_serverinfo", [](const Fields& f) { return f.upload_serverinfo; }},
      {"allow_import_export", [](const Fields& f) { return f.skio_insecure != 0; }},
      {"tsdb_upgrade_discard_bufferlevels",
       [](const Fields& f) { return f.tsdb_upgrade_discard_bufferlevels; }},
      {"wapi_enabled", [](const Fields& f) { return f.wapi_enabled; }},
      {"wapi_use_ssl", [](const Fields& f) { return f.wapi_use_ssl; }},
  };
  const Fields defaults = read("");
  for (const auto& [name, get] : flags) {
    EXPECT_FALSE(get(defaults)) << name;
    EXPECT_TRUE(get(read(std::string(name) + "=true\n"))) << name;
  }
  using GetText = const std::string& (*)(const Fields&);
  struct Text {
    const char* name;
    const char* def;
    GetText get;
  };
#define VX_TEXT(field) [](const Fields& f) -> const std::string& { return f.field; }
  const Text texts[] = {
      {"dbms_odbj", "", VX_TEXT(dbms_odbj_file_path)},
      {"dbms_cache_tracefile", "", VX_TEXT(dbms_cache_tracefile)},
      {"dbms_event_tracefile", "", VX_TEXT(dbms_event_tracefile)},
      {"dbms_tsdb_tracefile", "", VX_TEXT(dbms_tsdb_tracefile)},
      {"smem_prefix", "SMem", VX_TEXT(smem_prefix)},
      {"resource_directory", "", VX_TEXT(resource_directory)},
      {"custom_netcheck_conf", "", VX_TEXT(custom_netcheck_conf)},
      {"reply_mail_to", "root", VX_TEXT(reply_mail_to)},
      {"modem_port", "COM1", VX_TEXT(modem_port)},
      {"modem_init", "ate0 s7=20 s8=2", VX_TEXT(modem_init)},
      {"modem_sim_pin", "", VX_TEXT(modem_sim_pin)},
      {"alert_sms_ending", "", VX_TEXT(alert_sms_ending)},
      {"alert_sms_subject", "", VX_TEXT(alert_sms_subject)},
      {"alert_htmlmail_ending", "<p>Kind regards,<br>The Vexlan.</p>",
       VX_TEXT(alert_htmlmail_ending)},
      {"report_generator", "Vexlan from Tolvane A/S", VX_TEXT(report_generator)},
      {"host_name", "", VX_TEXT(host_name)},
      {"cluster_options", "", VX_TEXT(cluster_options)},
      {"agent_package_path", ".", VX_TEXT(agent_package_path)},
      {"stop_on_log_match", "", VX_TEXT(stop_on_log_match)},
      {"wapi_ssl_cert_path", ".", VX_TEXT(wapi_ssl_cert_path)},
      {"ios_cert_path", ".", VX_TEXT(ios_cert_path)},
  };
#undef VX_TEXT
  for (const Text& t : texts) {
    EXPECT_EQ(t.get(defaults), t.def) << t.name;
    EXPECT_EQ(t.get(read(std::string(t.name) + " = \"given\"\n")), "given") << t.name;
  }
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
