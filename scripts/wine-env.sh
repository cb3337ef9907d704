# Sourced helper: the project's own Wine prefix, one persistent wineserver and an
# X display of our own. Call lk_wine_start, and lk_wine_stop when done.
lk_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
. "$lk_root/scripts/i386.sh"

export WINEPREFIX=${LK_WINEPREFIX:-$lk_root/build/wineprefix}
export WINEDEBUG=-all
# Wine's interface language follows LANG; the tests expect English.
export LANG=C.UTF-8 LC_ALL=C.UTF-8
# No desktop integration or Mono/Gecko prompts in the prefix.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"

lk_wineserver=/usr/lib/wine/wineserver
[ -x "$lk_wineserver" ] || lk_wineserver=$(command -v wineserver)
lk_wine64=/usr/lib/wine/wine64
[ -x "$lk_wine64" ] || lk_wine64=$(command -v wine64)

lk_xvfb_pid=

# Starts Xvfb on the first free display number from 50 on, unless told to use
# the caller's display (LK_USE_DISPLAY=1 with DISPLAY set).
lk_start_display() {
  if [ "${LK_USE_DISPLAY:-0}" = 1 ] && [ -n "${DISPLAY:-}" ]; then return 0; fi
  local n
  for n in $(seq 50 250); do
    [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    lk_xvfb_pid=$!
    local i
    for i in $(seq 100); do
      [ -e "/tmp/.X11-unix/X$n" ] && break
      kill -0 "$lk_xvfb_pid" 2>/dev/null || break
      sleep 0.1
    done
    if [ -e "/tmp/.X11-unix/X$n" ] && kill -0 "$lk_xvfb_pid" 2>/dev/null; then
      export DISPLAY=":$n"
      return 0
    fi
    kill "$lk_xvfb_pid" 2>/dev/null || true
    lk_xvfb_pid=
  done
  echo "no free X display found" >&2
  return 1
}

lk_wine_start() {
  lk_start_display
  mkdir -p "$WINEPREFIX"
  "$lk_wineserver" -p
  # Booting with stdio detached: the prefix's services would otherwise keep the
  # caller's output open, and ctest or a pipe would wait for them forever.
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "creating the Wine prefix (the first time takes a while)..."
    "$lk_wine64" wineboot -i </dev/null >/dev/null 2>&1 || true
  else
    "$lk_wine64" wineboot </dev/null >/dev/null 2>&1 || true
  fi
  # A crashing program ends at once instead of waiting in the post-mortem debugger.
  local view
  for view in 64 32; do
    "$lk_wine64" reg delete 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' \
      /v Debugger /f /reg:$view </dev/null >/dev/null 2>&1 || true
  done
}

lk_wine_stop() {
  "$lk_wineserver" -k 2>/dev/null || true
  if [ -n "$lk_xvfb_pid" ]; then
    kill "$lk_xvfb_pid" 2>/dev/null || true
    wait "$lk_xvfb_pid" 2>/dev/null || true
  fi
}
