// The meter tree: every process keeps its named counters and timings in groups, and answers
// metric queries from that tree. Objects register with their group when they are built and
// leave it when they die; the tree never owns them. One thread per process touches the tree.
#pragma once

#include <string>

namespace meter {

class Group;

class Object {
 public:
  enum class Kind { Group, Table, Metric };

  Object(const Object&) = delete;
  Object& operator=(const Object&) = delete;
  virtual ~Object();

  const std::string& name() const { return name_; }
  Kind kind() const { return kind_; }
  // The group this object is listed in; null for the root group, for an object waiting for
  // the registry to start, and for one whose group has died.
  Group* parent() const { return parent_; }

 protected:
  // parent null means the root group. Before the registry has started (during static
  // initialisation) such an object waits in the registry's pending list. A second object of
  // the same name in one group is an assertion.
  Object(Group* parent, std::string name, Kind kind);
  // The root group itself, which has no parent.
  struct RootTag {};
  Object(RootTag, std::string name);

 private:
  friend class Group;
  friend class Registry;

  Group* parent_ = nullptr;
  std::string name_;
  Kind kind_;
  bool pending_ = false;
};

}  // namespace meter
