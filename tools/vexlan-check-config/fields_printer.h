// A stand-in for the event layer's text form of the server configuration: one
// "name: value" line per field, in field order. It goes once the event layer prints
// SERVER_CONFIGURATION payloads itself.
#pragma once

#include <ostream>

#include "queues/control/server_configuration_fields.h"

void printFields(std::ostream& os, const control::Server_Configuration_Fields& c);
