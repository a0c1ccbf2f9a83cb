// Time-series data intervals: a stretch of time with a summary of what a check measured in
// it. Vectors of them travel in the time-series events, each tagged with its kind code.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "wire/clone_ptr.h"
#include "wire/codec.h"

namespace tsdb {

class data_interval_t {
 public:
  virtual uint32_t kind() const = 0;
  virtual ~data_interval_t() = default;
  virtual std::unique_ptr<data_interval_t> clone() const = 0;
  virtual std::string toString() const = 0;

  virtual bool equals(const data_interval_t& other) const = 0;
  virtual void write(protocol::ioprim& io) const = 0;
  virtual void read(protocol::ioprim& io) = 0;
};

// The virtual operations of an interval class, derived from its field list.
template <typename D, uint32_t Kind>
class interval_impl : public data_interval_t {
 public:
  static constexpr uint32_t kKind = Kind;
  uint32_t kind() const override { return Kind; }
  std::unique_ptr<data_interval_t> clone() const override { return std::make_unique<D>(self()); }
  bool equals(const data_interval_t& other) const override {
    return other.kind() == Kind && self() == static_cast<const D&>(other);
  }
  void write(protocol::ioprim& io) const override { wire::Codec<D>::write(io, self()); }
  void read(protocol::ioprim& io) override { wire::Codec<D>::read(io, static_cast<D&>(*this)); }

 private:
  const D& self() const { return static_cast<const D&>(*this); }
};

struct data_interval_incident_t final : interval_impl<data_interval_incident_t, 1> {
  uint32_t sev = 0;
  std::string msg;
  int64_t itime = 0;
  VX_FIELDS(data_interval_incident_t, sev, msg, itime)
  std::string toString() const override;
};

struct data_interval_continuous_t final : interval_impl<data_interval_continuous_t, 2> {
  int64_t start = 0;
  int64_t end = 0;
  float min = 0;
  float avg = 0;
  float max = 0;
  uint32_t ngood = 0;
  uint32_t nbad = 0;
  VX_FIELDS(data_interval_continuous_t, start, end, min, avg, max, ngood, nbad)
  std::string toString() const override;
};

struct data_interval_enum_t final : interval_impl<data_interval_enum_t, 3> {
  uint32_t mask = 0;
  uint32_t ngood = 0;
  uint32_t nbad = 0;
  int64_t start = 0;
  int64_t end = 0;
  VX_FIELDS(data_interval_enum_t, mask, ngood, nbad, start, end)
  std::string toString() const override;
};

using interval_ptr = wire::clone_ptr<data_interval_t>;

// A new default interval of that kind; null for kinds other than 1 to 3.
std::unique_ptr<data_interval_t> makeInterval(uint32_t kind);

}  // namespace tsdb

namespace wire {

// The kind code (0 for an absent interval, then nothing follows), then the fields. An unknown
// kind is an error: the length of what follows is unknown.
template <>
struct Codec<tsdb::interval_ptr> {
  static constexpr size_t kMinSize = 4;
  static void write(protocol::ioprim& io, const tsdb::interval_ptr& v);
  static void read(protocol::ioprim& io, tsdb::interval_ptr& v);
  static void print(std::ostream& os, const tsdb::interval_ptr& v, int) {
    os << (v ? v->toString() : std::string("(absent)")) << '\n';
  }
};

}  // namespace wire
