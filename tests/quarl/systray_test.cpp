#include "quarl/systray.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Sent {
  DWORD message;
  UINT flags;
  UINT version;
  DWORD size;
};
std::vector<Sent> g_sent;
BOOL WINAPI Record(DWORD message, PNOTIFYICONDATAW d) {
  g_sent.push_back({message, d->uFlags, d->uVersion, d->cbSize});
  return TRUE;
}

class TrayIcon : public testing::Test {
 protected:
  void SetUp() override {
    g_sent.clear();
    quarl::SetNotifyIconHook(Record);
    icon_.Init(nullptr, LoadIconW(nullptr, IDI_APPLICATION), L"Larkspan", 1035, 4500);
  }
  void TearDown() override { quarl::SetNotifyIconHook(nullptr); }
  quarl::_SYSTRAYICON icon_;
};

TEST_F(TrayIcon, ShownOnceAndDeletedOnce) {
  EXPECT_FALSE(icon_.Delete());  // never shown
  EXPECT_TRUE(icon_.Show());
  EXPECT_FALSE(icon_.Show());
  ASSERT_EQ(2u, g_sent.size());  // added once, then its version set
  EXPECT_EQ(DWORD(NIM_ADD), g_sent[0].message);
  EXPECT_EQ(DWORD(NIM_SETVERSION), g_sent[1].message);
  EXPECT_EQ(3u, g_sent[1].version);
  EXPECT_EQ(DWORD(sizeof(NOTIFYICONDATAW)), g_sent[0].size);
  EXPECT_TRUE(icon_.Delete());
  EXPECT_FALSE(icon_.Delete());
  EXPECT_EQ(DWORD(NIM_DELETE), g_sent.back().message);
}

TEST_F(TrayIcon, BalloonIsNotRepeatedByLaterIconUpdates) {
  icon_.Show();
  g_sent.clear();
  icon_.ShowBallonTip(L"text", L"title", 0, NIIF_INFO);
  icon_.SetIcon(LoadIconW(nullptr, IDI_WARNING));
  ASSERT_EQ(2u, g_sent.size());
  EXPECT_TRUE(g_sent[0].flags & NIF_INFO);
  EXPECT_EQ(10000u, g_sent[0].version);  // the time-out shares the field
  EXPECT_FALSE(g_sent[1].flags & NIF_INFO);
  EXPECT_EQ(3u, g_sent[1].version);
}

TEST_F(TrayIcon, TextsAreCut) {
  std::wstring longTip(300, L't');
  icon_.Init(nullptr, nullptr, longTip.c_str(), 1, 2);
  EXPECT_EQ(127u, wcslen(icon_.Data().szTip));
}

TEST(TrayIconLive, WineAcceptsTheRecord) {
  HWND w = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  quarl::_SYSTRAYICON icon;
  icon.Init(w, LoadIconW(nullptr, IDI_APPLICATION), L"Larkspan", 1035, 4500);
  EXPECT_TRUE(icon.Show());
  EXPECT_TRUE(icon.SetIcon(LoadIconW(nullptr, IDI_WARNING)));
  EXPECT_TRUE(icon.Delete());
  DestroyWindow(w);
}

}  // namespace
