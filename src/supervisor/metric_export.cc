#include "supervisor/metric_export.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <map>
#include <set>

#include "meter/table.h"
#include "supervisor/supervisor_meters.h"
#include "util/text.h"

namespace supervisor {

namespace {

MetricSample sampleOf(const meter::Metric& m, std::vector<std::string> path) {
  MetricSample s;
  s.path = std::move(path);
  s.type = m.type();
  const auto* computed = dynamic_cast<const ComputedMetric*>(&m);
  s.level = computed != nullptr && computed->isLevel();
  s.unit = m.unit();
  s.desc = m.desc();
  s.value = m.value();
  return s;
}

// ---- Tree text ----

std::string valueText(const MetricSample& s) {
  const std::string unit = s.unit.empty() ? "" : " " + s.unit;
  if (const auto* e = std::get_if<meter::MetricError>(&s.value)) return "error: " + e->text;
  if (const auto* u = std::get_if<uint64_t>(&s.value)) return util::u64dec(*u) + unit;
  if (const auto* d = std::get_if<double>(&s.value)) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%g", *d);
    return buf + unit;
  }
  const meter::TimingData& t = std::get<meter::TimingData>(s.value);
  if (t.n == 0) return "n=0";
  return "n=" + util::u64dec(t.n) + " mean=" + util::u64dec(t.sum / t.n) +
         " min=" + util::u64dec(t.min) + " max=" + util::u64dec(t.max) + unit;
}

// ---- OpenMetrics ----

struct Unit {
  const char* name;   // the OpenMetrics unit, or null
  uint64_t per_unit;  // how many of the meter's unit make one (1000000 us per second)
};

Unit unitOf(const std::string& u) {
  if (u == "us") return {"seconds", 1000000};
  if (u == "ms") return {"seconds", 1000};
  if (u == "s") return {"seconds", 1};
  if (u == "bytes" || u == "B") return {"bytes", 1};
  return {nullptr, 1};
}

// x / per as a decimal with exactly as many places as `per` has zeros (per: 1, 1000, 1000000).
std::string scaled(uint64_t x, uint64_t per) {
  if (per == 1) return util::u64dec(x);
  const int places = per == 1000 ? 3 : 6;
  char buf[48];
  std::snprintf(buf, sizeof buf, "%" PRIu64 ".%0*" PRIu64, x / per, places, x % per);
  return buf;
}

std::string doubleText(double d) {
  if (d != d) return "NaN";
  if (d > 1.7976931348623157e308) return "+Inf";
  if (d < -1.7976931348623157e308) return "-Inf";
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.17g", d);
  return buf;
}

std::string sanitized(const std::string& s) {
  std::string out = s;
  for (char& c : out) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    if (!ok) c = '_';
  }
  return out;
}

std::string labelName(const std::string& s) {
  std::string out = sanitized(s);
  if (out.empty() || (out[0] >= '0' && out[0] <= '9')) out = "_" + out;
  if (out.size() >= 2 && out[0] == '_' && out[1] == '_') out = "x" + out;  // "__" is reserved
  return out;
}

// Backslash, double quote and line feed escaped: the form of label values and HELP texts.
// Names and texts come from workers: anything but printable ASCII becomes "?", so that what
// comes out is always valid UTF-8 on one line.
std::string escaped(const std::string& s) {
  std::string out;
  for (char c : s) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u > 0x7e) {
      out += c == '\n' ? "\\n" : "?";
    } else if (c == '\\') {
      out += "\\\\";
    } else if (c == '"') {
      out += "\\\"";
    } else {
      out += c;
    }
  }
  return out;
}

bool endsWith(const std::string& s, const std::string& end) {
  return s.size() >= end.size() && s.compare(s.size() - end.size(), end.size(), end) == 0;
}

using Labels = std::vector<std::pair<std::string, std::string>>;

void addLabel(Labels& labels, const std::string& name, const std::string& value) {
  std::string n = labelName(name);
  auto taken = [&](const std::string& x) {
    return std::any_of(labels.begin(), labels.end(), [&](const auto& l) { return l.first == x; });
  };
  while (taken(n))
    n = "exported_" + n;
  labels.emplace_back(n, value);
}

std::string labelText(const Labels& labels) {
  if (labels.empty()) return "";
  std::string out = "{";
  for (size_t i = 0; i < labels.size(); ++i)
    out += (i ? "," : "") + labels[i].first + "=\"" + escaped(labels[i].second) + "\"";
  return out + "}";
}

enum class FamilyType { Counter, Gauge, Summary };

