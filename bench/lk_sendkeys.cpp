// Drives a window from outside for screenshots under the test display: opens
// its menu bar by mnemonic and sends keys, as a user at the keyboard would.
//
//   lk_sendkeys64.exe "<window title>" menu:<letter> | key:<virtual key> ...
#include <windows.h>

#include <cstdio>
#include <cwchar>

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    std::fwprintf(stderr, L"usage: lk_sendkeys \"<title>\" menu:<letter> | key:<vk> ...\n");
    return 2;
  }
  HWND window = FindWindowW(nullptr, argv[1]);
  if (!window) {
    std::fwprintf(stderr, L"no window \"%ls\"\n", argv[1]);
    return 1;
  }
  SetForegroundWindow(window);
  for (int i = 2; i < argc; ++i) {
    if (std::wcsncmp(argv[i], L"menu:", 5) == 0) {
      PostMessageW(window, WM_SYSCOMMAND, SC_KEYMENU, LPARAM(argv[i][5]));
    } else if (std::wcsncmp(argv[i], L"key:", 4) == 0) {
      INPUT in[2] = {};
      in[0].type = in[1].type = INPUT_KEYBOARD;
      in[0].ki.wVk = in[1].ki.wVk = WORD(std::wcstoul(argv[i] + 4, nullptr, 0));
      in[1].ki.dwFlags = KEYEVENTF_KEYUP;
      SendInput(2, in, sizeof(INPUT));
    }
    Sleep(400);  // let the menu open before the next key
  }
  return 0;
}
