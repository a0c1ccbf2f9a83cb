// The text of the error::Exception that `f` throws, or "(no error)": lets a table of inputs
// be checked against the exact messages administrators see.
#pragma once

#include <string>

#include "error/exception.h"

namespace config {

template <typename F>
std::string errorOf(F f) {
  try {
    f();
  } catch (const error::Exception& e) {
    return e.what();
  }
  return "(no error)";
}

}  // namespace config
