#include "kinetra/library.h"

#include <shellapi.h>

#include "quarl/base/once.h"

namespace kinetra {
namespace {
HINSTANCE g_instance;
HICON g_iconLarge, g_iconSmall;
volatile LONG g_iconOnce;
}  // namespace

HINSTANCE GetKinetraInstance() { return g_instance; }

HICON GetGenericProgramIcon(BOOL large) {
  // The shell may load further libraries and start COM; never under the loader
  // lock, hence on first use rather than at attach.
  quarl::RunOnce(&g_iconOnce, [] {
    SHFILEINFOW fi = {};
    if (SHGetFileInfoW(L".exe", FILE_ATTRIBUTE_NORMAL, &fi, sizeof fi,
                       SHGFI_USEFILEATTRIBUTES | SHGFI_ICON | SHGFI_LARGEICON))
      g_iconLarge = fi.hIcon;
    fi = {};
    if (SHGetFileInfoW(L".exe", FILE_ATTRIBUTE_NORMAL, &fi, sizeof fi,
                       SHGFI_USEFILEATTRIBUTES | SHGFI_ICON | SHGFI_SMALLICON))
      g_iconSmall = fi.hIcon;
  });
  return large ? g_iconLarge : g_iconSmall;
}

}  // namespace kinetra

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    DisableThreadLibraryCalls(instance);
    kinetra::g_instance = instance;
  }
  return TRUE;
}
