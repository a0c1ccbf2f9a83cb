// Number-to-text helpers and the calendar text of a time.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

namespace util {

std::string dec(int32_t v);                  // "%i"
std::string dec2(int32_t v);                 // "%02i"
std::string udec(uint32_t v);                // "%u"
std::string udec2(uint32_t v);               // "%02u"
std::string u64dec(uint64_t v);              // unsigned 64-bit decimal
std::string hex(uint32_t v, int width = 0);  // lower case, left-padded with "0" to width
std::string hex64(uint64_t v);               // upper case, exactly 16 digits

// `text` with every control character (below 0x20, and 0x7f) written as its C escape: \a \b
// \t \n \v \f \r, the others as a backslash and three octal digits. Everything else is kept
// as it is, so text that needs no escape reads unchanged and what comes out is one line.
std::string escapeControls(std::string_view text);

// strftime of `seconds` with `format` (at most 1023 characters), in local time or UTC.
// A time the C library cannot convert gives "invalid time".
std::string calendarText(time_t seconds, const char* format, bool local);

}  // namespace util
