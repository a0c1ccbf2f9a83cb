#include <gtest/gtest.h>

#include <cerrno>
#include <new>

#include "config/memory_registry.h"
#include "config/variable_store.h"
#include "error/exception.h"

namespace config {
namespace {

const std::vector<std::string> kInstalled{"SOFTWARE", "SOFTWARE\\Vexlan",
                                          "SOFTWARE\\Vexlan\\VXServer"};

std::map<std::string, std::string> registryValues(Registry& root) {
  ConfigMap m;
  read_registry(root, kVariablesKey, m, false);
  std::map<std::string, std::string> out;
  for (const auto& [k, v] : m)
    out[k] = v.value;
  return out;
}

TEST(VariableStore, FirstLoadCreatesTheMachineKey) {
  MemoryRegistry user, machine(kInstalled);
  VariableStore store(user, machine);
  store.load();
  EXPECT_TRUE(store.snapshot().empty());
  EXPECT_EQ(machine.openKey(kVariablesKey), 0);
  EXPECT_NE(user.openKey(kVariablesKey), 0);
}

TEST(VariableStore, UserRootWinsWhenItHasTheKey) {
  MemoryRegistry user(kInstalled), machine(kInstalled);
  write_registry(user, kVariablesKey, {{"a", "user"}});
  write_registry(machine, kVariablesKey, {{"a", "machine"}, {"b", "machine"}});
  VariableStore store(user, machine);
  store.load();
  EXPECT_EQ(store.snapshot(), (VariableStore::Vars{{"a", "user"}}));
}

TEST(VariableStore, StoreAppliesUpdatesAndWritesTheWholeSet) {
  MemoryRegistry user, machine(kInstalled);
  VariableStore store(user, machine);
  store.load();
  store.store({{"entropy", "abc"}, {"x", "1"}});
  store.store({{"x", "2"}});  // the later store wins
  EXPECT_EQ(store.get("x"), "2");
  EXPECT_EQ(registryValues(machine), (VariableStore::Vars{{"entropy", "abc"}, {"x", "2"}}));

  // An empty value removes the variable from the store; the registry keeps its last value,
  // since writes never delete, so it returns at the next start.
  store.store({{"x", ""}});
  EXPECT_EQ(store.snapshot(), (VariableStore::Vars{{"entropy", "abc"}}));
  EXPECT_EQ(store.get("x"), "");
  EXPECT_EQ(registryValues(machine)["x"], "2");
  VariableStore restarted(user, machine);
  restarted.load();
  EXPECT_EQ(restarted.get("x"), "2");

  // An empty update still rewrites the registry with the unchanged store.
  write_registry(machine, kVariablesKey, {{"entropy", "tampered"}});
  store.store({});
  EXPECT_EQ(registryValues(machine)["entropy"], "abc");
}

TEST(VariableStore, WritesFallBackToTheMachineRoot) {
  MemoryRegistry user(kInstalled), machine(kInstalled);
  VariableStore store(user, machine);
  store.load();  // the user root has no variables key: read from the machine root
  store.store({{"a", "1"}});
  EXPECT_EQ(registryValues(user), (VariableStore::Vars{{"a", "1"}}));  // created under user

  user.failWith(EIO);
  store.store({{"b", "2"}});
  EXPECT_EQ(registryValues(machine), (VariableStore::Vars{{"a", "1"}, {"b", "2"}}));

  machine.failWith(ENOSPC);
  try {
    store.store({{"c", "3"}});
    ADD_FAILURE();
  } catch (const error::ESystemError& e) {
    EXPECT_EQ(e.code(), ENOSPC);
  }
  EXPECT_EQ(store.get("c"), "3");  // the store itself took the update
}

TEST(VariableStore, StoreBeforeLoadReadsWhatItCan) {
  MemoryRegistry user, machine(kInstalled);
  write_registry(machine, kVariablesKey, {{"kept", "yes"}});
  VariableStore store(user, machine);
  store.store({{"new", "1"}});
  EXPECT_EQ(registryValues(machine), (VariableStore::Vars{{"kept", "yes"}, {"new", "1"}}));

  MemoryRegistry broken, brokenToo;
  broken.failWith(EIO);
  brokenToo.failWith(EIO);
  VariableStore unreadable(broken, brokenToo);
  EXPECT_THROW(unreadable.store({{"x", "1"}}), error::ESystemError);
  EXPECT_EQ(unreadable.get("x"), "1");
}

// A registry whose reads fail in a way no registry error describes.
class ThrowingRegistry : public MemoryRegistry {
 public:
  using MemoryRegistry::MemoryRegistry;
  int readValues(const std::string&, std::vector<RegistryValue>&) override {
    throw std::bad_alloc();
  }
};

TEST(VariableStoreDeathTest, AnyOtherFailureOfThatReadEndsTheProcess) {
  ThrowingRegistry user(kInstalled), machine(kInstalled);
  VariableStore store(user, machine);
  EXPECT_EXIT(store.store({{"x", "1"}}), testing::ExitedWithCode(1),
              "^Caught fatal exception reading system variables\n$");
}

}  // namespace
}  // namespace config
