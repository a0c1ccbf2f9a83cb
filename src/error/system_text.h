#pragma once

#include <string>

namespace error {

// The system's message for an error code: at most 255 characters, trailing CR and LF removed;
// an empty message is the code in decimal.
std::string systemText(int code);

}  // namespace error
