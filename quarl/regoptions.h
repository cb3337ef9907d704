// The registry option store of a program: one open key under which its settings live.
#pragma once

#include <windows.h>

#include "quarl/quarlapi.h"

class QUARL_API REGOPTIONS {
 public:
  REGOPTIONS() : key(nullptr) {}

  // Creates or opens subKey under root with all access and keeps it. A key opened
  // before is not closed (copies of this object may still use it).
  BOOL Init(HKEY root, const wchar_t* subKey);
  HKEY GetKey() const { return key; }

 private:
  HKEY key;
};

extern QUARL_API REGOPTIONS regOptions;
