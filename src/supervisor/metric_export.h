// The meter trees of the whole server at one moment, and their two text forms for operators:
// a tree, and the OpenMetrics text exposition that scrapers (the node exporter's textfile
// collector, Prometheus) take.
//
// OpenMetrics names. The supervisor's own metrics are "vexland_" + their path; a worker's are
// "vexlan_" + their path below the worker, with the label worker="<sname>". Path elements are
// joined with "_", and anything but letters, digits and "_" becomes "_". A group or table
// named "by_<label>" turns the names beneath it into values of the label <label> (the
// supervisor's workers/by_worker/dbms/... is worker="dbms", the reference worker's table
// events/by_type is type="<EVENT>"); rows of any other table are the label key="<row>".
// Integers are counters ("_total"), except the supervisor's levels (gauges); doubles are
// gauges; timings are summaries (_count and _sum). Units "us", "ms" and "s" become seconds,
// "bytes" stays bytes, and the family name ends in its unit. A sample that would clash with
// another (same family of another type or unit, same labels twice) is left out.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "meter/group.h"
#include "meter/metric.h"
#include "queues/control/control_payloads.h"

namespace supervisor {

// The value of a sample whose worker has not answered yet.
inline constexpr const char* kNoValue = "No value";

struct MetricSample {
  // From the top: "vexland" or a worker's short name, then the names on the way down; a
  // table cell ends in the table's name, the row and the column.
  std::vector<std::string> path;
  size_t table_at = kNotInTable;  // index of the table's name in `path`, for a table cell
  meter::MetricType type = meter::MetricType::Integer;
  bool level = false;  // a gauge rather than a count
  std::string unit;
  std::string desc;
  meter::MetricValue value = meter::MetricError{kNoValue};

  static constexpr size_t kNotInTable = static_cast<size_t>(-1);
};

struct MetricSnapshot {
  std::vector<MetricSample> samples;
  // Workers that were asked but did not answer (in time, or at all).
  std::vector<std::string> missing;
};

// The name of the supervisor's tree in paths and in the tree text.
inline constexpr const char* kSupervisorTreeName = "vexland";

// Every metric and table cell under `group` (recursively), with its value now. `top` is the
// first element of each path.
void sampleGroup(const meter::Group& group, const std::vector<std::string>& top,
                 std::vector<MetricSample>& out);
// The metrics a worker listed, without values yet.
void samplesOfListing(const control::Metric_Group& group, const std::vector<std::string>& top,
                      std::vector<MetricSample>& out);
// True when `path` starts with `prefix`.
bool underPath(const std::vector<std::string>& path, const std::vector<std::string>& prefix);

// One line per metric, indented by depth ("name: value unit"), in path order.
std::string treeText(const MetricSnapshot& snapshot);
// The OpenMetrics text exposition, ending with "# EOF".
std::string openMetricsText(const MetricSnapshot& snapshot);
// The same in the older Prometheus text format (0.0.4), which the node exporter's textfile
// collector reads: a counter's family is named with its "_total", and there are no UNIT
// lines and no "# EOF".
std::string prometheusText(const MetricSnapshot& snapshot);

}  // namespace supervisor
