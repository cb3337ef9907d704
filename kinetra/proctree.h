// The order of the process tree: each process's depth under its ancestors and a
// sort key that puts every child right after its parent, siblings by position.
// Pure functions over a table of the list's items, so the list and its tests
// share one implementation.
#pragma once

#include <windows.h>

#include "kinetra/kinetraapi.h"

namespace kinetra {

constexpr DWORD kNoParent = 0xFFFFFFFF;  // the parent PID now names a younger process

// One item of the list, at its index.
struct KN_TREENODE {
  DWORD pid;
  DWORD parent;  // after the age test: kNoParent when the parent PID was reused
};

// The list's items by PID; built once per question batch.
class KINETRA_API KN_PROCESSTREE {
 public:
  KN_PROCESSTREE();
  ~KN_PROCESSTREE();
  KN_PROCESSTREE(const KN_PROCESSTREE&) = delete;
  KN_PROCESSTREE& operator=(const KN_PROCESSTREE&) = delete;

  // Takes a copy of the table; false when there is no memory for it.
  BOOL Build(const KN_TREENODE* nodes, DWORD count);
  DWORD Count() const { return count_; }
  // Index of the first item with that PID, or -1.
  LONG IndexOf(DWORD pid) const;

  // Depth under the ancestors that are in the list; 0 for a root, for a member
  // of a parent cycle of length 2 to 4, and past 12 levels.
  DWORD Depth(DWORD index) const;
  // Sort key: parent, then its children by index, each followed by its own
  // subtree; roots by index; members of a parent cycle (and what hangs below
  // one) get 0. Where it sorts that way (fewer than 100 items, at most 5 levels,
  // no child at index 0) the key is root index + index / 100^depth at each
  // level + index / 100^7; otherwise those fractions overrun or tie, and the key
  // is the item's position in the tree order instead.
  double Key(DWORD index) const;

 private:
  DWORD ParentOf(DWORD pid) const;  // 0 when the PID is not in the list
  BOOL InCycle(DWORD index) const;
  double FormulaKey(DWORD index) const;
  // Keys by position in the tree order; fills order with the visited items in
  // that order and returns their number.
  DWORD Rank(DWORD* order);

  KN_TREENODE* nodes_;
  DWORD count_;
  // Indices sorted by PID (first occurrence wins) for the look-ups.
  DWORD* byPid_;
  DWORD uniquePids_;
  double* keys_;
  BOOL formula_;
};

}  // namespace kinetra
