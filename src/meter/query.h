// Metric queries over a meter tree, in plain structures that map one to one onto the metric
// events: readMetric answers GET_METRIC, describeMetric GET_METRIC_TYPE, and describeGroup
// builds the tree that LIST_METRICS returns.
//
// A path names a metric by the names on the way down from the group it starts at. A metric
// table takes two more elements: the row key, then the column name.
#pragma once

#include <string>
#include <variant>
#include <vector>

#include "meter/group.h"
#include "meter/metric.h"
#include "meter/table.h"

namespace meter {

using Path = std::vector<std::string>;

// control::Metric
struct MetricInfo {
  std::string name;
  std::string unit;
  std::string desc;
  MetricType type = MetricType::Integer;
  friend bool operator==(const MetricInfo&, const MetricInfo&) = default;
};

// One entry of a group's metric tables: its columns (integer metrics) and its current rows.
struct TableInfo {
  std::string name;
  std::vector<MetricInfo> columns;
  std::vector<std::string> rows;
  friend bool operator==(const TableInfo&, const TableInfo&) = default;
};

// control::Metric_Group. Members of each kind are in name order.
struct GroupInfo {
  std::string name;
  std::vector<GroupInfo> groups;
  std::vector<TableInfo> tables;
  std::vector<MetricInfo> metrics;
};

MetricValue readMetric(const Group& from, const Path& path);
std::variant<MetricError, MetricInfo> describeMetric(const Group& from, const Path& path);
GroupInfo describeGroup(const Group& group);

// "a/b/c", as error texts show a path.
std::string pathText(const Path& path);

}  // namespace meter
