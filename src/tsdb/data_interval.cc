#include "tsdb/data_interval.h"

#include <sstream>

namespace tsdb {

// Times print as the numbers they are: their unit belongs to the time-series store.
std::string data_interval_incident_t::toString() const {
  std::ostringstream os;
  os << "(t: incident)(sev: " << sev << ")(msg: \"" << msg << "\")(itime: " << itime << ")";
  return os.str();
}

std::string data_interval_continuous_t::toString() const {
  std::ostringstream os;
  os << "(t: continuous)(start: " << start << ")(end: " << end << ")(min: " << min
     << ")(avg: " << avg << ")(max: " << max << ")(ngood: " << ngood << ")(nbad: " << nbad << ")";
  return os.str();
}

std::string data_interval_enum_t::toString() const {
  std::ostringstream os;
  os << "(t: enum)(start: " << start << ")(end: " << end << ")(mask: " << mask
     << ")(ngood: " << ngood << ")(nbad: " << nbad << ")";
  return os.str();
}

std::unique_ptr<data_interval_t> makeInterval(uint32_t kind) {
  switch (kind) {
    case data_interval_incident_t::kKind:
      return std::make_unique<data_interval_incident_t>();
    case data_interval_continuous_t::kKind:
      return std::make_unique<data_interval_continuous_t>();
    case data_interval_enum_t::kKind:
      return std::make_unique<data_interval_enum_t>();
  }
  return nullptr;
}

}  // namespace tsdb

namespace wire {

void Codec<tsdb::interval_ptr>::write(protocol::ioprim& io, const tsdb::interval_ptr& v) {
  detail::putRaw<uint32_t>(io, v ? v->kind() : 0);
  if (v) v->write(io);
}

void Codec<tsdb::interval_ptr>::read(protocol::ioprim& io, tsdb::interval_ptr& v) {
  auto kind = detail::getRaw<uint32_t>(io);
  if (kind == 0) {
    v = nullptr;
    return;
  }
  std::unique_ptr<tsdb::data_interval_t> p = tsdb::makeInterval(kind);
  if (!p) throw protocol::EBadInput("Unknown data interval kind " + std::to_string(kind));
  p->read(io);
  v = std::move(p);
}

}  // namespace wire
