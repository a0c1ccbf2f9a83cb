// TQL error codes, their texts and the exceptions that carry them. The codes are the `status`
// values of the database replies; their `details` lists carry (code, text) pairs of the same
// kind.
#pragma once

#include <cstdint>
#include <string>

#include "error/exception.h"

namespace tql {

// X(code, enumerator, text)
#define VX_TQL_ERROR_TABLE(X)                                                         \
  X(0, NO_ERROR, "No error")                                                          \
  X(1, ID_NOT_FOUND, "Specified ID not found in database")                            \
  X(2, NO_MATCH, "Pattern matched nothing")                                           \
  X(3, VERSION_CONFLICT, "Someone else has updated the object")                       \
  X(4, DUPLICATE_UNIQUE, "Attempted insertion of duplicate value in unique property") \
  X(5, CLASS_NOT_ALLOWED, "Specified class not allowed as child of given object")     \
  X(6, MISSING_REQUIRED, "Some required properties is missing")                       \
  X(7, NO_SUCH_PROPERTY, "Requested update of noexistant property")                   \
  X(8, CONST_PROPERTY, "Requested update of const property")                          \
  X(9, ILLEGAL_TYPE, "Property updated with illegal type")                            \
  X(10, ILLEGAL_VALUE, "Property updated with illegal value")                         \
  X(11, INCOMPARABLE, "Incomparable property")                                        \
  X(12, NOT_IMPLEMENTED, "The pattern is not implemented")                            \
  X(14, BACKEND_ERROR, "Backend error")                                               \
  X(15, ACCESS_DENIED, "Access denied")

enum error_code : uint32_t {
#define VX_TQL_ERROR_ENUM(code, id, text) TQL_##id = code,
  VX_TQL_ERROR_TABLE(VX_TQL_ERROR_ENUM)
#undef VX_TQL_ERROR_ENUM
};

// The text of a code; unknown codes (13 among them) give "Unknown error".
const char* errorText(uint32_t code);

}  // namespace tql

namespace errors {

// A TQL failure: the details text when there is one, otherwise the text of the code.
class tql : public error::Exception {
 public:
  explicit tql(uint32_t code, std::string details = "");
  uint32_t code() const noexcept { return code_; }
  const std::string& details() const noexcept { return details_; }

 private:
  uint32_t code_;
  std::string details_;
};

// A comparison that cannot be made; always code 11.
class tql_incomparable : public tql {
 public:
  explicit tql_incomparable(std::string details)
      : tql(::tql::TQL_INCOMPARABLE, std::move(details)) {}
};

}  // namespace errors
