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

# The 32-bit program starts its 64-bit twin under WOW64. Where 32-bit code
# cannot run at all, the twin is started directly.
case $(lk_i386_mode) in
  native) exe=$build/bin/Larkon.exe loader=wine ;;
  emulated)
    echo "32-bit code runs through an emulator here: Larkon.exe takes about a minute to start its twin"
    exe=$build/bin/Larkon.exe loader=wine ;;
  *) exe=$build/bin/larkon64.exe loader=$lk_wine64 ;;
esac
if [ ! -f "$exe" ]; then
  echo "$(basename "$exe") has not been built" >&2
  exit 1
fi
cd "$build/bin"
"$loader" "$exe" "$@"