const char* typeName(FamilyType t) {
  switch (t) {
    case FamilyType::Counter:
      return "counter";
    case FamilyType::Gauge:
      return "gauge";
    case FamilyType::Summary:
      return "summary";
  }
  return "unknown";
}

struct Family {
  FamilyType type;
  std::string unit;
  std::string help;
  std::vector<std::string> lines;  // the samples, in order
  std::set<std::string> label_sets;
};

void addSample(std::map<std::string, Family>& families, const MetricSample& s) {
  if (std::holds_alternative<meter::MetricError>(s.value) || s.path.empty()) return;
  std::vector<std::string> parts;
  Labels labels;
  const bool own = s.path[0] == kSupervisorTreeName;
  parts.push_back(own ? "vexland" : "vexlan");
  if (!own) addLabel(labels, "worker", s.path[0]);
  for (size_t i = 1; i < s.path.size(); ++i) {
    const std::string& e = s.path[i];
    const bool by = e.size() > 3 && e.compare(0, 3, "by_") == 0;
    if (i == s.table_at && i + 2 < s.path.size()) {
      if (by) {
        addLabel(labels, e.substr(3), s.path[i + 1]);
      } else {
        parts.push_back(e);
        addLabel(labels, "key", s.path[i + 1]);
      }
      parts.push_back(s.path[i + 2]);
      break;
    }
    if (by && i + 2 < s.path.size()) {  // a group by_X, a key, and something beneath
      addLabel(labels, e.substr(3), s.path[i + 1]);
      ++i;
      continue;
    }
    parts.push_back(e);
  }
  std::string name;
  for (const std::string& p : parts)
    name += (name.empty() ? "" : "_") + sanitized(p);

  const Unit unit = unitOf(s.unit);
  FamilyType type = FamilyType::Counter;
  if (s.type == meter::MetricType::Timing) {
    type = FamilyType::Summary;
  } else if (s.type == meter::MetricType::Double || s.level) {
    type = FamilyType::Gauge;
  }
  if (type == FamilyType::Counter && endsWith(name, "_total")) name.resize(name.size() - 6);
  if (unit.name != nullptr && !endsWith(name, std::string("_") + unit.name)) {
    name += std::string("_") + unit.name;
  }

  auto [it, fresh] = families.try_emplace(name);
  Family& f = it->second;
  if (fresh) {
    f.type = type;
    f.unit = unit.name != nullptr ? unit.name : "";
    f.help = s.desc;
  } else if (f.type != type || f.unit != (unit.name != nullptr ? unit.name : "")) {
    return;  // clashes with what the family already is
  }
  const std::string lt = labelText(labels);
  if (!f.label_sets.insert(lt).second) return;
  if (const auto* u = std::get_if<uint64_t>(&s.value)) {
    const std::string v = scaled(*u, unit.per_unit);
    f.lines.push_back(name + (type == FamilyType::Counter ? "_total" : "") + lt + " " + v);
  } else if (const auto* d = std::get_if<double>(&s.value)) {
    f.lines.push_back(name + lt + " " + doubleText(*d / static_cast<double>(unit.per_unit)));
  } else if (const auto* t = std::get_if<meter::TimingData>(&s.value)) {
    f.lines.push_back(name + "_count" + lt + " " + util::u64dec(t->n));
    f.lines.push_back(name + "_sum" + lt + " " + scaled(t->sum, unit.per_unit));
  }
}

}  // namespace

void sampleGroup(const meter::Group& group, const std::vector<std::string>& top,
                 std::vector<MetricSample>& out) {
  for (const auto& [name, object] : group.children()) {
    std::vector<std::string> path = top;
    path.push_back(name);
    switch (object->kind()) {
      case meter::Object::Kind::Group:
        sampleGroup(static_cast<const meter::Group&>(*object), path, out);
        break;
      case meter::Object::Kind::Metric:
        out.push_back(sampleOf(static_cast<const meter::Metric&>(*object), path));
        break;
      case meter::Object::Kind::Table: {
        const auto& t = static_cast<const meter::Table&>(*object);
        for (const auto& [row, cells] : t.rows()) {
          for (size_t c = 0; c < t.columns().size(); ++c) {
            MetricSample s;
            s.path = path;
            s.table_at = path.size() - 1;
            s.path.push_back(row);
            s.path.push_back(t.columns()[c].name);
            s.unit = t.columns()[c].unit;
            s.desc = t.columns()[c].desc;
            s.value = c < cells.size() ? cells[c] : uint64_t{0};
            out.push_back(std::move(s));
          }
        }
        break;
      }
    }
  }
}

