// The server configuration every worker receives in SERVER_CONFIGURATION. The field order is
// the wire order and the order of the text form, so fields are only ever appended. A freshly
// made value has every string and set empty and every number and flag zero.
#pragma once

#include <cstdint>
#include <set>
#include <string>

#include "util/time_value.h"

namespace control {

struct Server_Configuration_Fields {
  std::string layout_conf_path;
  std::string dbms_tsdb_file_path;
  std::string dbms_odb_file_path;
  std::string dbms_odbj_file_path;
  std::string dbms_cache_tracefile;
  std::string dbms_event_tracefile;
  std::string dbms_tsdb_tracefile;
  uint32_t dbms_cache_size = 0;
  uint32_t dbms_cache_kin = 0;
  uint32_t dbms_cache_kout = 0;
  uint32_t dbms_buffer_blocks = 0;
  std::string variable_file;
  uint32_t smem_size = 0;
  std::string smem_prefix;
  std::string resource_directory;
  uint64_t log_mask = 0;
  bool passive = false;
  int32_t socketio_bind_port = 0;
  int32_t broadcast_bind_port = 0;
  bool socketio_legacy = false;
  uint32_t socketio_max_pending_connections = 0;
  uint32_t socketio_max_connections = 0;
  uint32_t socketio_max_inflight = 0;
  uint32_t socketio_agentconf_rate = 0;
  uint32_t socketio_agentconf_burst = 0;
  uint32_t remcheck_limit_children = 0;
  uint32_t remcheck_ping_spacing = 0;
  uint16_t netcheck_process_pool_size = 0;
  std::string custom_netcheck_conf;
  uint32_t dns_cache_secs = 0;
  std::string libssl;
  std::string system_log_dir_path;
  int32_t log_days = 0;
  std::string working_directory;
  bool disable_alerts = false;
  std::string alert_textmail_ending;
  std::string alert_sms_ending;
  std::string alert_sms_subject;
  std::string alert_htmlmail_ending;
  std::string webinterface_url;
  std::string mail_server;
  std::string mail_from;
  std::string reply_mail_to;
  std::string modem_port;
  std::string modem_init;
  std::string modem_sim_pin;
  std::set<std::string> modem_options;
  int32_t modem_baud_rate = 0;
  int32_t modem_pager_timeout = 0;
  bool alert_to_event_log = false;
  bool alert_to_incident_log = false;
  int32_t alert_defer_at_boot = 0;
  uint32_t alert_attempts = 0;
  uint32_t alert_retry_delay = 0;
  uint32_t agent_checkin_delay = 0;
  uint32_t max_snmp_table_entries = 0;
  uint32_t snmp_reconfig_delay = 0;
  int32_t snmp_max_retrans = 0;
  int32_t snmp_max_retrans_walk = 0;
  TimeValue snmp_timeout_initial;
  TimeValue snmp_timeout_max;
  uint32_t snmp_packet_spacing = 0;
  int32_t mtu = 0;
  std::string host_name;
  std::string cluster_members;
  std::string cluster_options;
  std::string report_generator;
  bool upload_serverinfo = false;
  std::string agent_package_path;
  uint32_t spare_keypool_size = 0;
  uint32_t keypool_reuse = 0;
  uint32_t skio_insecure = 0;  // 0 or 1
  uint32_t concurrent_check_recoveries = 0;
  std::string stop_on_log_match;
  uint32_t max_scan_processes = 0;
  uint32_t ssec_keylength = 0;
  uint32_t ssec_min_keylength = 0;
  uint32_t ssec_secret_keylength = 0;
  uint32_t ssec_secret_min_keylength = 0;
  uint32_t ssec_secret_lifetime = 0;
  uint32_t grid_default_ttl = 0;
  uint32_t master_notify_queue = 0;
  uint32_t satellite_tsdb_async = 0;
  uint32_t allowed_candidate_nodes = 0;
  bool tsdb_upgrade_discard_bufferlevels = false;
  uint32_t tsdb_buffer_entries = 0;
  uint32_t tsdb_buffer_write_min = 0;
  uint32_t tsdb_buffer_age_max = 0;
  uint32_t tsdb_buffer_flush_batch = 0;
  bool wapi_enabled = false;
  int32_t wapi_port = 0;
  bool wapi_use_ssl = false;
  uint32_t wapi_threads = 0;
  std::string wapi_ssl_cert_path;
  std::string ios_cert_path;
};

}  // namespace control
