# Sourced helper: can this machine run 32-bit x86 Linux code, which the 32-bit
# Wine loader needs? Some kernels are booted with 32-bit emulation switched off;
# there qemu's user-mode emulator, registered for 32-bit ELF files, stands in.

# A 96-byte static 32-bit ELF program that exits with 0.
lk_i386_probe() {
  local probe
  probe=$(mktemp /tmp/lk-i386-probe.XXXXXX)
  printf '\x7f\x45\x4c\x46\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00\xb8\x01\x00\x00\x00\xbb\x00\x00\x00\x00\xcd\x80' >"$probe"
  chmod +x "$probe"
  local rc=0
  "$probe" 2>/dev/null || rc=1
  rm -f "$probe"
  return $rc
}

# Prints native, emulated or none.
lk_i386_mode() {
  local e
  for e in /proc/sys/fs/binfmt_misc/*; do
    [ -f "$e" ] || continue
    if grep -qx enabled "$e" 2>/dev/null && grep -q '^interpreter .*qemu-i386' "$e" 2>/dev/null; then
      lk_i386_probe && { echo emulated; return; }
    fi
  done
  if lk_i386_probe; then echo native; else echo none; fi
}

# Registers qemu-i386 for 32-bit ELF files when the kernel will not run them.
lk_i386_enable_emulation() {
  [ "$(lk_i386_mode)" = none ] || return 0
  local qemu=/usr/bin/qemu-i386-static
  [ -x "$qemu" ] || return 1
  if [ ! -e /proc/sys/fs/binfmt_misc/register ]; then
    mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc 2>/dev/null || return 1
  fi
  # Matches ELF, 32-bit, little-endian, executable or shared object, i386. "F"
  # opens the emulator now, so it works inside any mount namespace later.
  printf '%s' ':lk-qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:'"$qemu"':F' \
    >/proc/sys/fs/binfmt_misc/register 2>/dev/null || return 1
  lk_i386_probe
}
