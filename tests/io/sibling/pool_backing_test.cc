// Pages of the pool are backed when they are used: processes that have attached and exchanged
// a few messages have made the start of each area resident, not the areas.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <vector>

#include "harness.h"

namespace vxtest {
namespace {

size_t residentPages(const uint8_t* base, uint64_t size) {
  const size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
  std::vector<unsigned char> in((size + page - 1) / page);
  if (::mincore(const_cast<uint8_t*>(base), size, in.data()) != 0) return SIZE_MAX;
  size_t n = 0;
  for (unsigned char c : in)
    n += c & 1;
  return n;
}

TEST(PoolBacking, OnlyWhatIsUsedBecomesResident) {
  const uint64_t kPool = 32 << 20, kArea = 4 << 20;
  Mesh mesh(kPool, kArea);
  auto& c1 = mesh.add(1);
  auto& c2 = mesh.add(2);
  auto out = c1.sibling(2);
  for (int i = 0; i < 50; ++i)
    writeMessage(out->ostream(), std::string(1000, 'x'));
  mesh.settle();
  auto in = c2.sibling(1);
  for (int i = 0; i < 50; ++i)
    ASSERT_EQ(readMessage(in->istream()).size(), 1000u);
  mesh.settle();

  // Three areas of 4 MiB are in use: the magic's page and at most the first 64 KiB of each.
  const size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
  size_t resident = residentPages(mesh.pool(), kPool);
  EXPECT_GE(resident, 1 + 50 * 1000 / page);
  EXPECT_LE(resident, 1 + 3 * (64 * 1024) / page);
}

}  // namespace
}  // namespace vxtest
