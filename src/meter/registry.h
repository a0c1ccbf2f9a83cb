// The process's root group. Metrics are often static objects, built before main() and in no
// particular order; those that name the root group as their parent wait in a pending list
// until the registry starts, and are listed then.
#pragma once

#include "meter/group.h"

namespace meter {

class Registry {
 public:
  // Makes the root group and lists every pending object in it. Later calls do nothing.
  static void start();
  static bool started();
  // The root group; calling it before start() is an assertion.
  static Group& root();

 private:
  friend class Object;
  // Lists `object` in the root group, or keeps it pending until start().
  static void enter(Object& object);
  static void leave(Object& object);
};

}  // namespace meter
