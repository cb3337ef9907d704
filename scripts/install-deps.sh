#!/usr/bin/env bash
# Installs the cross toolchain, Wine (both bitnesses), the X server for window
# tests and GoogleTest's source. Safe to run again: it installs only what is missing.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/i386.sh"

pkgs=(cmake make g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64
      mingw-w64-tools wine wine64 wine32:i386 xvfb xauth x11-utils imagemagick googletest)

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi

# The 32-bit Wine loader is 32-bit Linux code; where the kernel refuses it, the
# user-mode emulator runs it instead.
if [ "$(lk_i386_mode)" = none ]; then pkgs+=(qemu-user-static); fi

missing=()
for p in "${pkgs[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    "${sudo_cmd[@]}" dpkg --add-architecture i386
  fi
  "${sudo_cmd[@]}" apt-get update -qq
  "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

if [ "$(lk_i386_mode)" = none ] && [ "$(id -u)" -eq 0 ]; then
  lk_i386_enable_emulation ||
    echo "note: this machine cannot run 32-bit code; only the 64-bit programs will run" >&2
fi
