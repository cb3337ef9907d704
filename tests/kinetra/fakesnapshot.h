// Crafted process snapshots fed to the library through its system-query seam.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "kinetra/ntapi.h"

namespace fake {

struct Proc {
  DWORD pid;
  DWORD parent;
  std::wstring name;
  ULONG threads = 1;
};

// Builds the bytes of a snapshot as the system lays them out: records aligned to
// eight bytes, each followed by its thread records, image names at the end.
class Snapshot {
 public:
  void Add(const Proc& p) { procs_.push_back(p); }
  std::vector<BYTE> Build();
  // Byte offsets of each record in the built snapshot, and of its name.
  std::vector<size_t> recordOffsets, nameOffsets;

 private:
  std::vector<Proc> procs_;
};

// What the fake query does, call by call.
struct Script {
  std::vector<BYTE> bytes;           // the snapshot it delivers
  std::vector<size_t> nameOffsets;   // patched into absolute pointers on delivery
  ULONG extraNeeded = 0;             // the table "grows" by this much after sizing
  LONG failStatus = 0;               // nonzero: every fill call fails with it
  std::vector<ULONG> fillLengths;    // lengths the fill calls were offered
  // Hook to mangle the delivered buffer (bad offsets and the like).
  void (*mangle)(BYTE* buffer) = nullptr;

  void Load(Snapshot& s);
  static Script Of(Snapshot s) {
    Script sc;
    sc.Load(s);
    return sc;
  }
};

// Installs the script for the objects initialised while it is alive.
class Scope {
 public:
  explicit Scope(Script* s);
  ~Scope();
};

}  // namespace fake
