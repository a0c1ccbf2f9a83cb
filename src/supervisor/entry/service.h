// The service manager's side of a run: systemd's Type=notify protocol through sd_notify.
#pragma once

#include <string>

namespace entry {

// Tells the service manager named by `notify_socket` (the NOTIFY_SOCKET variable; null or
// empty when there is none) that the service is starting. Without a service manager to talk
// to, raises EFatal "Unable to start service: " + the reason.
void startService(const char* notify_socket);

// Sends newline-separated assignments ("READY=1\nSTATUS=..."). Once the service runs its state
// reports are advisory, so a failure is not an error of the run.
void serviceNotify(const std::string& assignments);

// "STATUS=" + text, with line ends turned into spaces: one line per assignment.
std::string statusAssignment(const std::string& text);

}  // namespace entry
