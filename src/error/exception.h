// The exception family shared by every layer. Run-time conditions (bad input, end of stream,
// operating-system failures) are exceptions whose text is the message; broken invariants of
// this process are assertions (error/assert.h), never exceptions.
#pragma once

#include <exception>
#include <string>

namespace error {

class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : message_(std::move(message)) {}
  const char* what() const noexcept override { return message_.c_str(); }
  const std::string& message() const noexcept { return message_; }

 private:
  std::string message_;
};

// A condition the caller cannot recover from, with a message meant for the operator.
class EFatal : public Exception {
 public:
  using Exception::Exception;
};

// A failed operating-system call: the context, ": " and the system's text for the code.
class ESystemError : public Exception {
 public:
  ESystemError(const std::string& context, int code);
  int code() const noexcept { return code_; }

 protected:
  // For subclasses that compose their text themselves.
  struct Verbatim {};
  ESystemError(Verbatim, std::string message, int code)
      : Exception(std::move(message)), code_(code) {}

 private:
  int code_;
};

// ENOENT and ENOTDIR: the object named does not exist.
class EFileNotFoundError : public ESystemError {
 public:
  EFileNotFoundError(const std::string& context, int code) : ESystemError(context, code) {}
  // A message that already says what was not found ("File not found: " + program).
  explicit EFileNotFoundError(std::string message)
      : ESystemError(Verbatim{}, std::move(message), 2) {}
};

// EEXIST: the object to create is already there.
class EFileExistsError : public ESystemError {
 public:
  EFileExistsError(const std::string& context, int code) : ESystemError(context, code) {}
};

// A file that could not be opened or read; the caller composes the whole text.
class EFStreamError : public ESystemError {
 public:
  explicit EFStreamError(std::string message, int code = 0)
      : ESystemError(Verbatim{}, std::move(message), code) {}
};

// An ESystemError for the errno current when it is constructed.
class syserror : public ESystemError {
 public:
  explicit syserror(const std::string& context);
  syserror(const std::string& context, int code) : ESystemError(context, code) {}
};

class EParseError : public Exception {
 public:
  using Exception::Exception;
};

class EParseEmptyStringError : public EParseError {
 public:
  using EParseError::EParseError;
};

class ERange : public Exception {
 public:
  using Exception::Exception;
};

// Throws the member of the ESystemError family that matches `code`: EFileNotFoundError for
// ENOENT/ENOTDIR, EFileExistsError for EEXIST, ESystemError otherwise.
[[noreturn]] void throwSystemError(const std::string& context, int code);

// Same, for the current errno.
[[noreturn]] void throwErrno(const std::string& context);

}  // namespace error
