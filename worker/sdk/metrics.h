// Answers to the metric queries, built from a meter tree: the reply event for GET_METRIC,
// GET_METRIC_TYPE and LIST_METRICS, each carrying the request's inresponse.
#pragma once

#include <memory>
#include <string>

#include "meter/group.h"
#include "meter/query.h"
#include "queues/events_control.h"

namespace worker {

// RETURN_METRIC_ERROR, _UINT64, _DOUBLE or _TIMING for a value read from a tree.
std::unique_ptr<queues::event> metricValueReply(const meter::MetricValue& value,
                                                uint32_t inresponse);
// RETURN_GET_METRIC_TYPE, or RETURN_METRIC_ERROR when the path names no metric.
std::unique_ptr<queues::event> metricTypeReply(
    const std::variant<meter::MetricError, meter::MetricInfo>& info, uint32_t inresponse);
control::Metric toControl(const meter::MetricInfo& info);
control::Metric_Group toControl(const meter::GroupInfo& group);

// The reply to a metric request (GET_METRIC, GET_METRIC_TYPE or LIST_METRICS) from `root`;
// `name` names the listed tree. A worker without metrics (root null) answers every value and
// type query with an error and lists an empty tree. Null for any other event.
std::unique_ptr<queues::event> answerMetricRequest(const queues::event& request,
                                                   const meter::Group* root,
                                                   const std::string& name);

}  // namespace worker
