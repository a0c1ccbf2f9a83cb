// Typed lookups over a ConfigMap. Every failure is an error::EParseError whose text names the
// option's line and, where it helps, the option; the texts are part of the administrator's
// interface and stay fixed.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <set>
#include <string>

#include "config/config_map.h"

namespace config {

// A quoted file value without its quotes (backslashes kept); a registry value unchanged.
// Missing: "Missing option in configuration: " + key.
std::string get_string(const ConfigMap& map, const std::string& key);
std::string get_string_opt(const ConfigMap& map, const std::string& key, const std::string& def);
// get_string_opt with its escapes resolved; a missing option gives `def` as it is.
std::string get_string_opt_unescaped(const ConfigMap& map, const std::string& key,
                                     const std::string& def);
// get_string_opt split at ","; a missing option gives `def`, split the same way.
std::set<std::string> get_string_set(const ConfigMap& map, const std::string& key,
                                     const std::string& def);

// A decimal int in [low, high]. low > high (or a default outside) is a programming error.
int32_t get_integer(const ConfigMap& map, const std::string& key, int32_t low, int32_t high);
int32_t get_integer_opt(const ConfigMap& map, const std::string& key, int32_t low, int32_t high,
                        int32_t def);
// One of `allowed`; a missing option gives `def`, which need not be in the list.
int32_t get_integer_in(const ConfigMap& map, const std::string& key,
                       std::initializer_list<int32_t> allowed, int32_t def);

// "true" or "false" in any letter case, nothing else (no blanks).
bool get_bool(const ConfigMap& map, const std::string& key);
bool get_bool_opt(const ConfigMap& map, const std::string& key, bool def);

// Backslash escapes: \" \\ \n \r \t, a backslash before anything else gives that character,
// and a lone backslash at the end is dropped.
std::string unescape(const std::string& text);

// Pieces between the commas, unchanged (no trimming), empty pieces dropped, duplicates merged.
std::set<std::string> split(const std::string& text);

}  // namespace config