void samplesOfListing(const control::Metric_Group& group, const std::vector<std::string>& top,
                      std::vector<MetricSample>& out) {
  for (const control::Metric& m : group.metrics) {
    MetricSample s;
    s.path = top;
    s.path.push_back(m.name);
    s.type = static_cast<meter::MetricType>(m.type);
    s.unit = m.unit;
    s.desc = m.desc;
    out.push_back(std::move(s));
  }
  for (const control::Metric_Table& t : group.tables) {
    for (const std::string& row : t.rows) {
      for (const control::Metric& c : t.columns) {
        MetricSample s;
        s.path = top;
        s.path.push_back(t.name);
        s.table_at = s.path.size() - 1;
        s.path.push_back(row);
        s.path.push_back(c.name);
        s.type = meter::MetricType::Integer;
        s.unit = c.unit;
        s.desc = c.desc;
        out.push_back(std::move(s));
      }
    }
  }
  for (const control::Metric_Group& g : group.groups) {
    std::vector<std::string> path = top;
    path.push_back(g.name);
    samplesOfListing(g, path, out);
  }
}

bool underPath(const std::vector<std::string>& path, const std::vector<std::string>& prefix) {
  return prefix.size() <= path.size() && std::equal(prefix.begin(), prefix.end(), path.begin());
}

std::string treeText(const MetricSnapshot& snapshot) {
  std::vector<const MetricSample*> sorted;
  for (const MetricSample& s : snapshot.samples)
    sorted.push_back(&s);
  std::stable_sort(sorted.begin(), sorted.end(),
                   [](const MetricSample* a, const MetricSample* b) { return a->path < b->path; });
  std::string out;
  std::vector<std::string> open;  // the groups of the last line
  for (const MetricSample* s : sorted) {
    size_t common = 0;
    while (common < open.size() && common + 1 < s->path.size() && open[common] == s->path[common]) {
      ++common;
    }
    open.resize(common);
    for (size_t i = common; i + 1 < s->path.size(); ++i) {
      out += std::string(2 * i, ' ') + util::escapeControls(s->path[i]) + "\n";
      open.push_back(s->path[i]);
    }
    out += std::string(2 * (s->path.size() - 1), ' ') + util::escapeControls(s->path.back()) +
           ": " + util::escapeControls(valueText(*s)) + "\n";
  }
  for (const std::string& m : snapshot.missing)
    out += util::escapeControls(m) + ": no answer\n";
  return out;
}

namespace {

// The names a family's samples use.
std::vector<std::string> sampleNames(const std::string& name, FamilyType type) {
  switch (type) {
    case FamilyType::Counter:
      return {name + "_total"};
    case FamilyType::Gauge:
      return {name};
    case FamilyType::Summary:
      return {name + "_count", name + "_sum"};
  }
  return {};
}

std::string exposition(const MetricSnapshot& snapshot, bool open_metrics) {
  std::map<std::string, Family> families;
  for (const MetricSample& s : snapshot.samples)
    addSample(families, s);
  // A family whose name or sample names another family already uses ("x" a counter, "x_total"
  // a gauge) is left out: scrapers could not tell the two apart.
  std::set<std::string> used = {"vexland_metrics_unanswered"};
  std::string out;
  for (const auto& [name, f] : families) {
    std::vector<std::string> names = sampleNames(name, f.type);
    names.push_back(name);
    if (std::any_of(names.begin(), names.end(), [&](const auto& n) { return used.count(n); })) {
      continue;
    }
    used.insert(names.begin(), names.end());
    // The older format names a counter's family after its samples.
    const std::string family =
        !open_metrics && f.type == FamilyType::Counter ? name + "_total" : name;
    out += "# TYPE " + family + " " + typeName(f.type) + "\n";
    if (!f.unit.empty() && open_metrics) out += "# UNIT " + family + " " + f.unit + "\n";
    if (!f.help.empty()) out += "# HELP " + family + " " + escaped(f.help) + "\n";
    for (const std::string& line : f.lines)
      out += line + "\n";
  }
  if (!snapshot.missing.empty()) {
    out += "# TYPE vexland_metrics_unanswered gauge\n";
    out +=
        "# HELP vexland_metrics_unanswered workers whose metrics are missing: they did not "
        "answer in time\n";
    for (const std::string& m : snapshot.missing)
      out += "vexland_metrics_unanswered{worker=\"" + escaped(m) + "\"} 1\n";
  }
  return open_metrics ? out + "# EOF\n" : out;
}

}  // namespace

std::string openMetricsText(const MetricSnapshot& snapshot) {
  return exposition(snapshot, true);
}

std::string prometheusText(const MetricSnapshot& snapshot) {
  return exposition(snapshot, false);
}

}  // namespace supervisor
