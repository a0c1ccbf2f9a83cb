// Names of object classes and properties, as messages print them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tql {

// The property's name; an unknown number gives "<unknown property: N>".
std::string propertyName(uint32_t property);

// The class's name, or empty for a number without a class.
std::string_view className(uint32_t class_number);
// The number of the class with that name.
std::optional<uint32_t> classNumber(std::string_view name);
// One past the highest class number.
uint32_t classCount();

}  // namespace tql
