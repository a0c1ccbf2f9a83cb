// A named group of meter objects: child groups, metric tables and metrics, listed by name.
#pragma once

#include <map>
#include <string>

#include "meter/object.h"

namespace meter {

class Group : public Object {
 public:
  // parent null: the root group of the registry.
  Group(Group* parent, std::string name) : Object(parent, std::move(name), Kind::Group) {}
  // Children that outlive their group stay alive (they are owned elsewhere) but are no
  // longer listed anywhere.
  ~Group() override;

  // The child of that name, or null.
  const Object* find(const std::string& name) const;
  const std::map<std::string, Object*>& children() const { return children_; }

 private:
  friend class Object;
  friend class Registry;
  explicit Group(RootTag tag) : Object(tag, "") {}

  void add(Object& child);
  void remove(Object& child) { children_.erase(child.name()); }

  std::map<std::string, Object*> children_;
};

}  // namespace meter
