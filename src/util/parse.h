// Whole-string number parsing with the fixed error texts the configuration reader, the
// entropy code and the event payloads report.
#pragma once

#include <cstdint>
#include <sstream>
#include <string>
#include <string_view>

#include "error/exception.h"

namespace util {

// The printed name of a number type, as used in parse messages ("int", "unsigned int", ...).
template <typename T>
constexpr const char* typeName();
template <>
constexpr const char* typeName<short>() {
  return "short";
}
template <>
constexpr const char* typeName<unsigned short>() {
  return "unsigned short";
}
template <>
constexpr const char* typeName<int>() {
  return "int";
}
template <>
constexpr const char* typeName<unsigned int>() {
  return "unsigned int";
}
template <>
constexpr const char* typeName<long>() {
  return "long";
}
template <>
constexpr const char* typeName<unsigned long>() {
  return "unsigned long";
}
template <>
constexpr const char* typeName<long long>() {
  return "long long";
}
template <>
constexpr const char* typeName<unsigned long long>() {
  return "unsigned long long";
}
template <>
constexpr const char* typeName<float>() {
  return "float";
}
template <>
constexpr const char* typeName<double>() {
  return "double";
}

// Reads the whole text as a T with a standard input string stream (leading blanks are skipped,
// nothing may follow the number).
template <typename T>
T parse(const std::string& text) {
  if (text.empty()) {
    throw error::EParseEmptyStringError(std::string("Cannot parse empty string to ") +
                                        typeName<T>());
  }
  std::istringstream is(text);
  T value{};
  is >> value;
  if (is.fail()) {
    throw error::EParseError(std::string("Cannot parse ") + typeName<T>() + ": \"" + text + "\"");
  }
  if (is.peek() != std::char_traits<char>::eof()) {
    throw error::EParseError(std::string("Trailing data after ") + typeName<T>() + ": \"" + text +
                             "\"");
  }
  return value;
}

// Reads the text as an unsigned 32-bit hexadecimal number (the C library's conversion).
uint32_t parse_hex(const std::string& text);

}  // namespace util
