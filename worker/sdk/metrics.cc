#include "sdk/metrics.h"

#include <type_traits>

namespace worker {

using namespace queues;

std::unique_ptr<event> metricValueReply(const meter::MetricValue& value, uint32_t inresponse) {
  return std::visit(
      [&](const auto& v) -> std::unique_ptr<event> {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, meter::MetricError>) {
          return std::make_unique<ev<RETURN_METRIC_ERROR>>(QUEUE_MAIN, inresponse, v.text);
        } else if constexpr (std::is_same_v<T, uint64_t>) {
          return std::make_unique<ev<RETURN_METRIC_UINT64>>(QUEUE_MAIN, inresponse, v);
        } else if constexpr (std::is_same_v<T, double>) {
          return std::make_unique<ev<RETURN_METRIC_DOUBLE>>(QUEUE_MAIN, inresponse, v);
        } else {
          control::Return_Metric_Timing_Data t{v.n, v.min, v.max, v.sum, v.sum_squares};
          return std::make_unique<ev<RETURN_METRIC_TIMING>>(QUEUE_MAIN, inresponse, t);
        }
      },
      value);
}

control::Metric toControl(const meter::MetricInfo& info) {
  return control::Metric{info.name, info.unit, info.desc, static_cast<int32_t>(info.type)};
}

std::unique_ptr<event> metricTypeReply(
    const std::variant<meter::MetricError, meter::MetricInfo>& info, uint32_t inresponse) {
  if (const auto* e = std::get_if<meter::MetricError>(&info)) {
    return std::make_unique<ev<RETURN_METRIC_ERROR>>(QUEUE_MAIN, inresponse, e->text);
  }
  return std::make_unique<ev<RETURN_GET_METRIC_TYPE>>(QUEUE_MAIN, inresponse,
                                                      toControl(std::get<meter::MetricInfo>(info)));
}

control::Metric_Group toControl(const meter::GroupInfo& group) {
  control::Metric_Group g;
  g.name = group.name;
  for (const meter::GroupInfo& sub : group.groups)
    g.groups.push_back(toControl(sub));
  for (const meter::TableInfo& t : group.tables) {
    control::Metric_Table& table = g.tables.emplace_back();
    table.name = t.name;
    for (const meter::MetricInfo& c : t.columns)
      table.columns.push_back(toControl(c));
    table.rows = t.rows;
  }
  for (const meter::MetricInfo& m : group.metrics)
    g.metrics.push_back(toControl(m));
  return g;
}

std::unique_ptr<event> answerMetricRequest(const event& request, const meter::Group* root,
                                           const std::string& name) {
  static const std::string kNoMetrics = "Metrics not supported";
  uint32_t r = request.inresponse;
  if (const auto* get = as<GET_METRIC>(request)) {
    if (root == nullptr) return metricValueReply(meter::MetricError{kNoMetrics}, r);
    return metricValueReply(meter::readMetric(*root, get->payload.id), r);
  }
  if (const auto* type = as<GET_METRIC_TYPE>(request)) {
    if (root == nullptr) return metricTypeReply(meter::MetricError{kNoMetrics}, r);
    return metricTypeReply(meter::describeMetric(*root, type->payload.id), r);
  }
  if (as<LIST_METRICS>(request) != nullptr) {
    control::Metric_Group g;
    if (root != nullptr) g = toControl(meter::describeGroup(*root));
    g.name = name;
    return std::make_unique<ev<RETURN_LIST_METRICS>>(QUEUE_MAIN, r, std::move(g));
  }
  return nullptr;
}

}  // namespace worker
