#include "supervisor/stop_order.h"

#include <algorithm>
#include <functional>
#include <map>

namespace supervisor {

namespace {

// Strongly connected components of the "names" graph (an edge a -> b when a's depend_on holds
// b, both live), by Tarjan's algorithm. Returns the component index of every node.
std::vector<int> components(const std::vector<std::vector<int>>& edges, int& count) {
  const int n = static_cast<int>(edges.size());
  std::vector<int> index(n, -1), low(n, 0), comp(n, -1), stack;
  std::vector<bool> on_stack(n, false);
  int next = 0;
  count = 0;
  std::function<void(int)> visit = [&](int v) {
    index[v] = low[v] = next++;
    stack.push_back(v);
    on_stack[v] = true;
    for (int w : edges[v]) {
      if (index[w] < 0) {
        visit(w);
        low[v] = std::min(low[v], low[w]);
      } else if (on_stack[w]) {
        low[v] = std::min(low[v], index[w]);
      }
    }
    if (low[v] != index[v]) return;
    for (;;) {
      int w = stack.back();
      stack.pop_back();
      on_stack[w] = false;
      comp[w] = count;
      if (w == v) break;
    }
    ++count;
  };
  for (int v = 0; v < n; ++v) {
    if (index[v] < 0) visit(v);
  }
  return comp;
}

}  // namespace

StopDecision decideStopOrder(const std::vector<StopCandidate>& records) {
  StopDecision d;
  std::multiset<queues::queue_t> named;
  for (const StopCandidate& r : records)
    named.insert(r.depend_on.begin(), r.depend_on.end());
  for (const StopCandidate& r : records) {
    if (r.state == WorkerState::Running && named.count(r.queue) == 0) d.tell.push_back(r.queue);
  }
  if (!d.tell.empty() || records.empty()) return d;
  // Something still starting or already leaving may yet release the others.
  for (const StopCandidate& r : records) {
    if (r.state != WorkerState::Running) return d;
  }

  // Every record runs and every one is named: the namers of any record lead back into a ring.
  // Release the rings nobody outside them names; whatever they name follows once they end.
  std::map<queues::queue_t, int> node;
  for (size_t i = 0; i < records.size(); ++i)
    node[records[i].queue] = static_cast<int>(i);
  std::vector<std::vector<int>> edges(records.size());
  for (size_t i = 0; i < records.size(); ++i) {
    for (queues::queue_t q : records[i].depend_on) {
      auto it = node.find(q);
      if (it != node.end()) edges[i].push_back(it->second);
    }
  }
  int count = 0;
  std::vector<int> comp = components(edges, count);
  std::vector<bool> named_from_outside(count, false);
  for (size_t i = 0; i < records.size(); ++i) {
    for (int w : edges[i]) {
      if (comp[w] != comp[i]) named_from_outside[comp[w]] = true;
    }
  }
  std::map<int, std::vector<queues::queue_t>> rings;  // by component, members ascending
  for (size_t i = 0; i < records.size(); ++i) {
    if (!named_from_outside[comp[i]]) rings[comp[i]].push_back(records[i].queue);
  }
  for (auto& [c, members] : rings) {
    d.cycles.push_back(members);
    d.tell.insert(d.tell.end(), members.begin(), members.end());
  }
  std::sort(d.tell.begin(), d.tell.end());
  std::sort(d.cycles.begin(), d.cycles.end());
  return d;
}

}  // namespace supervisor
