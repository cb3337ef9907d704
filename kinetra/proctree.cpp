#include "kinetra/proctree.h"

#include <algorithm>
#include <cstring>

namespace kinetra {
namespace {

constexpr DWORD kMaxDepth = 12;       // deeper chains count as roots
constexpr DWORD kFormulaItems = 100;  // the fractions assume two-digit indices
constexpr DWORD kFormulaDepth = 5;

template <typename T>
T* Allocate(DWORD count) {
  return static_cast<T*>(HeapAlloc(GetProcessHeap(), 0, (count ? count : 1) * sizeof(T)));
}

template <typename T>
void Release(T*& p) {
  if (p) HeapFree(GetProcessHeap(), 0, p);
  p = nullptr;
}

double Power100(DWORD n) {
  double v = 1;
  for (DWORD i = 0; i < n; ++i) v *= 100;
  return v;
}

}  // namespace

KN_PROCESSTREE::KN_PROCESSTREE()
    : nodes_(nullptr), count_(0), byPid_(nullptr), uniquePids_(0), keys_(nullptr), formula_(TRUE) {}

KN_PROCESSTREE::~KN_PROCESSTREE() {
  Release(nodes_);
  Release(byPid_);
  Release(keys_);
}

BOOL KN_PROCESSTREE::Build(const KN_TREENODE* nodes, DWORD count) {
  Release(nodes_);
  Release(byPid_);
  Release(keys_);
  count_ = uniquePids_ = 0;
  nodes_ = Allocate<KN_TREENODE>(count);
  byPid_ = Allocate<DWORD>(count);
  keys_ = Allocate<double>(count);
  if (!nodes_ || !byPid_ || !keys_) {
    Release(nodes_);
    Release(byPid_);
    Release(keys_);
    return FALSE;
  }
  if (count) memcpy(nodes_, nodes, count * sizeof *nodes);
  count_ = count;
  for (DWORD i = 0; i < count; ++i) byPid_[i] = i;
  std::stable_sort(byPid_, byPid_ + count, [this](DWORD a, DWORD b) { return nodes_[a].pid < nodes_[b].pid; });
  // Keep the first item of each PID, as a search from the front would find it.
  for (DWORD i = 0; i < count; ++i)
    if (uniquePids_ == 0 || nodes_[byPid_[uniquePids_ - 1]].pid != nodes_[byPid_[i]].pid)
      byPid_[uniquePids_++] = byPid_[i];

  DWORD* order = Allocate<DWORD>(count_);
  DWORD visited = order ? Rank(order) : 0;
  // The two-digit key where it sorts right: few items, shallow, and no child at
  // index 0 (whose fraction is 0, so it would tie with its parent).
  formula_ = order && count_ < kFormulaItems;
  for (DWORD i = 0; formula_ && i < count_; ++i)
    if (Depth(i) > kFormulaDepth) formula_ = FALSE;
  double* formula = formula_ ? Allocate<double>(count_) : nullptr;
  if (formula) {
    for (DWORD i = 0; i < count_; ++i) formula[i] = FormulaKey(i);
    for (DWORD k = 1; k < visited && formula_; ++k)
      if (!(formula[order[k - 1]] < formula[order[k]])) formula_ = FALSE;
    if (formula_) memcpy(keys_, formula, count_ * sizeof *keys_);
  } else {
    formula_ = FALSE;
  }
  Release(formula);
  Release(order);
  return TRUE;
}

LONG KN_PROCESSTREE::IndexOf(DWORD pid) const {
  DWORD lo = 0, hi = uniquePids_;
  while (lo < hi) {
    DWORD mid = lo + (hi - lo) / 2;
    DWORD at = nodes_[byPid_[mid]].pid;
    if (at == pid) return LONG(byPid_[mid]);
    if (at < pid) lo = mid + 1; else hi = mid;
  }
  return -1;
}

DWORD KN_PROCESSTREE::ParentOf(DWORD pid) const {
  LONG i = IndexOf(pid);
  return i < 0 ? 0 : nodes_[i].parent;
}

BOOL KN_PROCESSTREE::InCycle(DWORD index) const {
  DWORD self = nodes_[index].pid;
  DWORD p = ParentOf(ParentOf(self));
  for (int length = 2; length <= 4; ++length, p = ParentOf(p))
    if (p == self) return TRUE;
  return FALSE;
}

DWORD KN_PROCESSTREE::Depth(DWORD index) const {
  DWORD depth = 0;
  for (DWORD level = 0; index < count_; ++level) {
    // A cycle or a chain past the cap ends the count where it is.
    if (InCycle(index) || level > kMaxDepth) return depth;
    // A parent PID that now names a younger process makes the item a root, in
    // its depth as in its place.
    LONG parent = IndexOf(nodes_[index].parent);
    if (parent < 0) return depth;
    ++depth;
    index = DWORD(parent);
  }
  return depth;
}

double KN_PROCESSTREE::FormulaKey(DWORD index) const {
  double key = 0;
  for (DWORD level = 0; index < count_; ++level) {
    if (InCycle(index) || level > 15) return key;
    LONG parent = IndexOf(nodes_[index].parent);
    if (parent < 0) return key + index;
    DWORD n = Depth(index);
    key += index / Power100(n) + index / Power100(7);
    index = DWORD(parent);
  }
  return key;
}

DWORD KN_PROCESSTREE::Rank(DWORD* order) {
  // Children in index order: linked front to back by walking the indices from
  // the last one down.
  LONG* firstChild = Allocate<LONG>(count_);
  LONG* nextSibling = Allocate<LONG>(count_);
  DWORD* stack = Allocate<DWORD>(count_);
  DWORD visited = 0;
  if (!firstChild || !nextSibling || !stack) {
    for (DWORD i = 0; i < count_; ++i) keys_[i] = i;
  } else {
    for (DWORD i = 0; i < count_; ++i) {
      firstChild[i] = -1;
      nextSibling[i] = -1;
      keys_[i] = 0.0;  // members of a cycle, and whatever hangs below one
    }
    for (DWORD i = count_; i-- > 0;) {
      if (InCycle(i)) continue;
      LONG parent = IndexOf(nodes_[i].parent);
      if (parent < 0 || DWORD(parent) == i) continue;
      nextSibling[i] = firstChild[parent];
      firstChild[parent] = LONG(i);
    }
    double rank = 1;
    for (DWORD root = 0; root < count_; ++root) {
      if (InCycle(root)) continue;
      LONG parent = IndexOf(nodes_[root].parent);
      if (parent >= 0 && DWORD(parent) != root) continue;
      DWORD depth = 0;
      stack[depth++] = root;
      while (depth) {
        DWORD at = stack[--depth];
        keys_[at] = rank++;
        order[visited++] = at;
        // Push the children last first, so the first one is taken next.
        DWORD mark = depth;
        for (LONG c = firstChild[at]; c >= 0 && depth < count_; c = nextSibling[c]) stack[depth++] = DWORD(c);
        std::reverse(stack + mark, stack + depth);
      }
    }
  }
  Release(firstChild);
  Release(nextSibling);
  Release(stack);
  return visited;
}

double KN_PROCESSTREE::Key(DWORD index) const { return index < count_ ? keys_[index] : 0.0; }

}  // namespace kinetra
