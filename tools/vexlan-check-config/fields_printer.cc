#include "fields_printer.h"

#include <cstdio>

namespace {

std::string quoted(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    switch (c) {
      case '\a':
        out += "\\a";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\v':
        out += "\\v";
        break;
      case '\f':
        out += "\\f";
        break;
      case '\r':
        out += "\\r";
        break;
      case '"':
        out += "\\\"";
        break;
      case '\'':
        out += "\\'";
        break;
      case '\\':
        out += "\\\\";
        break;
      default:
        if (c < 0x20 || c > 0x7e) {
          char oct[5];
          std::snprintf(oct, sizeof oct, "\\%03o", c);
          out += oct;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

void value(std::ostream& os, const std::string& s) {
  os << quoted(s) << "\n";
}
void value(std::ostream& os, bool b) {
  os << (b ? "true" : "false") << "\n";
}
void value(std::ostream& os, uint16_t v) {
  os << v << "\n";
}
void value(std::ostream& os, uint32_t v) {
  os << v << "\n";
}
void value(std::ostream& os, int32_t v) {
  os << v << "\n";
}
void value(std::ostream& os, uint64_t v) {
  os << v << "\n";
}
void value(std::ostream& os, const TimeValue& t) {
  os << t.toString() << "\n";
}
void value(std::ostream& os, const std::set<std::string>& set) {
  os << "set {\n";
  for (const auto& s : set)
    os << "  " << quoted(s) << "\n";
  os << "}\n";
}

}  // namespace

void printFields(std::ostream& os, const control::Server_Configuration_Fields& c) {
#define VX_FIELD(name) \
  os << #name ": ";    \
  value(os, c.name);
  VX_FIELD(layout_conf_path)
  VX_FIELD(dbms_tsdb_file_path)
  VX_FIELD(dbms_odb_file_path)
  VX_FIELD(dbms_odbj_file_path)
  VX_FIELD(dbms_cache_tracefile)
  VX_FIELD(dbms_event_tracefile)
  VX_FIELD(dbms_tsdb_tracefile)
  VX_FIELD(dbms_cache_size)
  VX_FIELD(dbms_cache_kin)
  VX_FIELD(dbms_cache_kout)
  VX_FIELD(dbms_buffer_blocks)
  VX_FIELD(variable_file)
  VX_FIELD(smem_size)
  VX_FIELD(smem_prefix)
  VX_FIELD(resource_directory)
  VX_FIELD(log_mask)
  VX_FIELD(passive)
  VX_FIELD(socketio_bind_port)
  VX_FIELD(broadcast_bind_port)
  VX_FIELD(socketio_legacy)
  VX_FIELD(socketio_max_pending_connections)
  VX_FIELD(socketio_max_connections)
  VX_FIELD(socketio_max_inflight)
  VX_FIELD(socketio_agentconf_rate)
  VX_FIELD(socketio_agentconf_burst)
  VX_FIELD(remcheck_limit_children)
  VX_FIELD(remcheck_ping_spacing)
  VX_FIELD(netcheck_process_pool_size)
  VX_FIELD(custom_netcheck_conf)
  VX_FIELD(dns_cache_secs)
  VX_FIELD(libssl)
  VX_FIELD(system_log_dir_path)
  VX_FIELD(log_days)
  VX_FIELD(working_directory)
  VX_FIELD(disable_alerts)
  VX_FIELD(alert_textmail_ending)
  VX_FIELD(alert_sms_ending)
  VX_FIELD(alert_sms_subject)
  VX_FIELD(alert_htmlmail_ending)
  VX_FIELD(webinterface_url)
  VX_FIELD(mail_server)
  VX_FIELD(mail_from)
  VX_FIELD(reply_mail_to)
  VX_FIELD(modem_port)
  VX_FIELD(modem_init)
  VX_FIELD(modem_sim_pin)
  VX_FIELD(modem_options)
  VX_FIELD(modem_baud_rate)
  VX_FIELD(modem_pager_timeout)
  VX_FIELD(alert_to_event_log)
  VX_FIELD(alert_to_incident_log)
  VX_FIELD(alert_defer_at_boot)
  VX_FIELD(alert_attempts)
  VX_FIELD(alert_retry_delay)
  VX_FIELD(agent_checkin_delay)
  VX_FIELD(max_snmp_table_entries)
  VX_FIELD(snmp_reconfig_delay)
  VX_FIELD(snmp_max_retrans)
  VX_FIELD(snmp_max_retrans_walk)
  VX_FIELD(snmp_timeout_initial)
  VX_FIELD(snmp_timeout_max)
  VX_FIELD(snmp_packet_spacing)
  VX_FIELD(mtu)
  VX_FIELD(host_name)
  VX_FIELD(cluster_members)
  VX_FIELD(cluster_options)
  VX_FIELD(report_generator)
  VX_FIELD(upload_serverinfo)
  VX_FIELD(agent_package_path)
  VX_FIELD(spare_keypool_size)
  VX_FIELD(keypool_reuse)
  VX_FIELD(skio_insecure)
  VX_FIELD(concurrent_check_recoveries)
  VX_FIELD(stop_on_log_match)
  VX_FIELD(max_scan_processes)
  VX_FIELD(ssec_keylength)
  VX_FIELD(ssec_min_keylength)
  VX_FIELD(ssec_secret_keylength)
  VX_FIELD(ssec_secret_min_keylength)
  VX_FIELD(ssec_secret_lifetime)
  VX_FIELD(grid_default_ttl)
  VX_FIELD(master_notify_queue)
  VX_FIELD(satellite_tsdb_async)
  VX_FIELD(allowed_candidate_nodes)
  VX_FIELD(tsdb_upgrade_discard_bufferlevels)
  VX_FIELD(tsdb_buffer_entries)
  VX_FIELD(tsdb_buffer_write_min)
  VX_FIELD(tsdb_buffer_age_max)
  VX_FIELD(tsdb_buffer_flush_batch)
  VX_FIELD(wapi_enabled)
  VX_FIELD(wapi_port)
  VX_FIELD(wapi_use_ssl)
  VX_FIELD(wapi_threads)
  VX_FIELD(wapi_ssl_cert_path)
  VX_FIELD(ios_cert_path)
#undef VX_FIELD
}
