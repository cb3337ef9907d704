#include "larkon/shell/startup.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dovrak/langmodule.h"
#include "quarl/appinfo.h"
#include "quarl/language.h"
#include "quarl/regoptions.h"
#include "tests/common/testutil.h"

namespace {

TEST(BuildInfo, CommandLineMatchesTheWildcardAnywhere) {
  struct Case {
    const wchar_t* line;
    bool match;
  } cases[] = {
      {L"/BUILDINFO", true},
      {L"\"C:\\Program Files\\Larkspan\\Larkon.exe\" /BUILDINFO", true},
      {L"Larkon.exe /buildinfo", true},  // the shell's match ignores case
      {L"Larkon.exe /BUILDINFO /other", true},
      {L"Larkon.exe /BUILD", false},
      {L"Larkon.exe BUILDINFO", false},
      {L"", false},
  };
  for (const Case& c : cases) EXPECT_EQ(c.match, bool(larkon::IsBuildInfoCommandLine(c.line))) << c.line;
  EXPECT_FALSE(larkon::IsBuildInfoCommandLine(nullptr));
}

TEST(BuildInfo, Text) {
  wchar_t text[368];
  larkon::FormatBuildInfo(text, 368, L"winmain.cpp", 77, L"wWinMain", 8548, L"Nov 12 2008", L"16:55:07");
  EXPECT_STREQ(L"Address:\twinmain.cpp[77]:wWinMain\nBuild:\t\t8548\nTimestamp:\tNov 12 2008 (16:55:07)", text);
}

// ---- the start-up sequence with a recording environment --------------------------

struct Recorder {
  std::vector<std::wstring> steps;
  std::vector<std::wstring> privilegesAsked;
  BOOL debugPrivilege = TRUE, shutdownPrivilege = TRUE, elevated = FALSE;
  INT_PTR shellResult = 42;
  int shellCalls = 0;
  std::wstring missingLibrary;
  std::wstring messageText;
  UINT messageFlags = 0;
  int warnings = 0;
  BOOL warningAnswer = FALSE;
  std::vector<UINT> exits;
  int languageAsks = 0;
  DWORD languageChoice = 1033;
};
Recorder* g_rec;

const larkon::STARTUP_ENV kFakeEnv = {
    [](const wchar_t* name) { g_rec->steps.push_back(name); },
    [](const wchar_t* p) -> BOOL {
      g_rec->privilegesAsked.push_back(p);
      return std::wstring(p) == L"SeDebugPrivilege" ? g_rec->debugPrivilege : g_rec->shutdownPrivilege;
    },
    []() -> BOOL { return g_rec->elevated; },
    [](const wchar_t* verb, const wchar_t*) -> HINSTANCE {
      EXPECT_STREQ(L"runas", verb);
      ++g_rec->shellCalls;
      return reinterpret_cast<HINSTANCE>(g_rec->shellResult);
    },
    [](const wchar_t* name) -> HMODULE {
      if (g_rec->missingLibrary == name) return nullptr;
      return GetModuleHandleW(nullptr);
    },
    [](const wchar_t* text, const wchar_t*, UINT flags) -> int {
      g_rec->messageText = text;
      g_rec->messageFlags = flags;
      return IDOK;
    },
    [](const wchar_t*) -> BOOL {
      ++g_rec->warnings;
      return g_rec->warningAnswer;
    },
    [](UINT code) { g_rec->exits.push_back(code); },
    [](HWND) -> BOOL {
      ++g_rec->languageAsks;
      quarl::SetCurrentLangID(g_rec->languageChoice);  // what the dialog does with a choice
      return TRUE;
    },
};

class StartupSequence : public testing::Test {
 protected:
  void SetUp() override {
    // The program's own resources, and its language key under the test's key.
    const std::wstring exe = testutil::SelfDir() + (sizeof(void*) == 4 ? L"Larkon.exe" : L"larkon64.exe");
    module_ = LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(nullptr, module_);
    previousInstance_ = quarl::GetStoredInstance();
    quarl::SetStoredInstance(module_);
    previousCode_ = quarl::GetAppCode();
    const std::wstring code = testutil::BitnessName(L"larkon_startup_test");
    quarl::SetAppCode(code.c_str());
    key_ = L"Software\\Quenby Software\\" + code;
    RegDeleteTreeW(HKEY_CURRENT_USER, key_.c_str());
    ASSERT_TRUE(regOptions.Init(HKEY_CURRENT_USER, key_.c_str()));
    g_rec = &rec_;
    larkon::SetStartupEnv(&kFakeEnv);
    priority_ = GetThreadPriority(GetCurrentThread());
  }
  void TearDown() override {
    quarl::SetCurrentLangID(0);
    larkon::SetStartupEnv(nullptr);
    g_rec = nullptr;
    SetThreadPriority(GetCurrentThread(), priority_);
    if (HKEY k = larkon::g_langModule.GetKey()) RegCloseKey(k);
    larkon::g_langModule = UIL_LANGMODULE();
    RegDeleteTreeW(HKEY_CURRENT_USER, key_.c_str());
    quarl::SetAppCode(previousCode_.c_str());
    quarl::SetStoredInstance(previousInstance_);
    if (module_) FreeLibrary(module_);
  }
  // The language module's own value for the next start; 0 when missing.
  DWORD StoredUILanguage() {
    DWORD value = 0, size = sizeof value;
    if (RegGetValueW(HKEY_CURRENT_USER, (key_ + L"\\UILang").c_str(), L"UILanguage", RRF_RT_REG_DWORD, nullptr,
                     &value, &size) != ERROR_SUCCESS)
      return 0;
    return value;
  }
  HMODULE module_ = nullptr;
  HINSTANCE previousInstance_ = nullptr;
  std::wstring previousCode_;
  std::wstring key_;
  Recorder rec_;
  int priority_ = 0;
};

const std::vector<std::wstring> kAllSteps = {
    L"Starting...", L"Loading Language Components...", L"Loading Program Components...", L"ShutdownPrivilege",
    L"Launcher",    L"SystemGraphs",                   L"PerformanceSource",             L"Initializing Process List...",
    L"Creating Background Threads...", L"Loading..."};

TEST_F(StartupSequence, RunsEveryStepInOrder) {
  EXPECT_TRUE(larkon::InitApplication());
  EXPECT_EQ(kAllSteps, rec_.steps);
  EXPECT_TRUE(larkon::g_fullAccess);
  EXPECT_EQ(kinetra::GetGlobalLoadGaugeSourcePtr(), larkon::g_perfSource);
  EXPECT_EQ((std::vector<std::wstring>{L"SeDebugPrivilege", L"SeShutdownPrivilege"}), rec_.privilegesAsked);
  EXPECT_EQ(0, rec_.shellCalls);
  EXPECT_EQ(0, rec_.warnings);
  EXPECT_TRUE(rec_.exits.empty());
  EXPECT_EQ(THREAD_PRIORITY_HIGHEST, GetThreadPriority(GetCurrentThread()));
}

TEST_F(StartupSequence, ElevationIsRequestedOnlyWhenAskedForAndNotYetElevated) {
  struct Case {
    BOOL requestElevation;
    BOOL elevated;
    INT_PTR shell;
    int shellCalls;
    bool ends;
  } cases[] = {
      {FALSE, FALSE, 42, 0, false},  // not asked for: limited access
      {TRUE, FALSE, 42, 1, true},    // accepted: this copy ends with 0
      {TRUE, FALSE, 5, 1, false},    // declined: runs on with limited access
      {TRUE, TRUE, 42, 0, false},    // already elevated: never asks again
  };
  for (const Case& c : cases) {
    rec_ = Recorder{};
    rec_.debugPrivilege = FALSE;
    rec_.elevated = c.elevated;
    rec_.shellResult = c.shell;
    regOptions.SetOptionBOOL(L"RequestElevation", c.requestElevation);
    BOOL goesOn = larkon::InitApplication();
    EXPECT_EQ(c.shellCalls, rec_.shellCalls);
    EXPECT_FALSE(larkon::g_fullAccess);
    if (c.ends) {
      EXPECT_FALSE(goesOn);
      EXPECT_EQ(std::vector<UINT>{0}, rec_.exits);
      EXPECT_EQ(std::vector<std::wstring>{L"Starting..."}, rec_.steps);
    } else {
      EXPECT_TRUE(goesOn);
      EXPECT_TRUE(rec_.exits.empty());
      EXPECT_EQ(kAllSteps, rec_.steps);
    }
  }
}

TEST_F(StartupSequence, MissingLibraryEndsWith1157) {
  for (const wchar_t* name : larkon::kEagerLibraries) {
    rec_ = Recorder{};
    rec_.missingLibrary = name;
    EXPECT_FALSE(larkon::InitApplication()) << name;
    EXPECT_EQ(std::vector<UINT>{larkon::kExitMissingComponent}, rec_.exits);
    EXPECT_EQ(L"A component required for the execution of Larkspan was not found.\n"
              L"Reinstall the application to resolve this problem.",
              rec_.messageText);
    EXPECT_TRUE(rec_.messageFlags & MB_SYSTEMMODAL);
    EXPECT_TRUE(rec_.messageFlags & MB_ICONERROR);
    EXPECT_EQ(L"Loading Program Components...", rec_.steps.back());
  }
}

TEST_F(StartupSequence, ShutdownWarningUntilTickedOnce) {
  rec_.shutdownPrivilege = FALSE;
  rec_.warningAnswer = FALSE;
  EXPECT_TRUE(larkon::InitApplication());
  EXPECT_EQ(1, rec_.warnings);
  EXPECT_EQ(FALSE, regOptions.GetOptionDWORD(L"ShutdownPrivilegeNoWarn", 99));
  EXPECT_TRUE(larkon::InitApplication());
  EXPECT_EQ(2, rec_.warnings);  // shown on every start...
  rec_.warningAnswer = TRUE;
  EXPECT_TRUE(larkon::InitApplication());
  EXPECT_EQ(3, rec_.warnings);
  EXPECT_EQ(TRUE, regOptions.GetOptionDWORD(L"ShutdownPrivilegeNoWarn", 99));
  EXPECT_TRUE(larkon::InitApplication());
  EXPECT_EQ(3, rec_.warnings);  // ...until the box was ticked once
}

TEST_F(StartupSequence, AsksForTheLanguageOnlyWhileNoneIsStored) {
  rec_.languageChoice = 1031;
  EXPECT_TRUE(larkon::InitApplication());
  EXPECT_EQ(1, rec_.languageAsks);
  EXPECT_EQ(1031u, quarl::GetCurrentLangID());
  EXPECT_EQ(1031u, regOptions.GetOptionDWORD(L"LangID", 0));
  // The next start finds the stored choice (the current language of a new
  // process starts at 0).
  quarl::SetCurrentLangID(0);
  regOptions.SetOptionDWORD(L"LangID", 1031);
  EXPECT_TRUE(larkon::InitApplication());
  EXPECT_EQ(1, rec_.languageAsks);
  EXPECT_EQ(1031u, quarl::GetCurrentLangID());
}

TEST_F(StartupSequence, LanguageModuleTakesTheChoiceAndItsTextsFollow) {
  // First run: the choice becomes the module's language at once, and the step
  // texts from the string table are German.
  rec_.languageChoice = 1031;
  EXPECT_TRUE(larkon::InitApplication());
  EXPECT_EQ(1031, larkon::g_langModule.GetLanguage());
  EXPECT_EQ(1031u, StoredUILanguage());
  const std::vector<std::wstring> tail(rec_.steps.end() - 3, rec_.steps.end());
  EXPECT_EQ((std::vector<std::wstring>{L"Prozessliste wird initialisiert...", L"Hintergrund-Threads werden erstellt...",
                                       L"Wird geladen..."}),
            tail);
}

TEST_F(StartupSequence, ALanguageChosenElsewhereAppliesToTheModuleFromTheNextStart) {
  // The module read English for this run; the runtime's language is German: the
  // texts stay English now, and the module stores German for the next start.
  ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_CURRENT_USER, (key_ + L"\\UILang").c_str(), L"UILanguage",
                                           REG_DWORD, &rec_.languageChoice, sizeof(DWORD)));  // 1033
  regOptions.SetOptionDWORD(L"LangID", 1031);
  EXPECT_TRUE(larkon::InitApplication());
  EXPECT_EQ(0, rec_.languageAsks);
  EXPECT_EQ(1033, larkon::g_langModule.GetLanguage());
  EXPECT_EQ(L"Loading...", rec_.steps.back());
  EXPECT_EQ(1031u, StoredUILanguage());
}

TEST(StartupLibraries, EveryEagerLibraryIsThere) {
  // The real list against the real build folder: nothing the program binds
  // eagerly may be missing from a build.
  for (const wchar_t* name : larkon::kEagerLibraries) {
    HMODULE m = LoadLibraryW(name);
    EXPECT_NE(nullptr, m) << name;
    if (m) FreeLibrary(m);
  }
}

}  // namespace
