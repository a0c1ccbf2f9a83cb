// Crash reports. On SIGSEGV, SIGBUS, SIGILL or SIGFPE the handler writes a report beside the
// executable (signal, fault address, backtrace, memory map), passes a message naming it to a
// notice callback, and lets the signal's default action end the process, so that the system's
// own core handling still takes place.
//
// SIGABRT is left alone: assertions abort on purpose, after saying why. std::terminate (an
// uncaught exception that is not an error::Exception, a call of a pure virtual function) does
// write a report, since nothing else says where it happened, and then goes on to the previous
// terminate handler, which prints the exception and aborts.
//
// Everything in the handler is async-signal-safe: paths are computed when it is installed, the
// report is written with write(2), and the C library's unwinder is loaded in advance so that
// backtrace() allocates nothing in the handler.
#pragma once

#include <string>

namespace entry {

// Receives the message about the report; it runs inside a signal handler and must only make
// async-signal-safe calls.
using CrashNotice = void (*)(const char* message);

// Installs the handlers on an alternate stack (a stack overflow still gets a report) with
// `notice` receiving the message. Installing again replaces the notice.
void installCrashHandler(CrashNotice notice);

// The notice the daemon uses: the message to the system log (ident "Vexlan", facility daemon,
// priority error) as one datagram to /dev/log, since syslog(3) takes locks that the crashed
// code may hold, and as a line on standard error.
void crashNoticeToSyslog(const char* message);

// Sends "<27>Vexlan[pid]: " + message to the datagram socket at `socket_path` (async-signal-
// safe); false when it cannot be delivered.
bool sendSyslogDatagram(const char* socket_path, const char* message);

// The report's path for an executable: its path with everything from the last "." of the file
// name replaced by ".dmp", or ".dmp" appended when the file name has no "."; "tolvane.dmp"
// (in the current directory) when the executable's path is unknown.
std::string crashReportPath(const std::string& executable);

}  // namespace entry
