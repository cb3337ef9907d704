// Crafted process snapshots fed to the library through its system-query seam.
#pragma once

#include <windows.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "kinetra/ntapi.h"

namespace fake {

struct Proc {
  DWORD pid;
  DWORD parent;
  std::wstring name;
  ULONG threads = 1;
  // Counters, as the system reports them (times in 100 ns).
  LONGLONG kernelTime = 0, userTime = 0;
  SIZE_T workingSet = 0, peakWorkingSet = 0, virtualSize = 0, privateBytes = 0;
  SIZE_T pagedPool = 0, nonPagedPool = 0;
  ULONG pageFaults = 0, handles = 0, session = 0;
  LONG basePriority = 8;
  LONGLONG createTime = 0;
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
  LONG failStatus = 0;               // nonzero: every fill call of failClass fails with it
  ULONG failClass = kinetra::kSystemProcessInformation;
  std::vector<ULONG> fillLengths;    // lengths the fill calls were offered
  // Hook to mangle the delivered buffer (bad offsets and the like).
  void (*mangle)(BYTE* buffer) = nullptr;

  // Fixed records of the other information classes, answered whole: a buffer
  // too small (or none) gets a length mismatch and the record's size. A class
  // that is not here is refused as invalid.
  std::map<ULONG, std::vector<BYTE>> records;
  std::map<ULONG, int> calls;  // fill calls per class, the refused ones included

  template <typename T>
  void SetRecord(ULONG infoClass, const T& value) {
    std::vector<BYTE> b(sizeof(T));
    memcpy(b.data(), &value, sizeof(T));
    records[infoClass] = b;
  }
  template <typename T>
  void SetRecords(ULONG infoClass, const std::vector<T>& values) {
    std::vector<BYTE> b(values.size() * sizeof(T));
    if (!values.empty()) memcpy(b.data(), values.data(), b.size());
    records[infoClass] = b;
  }

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
