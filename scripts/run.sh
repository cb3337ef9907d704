#!/usr/bin/env bash
# Installs what is missing, builds both bitnesses and starts the main program
# under Wine: on the caller's display when there is one, otherwise on Xvfb.
# Extra arguments go to the program (for example /BUILDINFO).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${LK_BUILD_DIR:-$root/build}

bash "$root/scripts/install-deps.sh"
bash "$root/scripts/build.sh"

if [ -n "${DISPLAY:-}" ]; then export LK_USE_DISPLAY=1; fi
. "$root/scripts/wine-env.sh"
trap lk_wine_stop EXIT
lk_wine_start
echo "display: $DISPLAY"

# The 32-bit program starts its 64-bit twin under WOW64. Where 32-bit code runs
# only through an emulator (or not at all) the twin is started directly.
if [ "$(lk_i386_mode)" = native ]; then
  exe=$build/bin/Larkon.exe
  loader=wine
else
  exe=$build/bin/larkon64.exe
  loader=$lk_wine64
fi
if [ ! -f "$exe" ]; then
  echo "$(basename "$exe") has not been built" >&2
  exit 1
fi
cd "$build/bin"
"$loader" "$exe" "$@"
