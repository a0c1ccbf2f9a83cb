#include "tsdb/check_stats.h"

#include <cmath>
#include <sstream>

namespace tsdb {

namespace {
bool validSpan(int64_t start, int64_t end, uint32_t status) {
  return start >= 1 && start <= end && status < kStatusCount;
}
bool validResult(double result, uint32_t status) {
  return status == kStatusNoResult || std::isfinite(result);
}
}  // namespace

bool snmpcheck_stat_continuous::valid() const {
  return validSpan(start, end, status) && validResult(result, status);
}

std::string snmpcheck_stat_continuous::statText() const {
  std::ostringstream os;
  os << "start=" << start << ", end=" << end << ", result=" << result << ", status=" << status;
  return os.str();
}

bool snmpcheck_stat_enum::valid() const {
  return validSpan(start, end, status);
}

bool snmpcheck_stat_uptime::valid() const {
  return validSpan(start, end, status) && validResult(result, status);
}

}  // namespace tsdb
