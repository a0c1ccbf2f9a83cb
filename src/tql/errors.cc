#include "tql/errors.h"

namespace tql {

const char* errorText(uint32_t code) {
  switch (code) {
#define VX_TQL_ERROR_CASE(code, id, text) \
  case code:                              \
    return text;
    VX_TQL_ERROR_TABLE(VX_TQL_ERROR_CASE)
#undef VX_TQL_ERROR_CASE
  }
  return "Unknown error";
}

}  // namespace tql

namespace errors {

tql::tql(uint32_t code, std::string details)
    : Exception(details.empty() ? ::tql::errorText(code) : details),
      code_(code),
      details_(std::move(details)) {}

}  // namespace errors
