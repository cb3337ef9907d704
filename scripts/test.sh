#!/usr/bin/env bash
# Installs what is missing, builds both bitnesses and runs every test of both
# under Wine, in the project's own prefix and on an X display of its own.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${LK_BUILD_DIR:-$root/build}

bash "$root/scripts/install-deps.sh"
bash "$root/scripts/build.sh"

. "$root/scripts/wine-env.sh"
trap lk_wine_stop EXIT

mode32=$(lk_i386_mode)
trees='"win32" "win64"'
case $mode32 in
  native) ;;
  emulated)
    # Each 32-bit process takes about a minute to start under the emulator:
    # the 32-bit tests run, but those that start further processes skip.
    echo "32-bit code runs through an emulator here: 32-bit tests that start processes are skipped"
    export LK_SLOW32=1 ;;
  none)
    echo "this machine cannot run 32-bit code: the 32-bit tests are not run"
    trees='"win64"' ;;
esac

# One ctest run over both trees, so there is one summary.
echo "subdirs($trees)" >"$build/CTestTestfile.cmake"

lk_wine_start
ctest --test-dir "$build" --output-on-failure -j "${LK_JOBS:-2}" "$@"
