// A strict reader of the OpenMetrics text exposition, for checking what the server writes for
// scrapers. It accepts a subset of the format (no timestamps, exemplars or non-ASCII text,
// which the server never writes) and refuses every violation of the format's rules it knows:
// metadata order and uniqueness, interleaved or repeated families, sample names that do not
// fit their family's type, units that the family name does not end in, malformed or repeated
// labels, bad escapes, bad numbers, negative counters, repeated samples, the final "# EOF".
#pragma once

#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace vxtest {

struct OmSample {
  std::string name;
  std::map<std::string, std::string> labels;
  double value = 0;
};

struct OmFamily {
  std::string type = "unknown";
  std::string unit;
  std::string help;
  std::vector<OmSample> samples;
};

// Throws std::runtime_error "line N: why" at the first violation.
std::map<std::string, OmFamily> parseOpenMetrics(const std::string& text);

}  // namespace vxtest
