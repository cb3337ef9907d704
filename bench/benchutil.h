// Small pieces the benchmarks share.
#pragma once

#include <windows.h>

namespace bench {

// Milliseconds of the high-resolution counter.
inline double NowMs() {
  static const LARGE_INTEGER frequency = [] {
    LARGE_INTEGER v;
    QueryPerformanceFrequency(&v);
    return v;
  }();
  LARGE_INTEGER t;
  QueryPerformanceCounter(&t);
  return double(t.QuadPart) * 1000.0 / double(frequency.QuadPart);
}

}  // namespace bench
