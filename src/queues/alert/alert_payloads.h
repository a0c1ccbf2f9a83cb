// Payloads of the alert worker and its pager, mailer and push helpers.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "tql/id.h"
#include "wire/codec.h"

namespace alert {

using tql::id_t;

struct Forecast_Warning_Data {
  id_t check;
  id_t host;
  id_t alertGroup;
  std::string subject;
  std::string body;
  uint32_t status = 0;
  VX_FIELDS(Forecast_Warning_Data, check, host, alertGroup, subject, body, status)
};

struct Generic_Notify_Data {
  bool ignore_delay = false;
  id_t rcpt;
  std::string subject;
  std::string body;
  std::string sms_body;
  VX_FIELDS(Generic_Notify_Data, ignore_delay, rcpt, subject, body, sms_body)
};

struct Notify_AlertGroup_Data {
  id_t id_alert_group;
  std::string subject;
  std::string body;
  VX_FIELDS(Notify_AlertGroup_Data, id_alert_group, subject, body)
};

struct Object_Status_Change_Data {
  id_t object;
  id_t node;
  uint32_t old_status = 0;
  uint32_t new_status = 0;
  id_t user;
  std::string comment;
  VX_FIELDS(Object_Status_Change_Data, object, node, old_status, new_status, user, comment)
};

struct Pager_Page_Data {
  uint32_t seq = 0;
  uint32_t type = 0;
  std::string dest;
  std::string body;
  std::string modem_port;
  std::string modem_init;
  std::string modem_sim_pin;
  std::vector<std::string> modem_options;
  int32_t modem_baud_rate = 0;
  int32_t modem_pager_timeout = 0;
  VX_FIELDS(Pager_Page_Data, seq, type, dest, body, modem_port, modem_init, modem_sim_pin,
            modem_options, modem_baud_rate, modem_pager_timeout)
};

struct Pager_Status_Data {
  uint32_t status = 0;
  uint32_t seq = 0;
  VX_FIELDS(Pager_Status_Data, status, seq)
};

struct Mailer_Mail_Data {
  std::string dest;
  std::string subject;
  std::string text_body;
  std::string html_body;
  std::map<std::string, std::string> html_images;
  std::map<std::string, std::string> x_headers;
  std::string mail_server;
  std::string mail_from;
  std::string reply_mail_to;
  VX_FIELDS(Mailer_Mail_Data, dest, subject, text_body, html_body, html_images, x_headers,
            mail_server, mail_from, reply_mail_to)
};

struct Mailer_Status_Data {
  uint32_t status = 0;
  VX_FIELDS(Mailer_Status_Data, status)
};

struct Push_Notification_Data {
  uint32_t method = 0;
  wire::Bytes token;
  std::string body;
  std::string path;
  VX_FIELDS(Push_Notification_Data, method, token, body, path)
};

struct Push_Status_Data {
  uint32_t status = 0;
  VX_FIELDS(Push_Status_Data, status)
};

}  // namespace alert
