#!/usr/bin/env bash
# Configures and builds both bitnesses: build/win32 and build/win64, with every
# program and library of both in build/bin.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${LK_BUILD_DIR:-$root/build}
jobs=${LK_JOBS:-$(nproc)}

for arch in i686:win32 x86_64:win64; do
  triple=${arch%%:*}
  tree=$build/${arch##*:}
  if [ ! -f "$tree/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$tree" -G "Unix Makefiles" \
      -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-$triple.cmake" \
      -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  fi
  cmake --build "$tree" -j "$jobs" -- --no-print-directory
done
