// A small JSON reader for the server's status file. The file comes from another process and
// may be cut short or damaged, so every malformation is an error::EParseError, never a crash.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace vexlanctl {

struct Json {
  enum class Type { Null, Bool, Number, String, Array, Object };
  Type type = Type::Null;
  bool boolean = false;
  double number = 0;
  std::string string;
  std::vector<Json> array;
  std::map<std::string, Json> object;

  // The member `name` of an object; error::EParseError when absent or of another type.
  const Json& at(const std::string& name, Type expected) const;
};

// Parses one document; trailing white space only. Nesting deeper than 32 levels is refused.
Json parseJson(const std::string& text);

}  // namespace vexlanctl
