#include "meter/query.h"

namespace meter {
namespace {

// Where a path leads: a metric, or a table cell (table, row, column), or an error.
struct Target {
  const Metric* metric = nullptr;
  const Table* table = nullptr;
  const std::string* row = nullptr;
  size_t column = 0;
  std::string error;
};

Target resolve(const Group& from, const Path& path) {
  Target t;
  if (path.empty()) {
    t.error = "Empty metric path";
    return t;
  }
  const Group* group = &from;
  for (size_t i = 0; i < path.size(); ++i) {
    const Object* object = group->find(path[i]);
    if (object == nullptr) break;
    bool last = i + 1 == path.size();
    switch (object->kind()) {
      case Object::Kind::Group:
        group = static_cast<const Group*>(object);
        if (last) {
          t.error = "Not a metric: " + pathText(path);
          return t;
        }
        continue;
      case Object::Kind::Metric:
        if (last) t.metric = static_cast<const Metric*>(object);
        break;
      case Object::Kind::Table: {
        const Table* table = static_cast<const Table*>(object);
        if (i + 3 == path.size() && table->rows().count(path[i + 1]) != 0) {
          t.column = table->column(path[i + 2]);
          if (t.column < table->columns().size()) {
            t.table = table;
            t.row = &path[i + 1];
          }
        }
        break;
      }
    }
    break;
  }
  if (t.metric == nullptr && t.table == nullptr) t.error = "Unknown metric: " + pathText(path);
  return t;
}

MetricInfo infoOf(const Metric& m) {
  return {m.name(), m.unit(), m.desc(), m.type()};
}

MetricInfo infoOf(const Table::Column& c) {
  return {c.name, c.unit, c.desc, MetricType::Integer};
}

}  // namespace

MetricValue readMetric(const Group& from, const Path& path) {
  Target t = resolve(from, path);
  if (t.metric != nullptr) return t.metric->value();
  if (t.table != nullptr) return t.table->get(*t.row, t.column);
  return MetricError{t.error};
}

std::variant<MetricError, MetricInfo> describeMetric(const Group& from, const Path& path) {
  Target t = resolve(from, path);
  if (t.metric != nullptr) return infoOf(*t.metric);
  if (t.table != nullptr) return infoOf(t.table->columns()[t.column]);
  return MetricError{t.error};
}

GroupInfo describeGroup(const Group& group) {
  GroupInfo info;
  info.name = group.name();
  for (const auto& [name, object] : group.children()) {
    switch (object->kind()) {
      case Object::Kind::Group:
        info.groups.push_back(describeGroup(*static_cast<const Group*>(object)));
        break;
      case Object::Kind::Metric:
        info.metrics.push_back(infoOf(*static_cast<const Metric*>(object)));
        break;
      case Object::Kind::Table: {
        const Table& table = *static_cast<const Table*>(object);
        TableInfo& t = info.tables.emplace_back();
        t.name = table.name();
        for (const Table::Column& c : table.columns())
          t.columns.push_back(infoOf(c));
        for (const auto& [row, cells] : table.rows())
          t.rows.push_back(row);
        break;
      }
    }
  }
  return info;
}

std::string pathText(const Path& path) {
  std::string text;
  for (size_t i = 0; i < path.size(); ++i) {
    if (i != 0) text += '/';
    text += path[i];
  }
  return text;
}

}  // namespace meter
