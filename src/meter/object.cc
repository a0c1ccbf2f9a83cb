#include "meter/object.h"

#include <algorithm>
#include <vector>

#include "error/assert.h"
#include "meter/group.h"
#include "meter/registry.h"

namespace meter {
namespace {

// Both live for the whole process: static metrics may be destroyed after any static of ours,
// and must still find the tree they leave.
Group*& rootGroup() {
  static Group* root = nullptr;
  return root;
}

std::vector<Object*>& pendingList() {
  static auto* pending = new std::vector<Object*>;
  return *pending;
}

}  // namespace

Object::Object(Group* parent, std::string name, Kind kind) : name_(std::move(name)), kind_(kind) {
  if (parent != nullptr) {
    parent->add(*this);
  } else {
    Registry::enter(*this);
  }
}

Object::Object(RootTag, std::string name) : name_(std::move(name)), kind_(Kind::Group) {}

Object::~Object() {
  if (pending_) {
    Registry::leave(*this);
  } else if (parent_ != nullptr) {
    parent_->remove(*this);
  }
}

Group::~Group() {
  for (auto& [name, child] : children_)
    child->parent_ = nullptr;
}

const Object* Group::find(const std::string& name) const {
  auto it = children_.find(name);
  return it == children_.end() ? nullptr : it->second;
}

void Group::add(Object& child) {
  VX_ASSERT(children_.emplace(child.name(), &child).second,
            "Attempt to add duplicate metric name: ", child.name());
  child.parent_ = this;
}

void Registry::start() {
  if (rootGroup() != nullptr) return;
  rootGroup() = new Group(Object::RootTag{});
  std::vector<Object*> pending;
  pending.swap(pendingList());
  for (Object* object : pending) {
    object->pending_ = false;
    rootGroup()->add(*object);
  }
}

bool Registry::started() {
  return rootGroup() != nullptr;
}

Group& Registry::root() {
  VX_ASSERT(rootGroup() != nullptr, "Meter registry used before it was started");
  return *rootGroup();
}

void Registry::enter(Object& object) {
  if (rootGroup() != nullptr) {
    rootGroup()->add(object);
  } else {
    object.pending_ = true;
    pendingList().push_back(&object);
  }
}

void Registry::leave(Object& object) {
  auto& pending = pendingList();
  pending.erase(std::remove(pending.begin(), pending.end(), &object), pending.end());
}

}  // namespace meter
