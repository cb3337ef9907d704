#include "kinetra/proctree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <numeric>
#include <random>
#include <vector>

using kinetra::KN_PROCESSTREE;
using kinetra::KN_TREENODE;

namespace {

// The tree order worked out the plain way: roots by index, each followed by its
// children by index, each of those followed by its own subtree.
std::vector<DWORD> PreOrder(const std::vector<KN_TREENODE>& nodes) {
  auto indexOf = [&](DWORD pid) -> LONG {
    for (size_t i = 0; i < nodes.size(); ++i)
      if (nodes[i].pid == pid) return LONG(i);
    return -1;
  };
  std::vector<DWORD> order;
  std::function<void(DWORD)> visit = [&](DWORD at) {
    order.push_back(at);
    for (DWORD c = 0; c < nodes.size(); ++c)
      if (c != at && indexOf(nodes[c].parent) == LONG(at)) visit(c);
  };
  for (DWORD i = 0; i < nodes.size(); ++i)
    if (indexOf(nodes[i].parent) < 0) visit(i);
  return order;
}

std::vector<DWORD> SortedByKey(const KN_PROCESSTREE& tree) {
  std::vector<DWORD> order(tree.Count());
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(), [&](DWORD a, DWORD b) { return tree.Key(a) < tree.Key(b); });
  return order;
}

// A random forest of n processes: PIDs are multiples of 4 in a shuffled order,
// so parents sit before and after their children in the list; a few have a
// parent that is gone or was reused.
std::vector<KN_TREENODE> Forest(DWORD n, unsigned seed, DWORD maxFanIn) {
  std::mt19937 rng(seed);
  std::vector<DWORD> pids(n);
  for (DWORD i = 0; i < n; ++i) pids[i] = 8 + 4 * i;
  // Parents are chosen among processes created earlier (lower PID), so there
  // are no cycles; the list order is shuffled.
  std::vector<KN_TREENODE> byAge(n);
  for (DWORD i = 0; i < n; ++i) {
    byAge[i].pid = pids[i];
    DWORD roll = rng() % 20;
    if (i == 0 || roll == 0) byAge[i].parent = 4;  // gone
    else if (roll == 1) byAge[i].parent = kinetra::kNoParent;
    else byAge[i].parent = pids[i - 1 - rng() % std::min(i, maxFanIn)];
  }
  std::shuffle(byAge.begin(), byAge.end(), rng);
  return byAge;
}

TEST(ProcessTree, KeysOfTheSmallExample) {
  // Index 2 is a root (its parent is not listed); index 7 is its child.
  std::vector<KN_TREENODE> nodes = {{100, 1}, {104, 1}, {200, 1}, {108, 1}, {112, 1},
                                    {116, 1}, {120, 1}, {300, 200}};
  KN_PROCESSTREE tree;
  ASSERT_TRUE(tree.Build(nodes.data(), DWORD(nodes.size())));
  EXPECT_DOUBLE_EQ(2.0, tree.Key(2));
  EXPECT_DOUBLE_EQ(2 + 0.07 + 7e-14, tree.Key(7));
  EXPECT_EQ(0u, tree.Depth(2));
  EXPECT_EQ(1u, tree.Depth(7));
  EXPECT_EQ(7, tree.IndexOf(300));
  EXPECT_EQ(-1, tree.IndexOf(301));
  EXPECT_DOUBLE_EQ(0.0, tree.Key(8));  // past the end
  EXPECT_EQ(0u, tree.Depth(1024));
}

TEST(ProcessTree, CyclesReusedParentsAndTheDepthCap) {
  std::vector<KN_TREENODE> nodes = {
      {10, 20}, {20, 10},             // name each other
      {30, 40}, {40, 50}, {50, 30},   // a cycle of three
      {60, kinetra::kNoParent},       // its parent PID now names a younger process
      {70, 60},
  };
  // A chain of 20 below 70.
  for (DWORD i = 0; i < 20; ++i) nodes.push_back({1000 + i, i ? 999 + i : 70});
  KN_PROCESSTREE tree;
  ASSERT_TRUE(tree.Build(nodes.data(), DWORD(nodes.size())));
  for (DWORD i : {0u, 1u, 2u, 3u, 4u}) {
    EXPECT_EQ(0u, tree.Depth(i)) << i;
    EXPECT_DOUBLE_EQ(0.0, tree.Key(i)) << i;
  }
  EXPECT_EQ(0u, tree.Depth(5));  // a root, like a process whose parent is gone
  EXPECT_EQ(1u, tree.Depth(6));
  EXPECT_EQ(5u, tree.Depth(10));
  EXPECT_EQ(13u, tree.Depth(DWORD(nodes.size() - 1)));  // counted to the cap
  // Deep as it is, the chain still sorts parent before child.
  std::vector<DWORD> order = SortedByKey(tree);
  std::vector<DWORD> tail(order.end() - 22, order.end());
  std::vector<DWORD> want = {5, 6};
  for (DWORD i = 7; i < nodes.size(); ++i) want.push_back(i);
  EXPECT_EQ(want, tail);
}

TEST(ProcessTree, OrderIsRightForAnyNumberOfProcesses) {
  struct Case {
    DWORD n, fanIn;
  } cases[] = {{10, 3}, {60, 2}, {99, 50}, {100, 50}, {150, 1}, {150, 4}, {400, 8}, {1024, 30}};
  for (const Case& c : cases) {
    for (unsigned seed = 1; seed <= 3; ++seed) {
      SCOPED_TRACE(testing::Message() << c.n << " processes, fan-in " << c.fanIn << ", seed " << seed);
      std::vector<KN_TREENODE> nodes = Forest(c.n, seed, c.fanIn);
      KN_PROCESSTREE tree;
      ASSERT_TRUE(tree.Build(nodes.data(), c.n));
      EXPECT_EQ(PreOrder(nodes), SortedByKey(tree));
    }
  }
}

}  // namespace
