#include "error/exception.h"

#include <cerrno>

#include "error/system_text.h"

namespace error {

ESystemError::ESystemError(const std::string& context, int code)
    : Exception(context + ": " + systemText(code)), code_(code) {}

syserror::syserror(const std::string& context) : ESystemError(context, errno) {}

void throwSystemError(const std::string& context, int code) {
  switch (code) {
    case ENOENT:
    case ENOTDIR:
      throw EFileNotFoundError(context, code);
    case EEXIST:
      throw EFileExistsError(context, code);
    default:
      throw ESystemError(context, code);
  }
}

void throwErrno(const std::string& context) {
  throwSystemError(context, errno);
}

}  // namespace error
