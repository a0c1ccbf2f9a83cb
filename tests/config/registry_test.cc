// The registry contract, run over the in-memory root and the SQLite root alike, so that
// callers tested over the first can rely on the second.
#include <gtest/gtest.h>

#include <cerrno>
#include <memory>
#include <stdexcept>

#include "config/error_text.h"
#include "config/memory_registry.h"
#include "config/registry.h"
#include "config/sqlite_registry.h"
#include "error/exception.h"
#include "support/test_support.h"

namespace config {
namespace {

const std::string kKey = "SOFTWARE\\Vexlan\\VXServer";

class RegistryContract : public ::testing::TestWithParam<bool> {
 protected:
  // A root holding "SOFTWARE" and "SOFTWARE\Vexlan".
  void SetUp() override {
    std::vector<std::string> keys{"SOFTWARE", "SOFTWARE\\Vexlan"};
    if (GetParam()) {
      root_ = std::make_unique<SqliteRegistry>(dir_.file("reg.db"), keys);
    } else {
      root_ = std::make_unique<MemoryRegistry>(keys);
    }
  }
  Registry& root() { return *root_; }

  vxtest::TempDir dir_;
  std::unique_ptr<Registry> root_;
};

TEST_P(RegistryContract, MissingKeysAndParents) {
  ConfigMap m;
  EXPECT_EQ(errorOf([&] { read_registry(root(), kKey, m, false); }),
            "Cannot open path \"SOFTWARE\\Vexlan\\VXServer\" returncode 2: No such file or "
            "directory");
  EXPECT_EQ(errorOf([&] { read_registry(root(), kKey + "\\Variables", m, true); }),
            "Cannot hardopen path \"SOFTWARE\\Vexlan\\VXServer\" returncode 2: No such file or "
            "directory");
  EXPECT_EQ(errorOf([&] {
              write_registry(root(), kKey + "\\Variables", {{"a", "1"}});
            }),
            "Cannot open path \"SOFTWARE\\Vexlan\\VXServer\" returncode 2: No such file or "
            "directory");
  EXPECT_THROW(read_registry(root(), "NoBackslash", m, true), std::out_of_range);

  // Creating under an existing parent gives an empty key.
  read_registry(root(), kKey, m, true);
  EXPECT_TRUE(m.empty());
  read_registry(root(), kKey, m, false);
  EXPECT_TRUE(m.empty());
}

TEST_P(RegistryContract, ValuesKeepCreationOrderAndLineNumbers) {
  write_registry(root(), kKey, {{"zeta", "1"}, {"alpha", "2"}});
  write_registry(root(), kKey, {{"mid", "3"}, {"zeta", "updated"}, {"empty", ""}});
  write_registry(root(), kKey,
                 {{"nul", std::string("ab\0cd", 5)}, {"lead", std::string("\0x", 2)}});

  std::vector<RegistryValue> raw;
  ASSERT_EQ(root().readValues(kKey, raw), 0);
  std::vector<std::string> names;
  for (const auto& v : raw)
    names.push_back(v.name);
  // Written in name order within a call; an update keeps its place.
  EXPECT_EQ(names, (std::vector<std::string>{"alpha", "zeta", "empty", "mid", "lead", "nul"}));

  ConfigMap m;
  read_registry(root(), kKey, m, false);
  EXPECT_EQ(m.size(), 4u);  // empty texts (also "\0x") are dropped
  EXPECT_EQ(m["alpha"].value, "2");
  EXPECT_EQ(static_cast<int32_t>(m["alpha"].line), -1);
  EXPECT_EQ(m["zeta"].value, "updated");
  EXPECT_EQ(m["zeta"].line, 0u);
  EXPECT_EQ(m["mid"].line, 2u);
  EXPECT_EQ(m["nul"].value, "ab");  // text up to the first NUL
  EXPECT_TRUE(m["nul"].from_registry);
}

TEST_P(RegistryContract, NamesAreBytes) {
  write_registry(root(), kKey, {{"Name", "upper"}, {"name", "lower"}, {"n\xffm", "bin"}});
  ConfigMap m;
  read_registry(root(), kKey, m, false);
  EXPECT_EQ(m["Name"].value, "upper");
  EXPECT_EQ(m["name"].value, "lower");
  EXPECT_EQ(m["n\xffm"].value, "bin");
}

INSTANTIATE_TEST_SUITE_P(Roots, RegistryContract, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Sqlite" : "Memory"; });

TEST(MemoryRegistry, FailuresCarryTheirCode) {
  MemoryRegistry reg({"SOFTWARE", "SOFTWARE\\Vexlan", kKey});
  reg.failWith(EACCES);
  ConfigMap m;
  EXPECT_EQ(errorOf([&] { read_registry(reg, kKey, m, false); }),
            "Cannot open path \"SOFTWARE\\Vexlan\\VXServer\" returncode 13: Permission denied");
  reg.failWith(0);
  write_registry(reg, kKey, {{"a", "1"}});
  // A failing value write names the value and its text.
  struct FailWrite : MemoryRegistry {
    using MemoryRegistry::MemoryRegistry;
    int writeValues(const std::string&, const std::vector<std::pair<std::string, std::string>>&,
                    std::string& failed) override {
      failed = "b";
      return ENOSPC;
    }
  } full({"SOFTWARE", "SOFTWARE\\Vexlan", kKey});
  EXPECT_EQ(errorOf([&] {
              write_registry(full, kKey, {{"a", "1"}, {"b", "two"}});
            }),
            "Couldn't create registryvalue in key SOFTWARE\\Vexlan\\VXServer valuename b value "
            "two: No space left on device");
}

// A save to a key that exists is one write: creating the key would be a write of its own
// (with the SQLite root, a transaction taking the database's write lock).
TEST(WriteRegistry, AnExistingKeyIsWrittenInOneStep) {
  struct Counting : MemoryRegistry {
    using MemoryRegistry::MemoryRegistry;
    int creates = 0, writes = 0;
    int createKey(const std::string& parent, const std::string& leaf) override {
      ++creates;
      return MemoryRegistry::createKey(parent, leaf);
    }
    int writeValues(const std::string& path,
                    const std::vector<std::pair<std::string, std::string>>& values,
                    std::string& failed) override {
      ++writes;
      return MemoryRegistry::writeValues(path, values, failed);
    }
  } reg({"SOFTWARE", "SOFTWARE\\Vexlan"});
  write_registry(reg, kKey, {{"a", "1"}});
  EXPECT_EQ(reg.creates, 1);
  write_registry(reg, kKey, {{"a", "2"}});
  EXPECT_EQ(reg.creates, 1);
  EXPECT_EQ(reg.writes, 2);
  ConfigMap m;
  read_registry(reg, kKey, m, false);
  EXPECT_EQ(m["a"].value, "2");
}

}  // namespace
}  // namespace config
