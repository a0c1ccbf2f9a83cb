#include "config/server_config.h"

#include <unistd.h>

#include <algorithm>

#include "config/config_file.h"
#include "config/lookup.h"
#include "config/sqlite_registry.h"
#include "error/exception.h"

namespace config {

namespace {

// Debug areas of the log mask in the order they are read, with their bit numbers.
struct MaskFlag {
  const char* option;
  int bit;
};
constexpr MaskFlag kMaskBeforeNetcheck[] = {
    {"log_socketio_debug", 0},  {"log_dbms_debug", 1},  {"log_dbms_cpu", 27},
    {"log_dbms_anomaly", 14},   {"log_snmp_debug", 7},  {"log_general_debug", 2},
    {"log_sched_debug", 3},     {"log_alarm_debug", 5}, {"log_alert_debug", 6},
    {"log_broadcast_debug", 8}, {"log_time_debug", 9},  {"log_scan_debug", 16},
    {"log_esxi_debug", 30},
};
constexpr int kNetcheckBit = 10;
constexpr MaskFlag kMaskAfterNetcheck[] = {
    {"log_ssl_debug", 28},       {"log_icmpcheck_debug", 22}, {"log_brdc_frag_debug", 11},
    {"log_report_debug", 12},    {"log_forecast_debug", 13},  {"log_assert", 4},
    {"log_upgrade_debug", 15},   {"log_keygen_debug", 17},    {"log_router_debug", 18},
    {"log_link_debug", 19},      {"log_station_debug", 20},   {"log_snmpval_debug", 21},
    {"log_nodeclass_debug", 23}, {"log_gridrpc_debug", 24},   {"log_gridsync_debug", 25},
    {"log_tsdb_debug", 26},      {"log_uplink_debug", 29},    {"log_audit", 31},
    {"log_tql_trace", 32},
};
constexpr int kAssertBit = 4;  // the one area on by default

uint64_t readLogMask(const ConfigMap& map) {
  uint64_t mask = 0;
  auto flag = [&](const MaskFlag& f) {
    if (get_bool_opt(map, f.option, f.bit == kAssertBit)) mask |= uint64_t{1} << f.bit;
  };
  for (const auto& f : kMaskBeforeNetcheck)
    flag(f);
  bool netcheck;
  try {
    netcheck = get_bool(map, "log_netcheck_debug");
  } catch (const error::Exception&) {
    netcheck = get_bool_opt(map, "log_remcheck_debug", false);
  }
  if (netcheck) mask |= uint64_t{1} << kNetcheckBit;
  for (const auto& f : kMaskAfterNetcheck)
    flag(f);
  return mask;
}

// A required lookup under its current name; on any error the old name, with a default.
int32_t integerElse(const ConfigMap& map, const std::string& key, const std::string& oldKey,
                    int32_t low, int32_t high, int32_t def) {
  try {
    return get_integer(map, key, low, high);
  } catch (const error::Exception&) {
    return get_integer_opt(map, oldKey, low, high, def);
  }
}

TimeValue milliseconds(int32_t ms) {
  return TimeValue(ms / 1000, (ms % 1000) * 1000);
}

uint32_t u32(int32_t v) {
  return static_cast<uint32_t>(v);
}

}  // namespace

ConfigMap load_config_map(const std::optional<std::string>& file, Registry& user,
                          Registry& machine) {
  ConfigMap map;
  if (file) {
    read_config_file(*file, map);
    return map;
  }
  try {
    read_registry(user, kServerKey, map, false);
  } catch (const error::Exception&) {
    map.clear();
    read_registry(machine, kServerKey, map, false);
  }
  return map;
}

void read_server_config(const ConfigMap& map, control::Server_Configuration_Fields& c,
                        unsigned processors) {
  c.system_log_dir_path = get_string(map, "logdir");
  c.log_days = get_integer_opt(map, "log_days", 1, 40, 1);
  c.log_mask = readLogMask(map);
  c.layout_conf_path = get_string(map, "layout_conf");
  c.dbms_tsdb_file_path = get_string(map, "dbms_tsdb");
  c.dbms_odb_file_path = get_string(map, "dbms_odb");
  c.dbms_odbj_file_path = get_string_opt(map, "dbms_odbj", "");

  // The cache split defaults follow the cache size; a size whose derived default would leave
  // the option's own range gets the nearest value inside it, so every accepted size starts.
  const int32_t cacheSize = get_integer_opt(map, "dbms_cache_size", 400, 10000000, 250000);
  c.dbms_cache_size = u32(cacheSize);
  c.dbms_cache_kin =
      u32(get_integer_opt(map, "dbms_cache_kin", 200, cacheSize / 2, std::max(200, cacheSize / 4)));
  c.dbms_cache_kout =
      u32(get_integer_opt(map, "dbms_cache_kout", 200, 1000000, std::min(1000000, cacheSize / 2)));
  c.dbms_buffer_blocks = u32(get_integer_opt(map, "dbms_buffer_blocks", 32, 9999991, 4099));
  c.dbms_cache_tracefile = get_string_opt(map, "dbms_cache_tracefile", "");
  c.dbms_event_tracefile = get_string_opt(map, "dbms_event_tracefile", "");
  c.dbms_tsdb_tracefile = get_string_opt(map, "dbms_tsdb_tracefile", "");
  c.smem_prefix = get_string_opt(map, "smem_prefix", "SMem");
  c.smem_size = u32(get_integer_opt(map, "smem_size", 16, 1024, 128));
  c.resource_directory = get_string_opt(map, "resource_directory", "");

  c.socketio_bind_port = get_integer_opt(map, "socketio_bind_port", 1025, 65535, 3241);
  c.broadcast_bind_port =
      get_integer_opt(map, "broadcast_bind_port", 1025, 65535, c.socketio_bind_port);
  c.socketio_legacy = get_bool_opt(map, "socketio_legacy", false);
  c.remcheck_ping_spacing =
      u32(integerElse(map, "netcheck_ping_spacing", "remcheck_ping_spacing", 100, 5000000, 10000));
  c.custom_netcheck_conf = get_string_opt(map, "custom_netcheck_conf", "");
  c.socketio_max_pending_connections =
      u32(get_integer_opt(map, "socketio_max_pending_connections", 5, 5000, 200));
  c.socketio_max_connections = u32(get_integer_opt(map, "socketio_max_connections", 5, 5000, 300));
  c.socketio_max_inflight = u32(get_integer_opt(map, "socketio_max_inflight", 5, 1000, 10));
  c.socketio_agentconf_burst = u32(get_integer_opt(map, "socketio_agentconf_burst", 1, 50, 5));
  c.socketio_agentconf_rate = u32(get_integer_opt(map, "socketio_agentconf_rate", 10, 86400, 600));
  c.remcheck_limit_children =
      u32(integerElse(map, "netcheck_limit_children", "remcheck_limit_children", 2, 30, 20));
  int32_t pool = get_integer_opt(map, "netcheck_process_pool_size", 0, 500, 0);
  if (pool == 0) pool = static_cast<int32_t>(processors & 0xffff);
  c.netcheck_process_pool_size = static_cast<uint16_t>(pool == 0 ? 8 : pool);
  c.dns_cache_secs = u32(get_integer_opt(map, "dns_cache_secs", 0, 31536000, 86400));
  c.working_directory = get_string(map, "working_directory");
  c.disable_alerts = get_bool_opt(map, "disable_alerts", false);
  c.passive = get_bool_opt(map, "passive", false);

  c.mail_server = get_string_opt(map, "mail_server", kDefaultMailServer);
  c.mail_from = get_string_opt(map, "mail_from", kDefaultMailFrom);
  c.reply_mail_to = get_string_opt(map, "reply_mail_to", "root");
  const std::string modem = get_string_opt(map, "modem", "COM1");
  c.modem_port = get_string_opt(map, "modem_port", modem);
  c.modem_options = get_string_set(map, "modem_options", "page");
  c.modem_init = get_string_opt(map, "modem_init", "ate0 s7=20 s8=2");
  c.modem_sim_pin = get_string_opt(map, "modem_sim_pin", "");
  c.modem_baud_rate = get_integer_in(
      map, "modem_baud_rate", {200, 300, 600, 1200, 1800, 2400, 4800, 9600, 19200, 38400}, 9600);
  c.modem_pager_timeout = get_integer_opt(map, "modem_pager_timeout", 1, 300, 30);
  c.alert_to_event_log = get_bool_opt(map, "alert_to_event_log", false);
  c.alert_to_incident_log = get_bool_opt(map, "alert_to_incident_log", false);
  c.alert_textmail_ending = get_string_opt_unescaped(map, "alert_textmail_ending",
                                                     "\n\nKind regards,\n    The Vexlan.\n");
  c.alert_sms_ending = get_string_opt_unescaped(map, "alert_sms_ending", "");
  c.alert_sms_subject = get_string_opt_unescaped(map, "alert_sms_subject", "");
  c.alert_htmlmail_ending =
      get_string_opt_unescaped(map, "alert_htmlmail_ending", "<p>Kind regards,<br>The Vexlan.</p>");
  c.alert_defer_at_boot = get_integer_opt(map, "alert_defer_at_boot", 0, 60, 2);
  c.alert_attempts = u32(get_integer_opt(map, "alert_attempts", 1, 100, 5));
  c.alert_retry_delay = u32(get_integer_opt(map, "alert_retry_delay", 3, 600, 30));
  c.agent_checkin_delay = u32(get_integer_opt(map, "agent_checkin_delay", 3, 600, 30));
  c.webinterface_url = get_string_opt(map, "webinterface_url", kDefaultWebInterfaceUrl);
  c.report_generator = get_string_opt_unescaped(map, "report_generator", "Vexlan from Tolvane A/S");
  c.host_name = get_string_opt(map, "host_name", "");
  c.mtu = get_integer_opt(map, "max_transfer_unit", 512, 1500, 1500);
  c.cluster_members = get_string_opt(map, "cluster_members", kDefaultClusterMembers);
  c.cluster_options = get_string_opt(map, "cluster_options", "");

  c.max_snmp_table_entries = u32(get_integer_opt(map, "max_snmp_table_entries", 1, 10000, 500));
  c.snmp_reconfig_delay = u32(get_integer_opt(map, "snmp_reconfig_delay", 15, 900, 30));
  c.snmp_max_retrans = get_integer_opt(map, "snmp_max_retrans", 1, 25, 3);
  c.snmp_max_retrans_walk = get_integer_opt(map, "snmp_max_retrans_walk", 1, 25, 5);
  c.snmp_timeout_initial =
      milliseconds(get_integer_opt(map, "snmp_timeout_initial", 100, 2500, 500));
  c.snmp_timeout_max = milliseconds(get_integer_opt(map, "snmp_timeout_max", 1000, 50000, 10000));
  c.snmp_packet_spacing =
      u32(integerElse(map, "snmp_packet_spacing", "snmp_packet_spacing", 100, 5000000, 10000));

  c.agent_package_path = get_string_opt(map, "agent_package_path", ".");
  c.upload_serverinfo = get_bool_opt(map, "upload_serverinfo", false);
  c.spare_keypool_size = u32(get_integer_opt(map, "spare_keypool_size", 1, 50, 5));
  c.keypool_reuse = u32(get_integer_opt(map, "keypool_reuse", 1, 50, 1));
  c.concurrent_check_recoveries =
      u32(get_integer_opt(map, "concurrent_check_recoveries", 1, 100, 4));
  c.max_scan_processes = u32(get_integer_opt(map, "max_scan_processes", 4, 30, 8));
  c.stop_on_log_match = get_string_opt(map, "stop_on_log_match", "");
  c.skio_insecure = get_bool_opt(map, "allow_import_export", false) ? 1 : 0;

  c.ssec_keylength = u32(get_integer_opt(map, "ssec_keylength", 512, 8192, 1024));
  c.ssec_min_keylength = u32(get_integer_opt(map, "ssec_min_keylength", 512, 8192, 1024));
  c.ssec_secret_keylength = u32(get_integer_opt(map, "ssec_secret_keylength", 128, 256, 256));
  if (c.ssec_secret_keylength != 128 && c.ssec_secret_keylength != 192 &&
      c.ssec_secret_keylength != 256) {
    throw error::EParseError("ssec_secret_keylength must be 128, 192 or 256");
  }
  c.ssec_secret_min_keylength =
      u32(get_integer_opt(map, "ssec_secret_min_keylength", 128, 256, 128));
  c.ssec_secret_lifetime = u32(get_integer_opt(map, "ssec_secret_lifetime", 60, 7200, 600));

  c.grid_default_ttl = u32(get_integer_opt(map, "grid_default_ttl", 1, 64, 8));
  c.master_notify_queue = u32(get_integer_opt(map, "master_notify_queue", 128, 1048576, 8192));
  c.satellite_tsdb_async = u32(get_integer_opt(map, "satellite_tsdb_async", 1, 8192, 32));
  c.allowed_candidate_nodes = u32(get_integer_opt(map, "allowed_candidate_nodes", 0, 100, 10));

  c.tsdb_upgrade_discard_bufferlevels =
      get_bool_opt(map, "tsdb_upgrade_discard_bufferlevels", false);
  const int32_t entries = get_integer_opt(map, "tsdb_buffer_entries", 8, 8192, 64);
  c.tsdb_buffer_entries = u32(entries);
  c.tsdb_buffer_write_min =
      u32(get_integer_opt(map, "tsdb_buffer_write_min", 1, entries, entries / 4));
  c.tsdb_buffer_age_max = u32(get_integer_opt(map, "tsdb_buffer_age_max", 120, 21600, 600));
  c.tsdb_buffer_flush_batch = u32(get_integer_opt(map, "tsdb_buffer_flush_batch", 1, 8192, 8));

  c.wapi_enabled = get_bool_opt(map, "wapi_enabled", false);
  c.wapi_port = get_integer_opt(map, "wapi_port", 1025, 65535, 8088);
  c.wapi_use_ssl = get_bool_opt(map, "wapi_use_ssl", false);
  c.wapi_threads = u32(get_integer_opt(map, "wapi_threads", 1, 5, 1));
  c.wapi_ssl_cert_path = get_string_opt(map, "wapi_ssl_cert_path", ".");
  c.ios_cert_path = get_string_opt(map, "ios_cert_path", ".");
}

void read_supervisor_settings(const ConfigMap& map, SupervisorSettings& s) {
  s.worker_stall_limit = u32(get_integer_opt(map, "worker_stall_limit", 1, 86400, 120));
}

void load_server_config(const std::optional<std::string>& file,
                        control::Server_Configuration_Fields& cfg, SupervisorSettings* settings) {
  auto user = SqliteRegistry::forRoot(RegistryRoot::User);
  auto machine = SqliteRegistry::forRoot(RegistryRoot::Machine);
  ConfigMap map = load_config_map(file, *user, *machine);
  read_server_config(map, cfg, processorCount());
  if (settings != nullptr) read_supervisor_settings(map, *settings);
}

unsigned processorCount() {
  long n = ::sysconf(_SC_NPROCESSORS_ONLN);
  return n > 0 ? static_cast<unsigned>(n) : 0;
}

}  // namespace config
