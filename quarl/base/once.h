// Run-once without the loader lock: work that must not happen while a library is
// being attached (shell icons, entry-point binding) is done on first use instead.
#pragma once

#include <windows.h>

namespace quarl {

// state: 0 not run, 1 running, 2 done. Other callers wait until the first is done.
template <class F>
void RunOnce(volatile LONG* state, F&& fn) {
  if (*state == 2) return;
  if (InterlockedCompareExchange(state, 1, 0) == 0) {
    fn();
    InterlockedExchange(state, 2);
    return;
  }
  while (*state != 2) Sleep(0);
}

}  // namespace quarl
