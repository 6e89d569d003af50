// winsim's loader: where a DLL of the system directory that imports a DLL that is no KnownDLL
// (newdev.dll, which imports devobj.dll) finds that import under each way of loading it, as
// Windows documents for LoadLibraryExW and SetDefaultDllDirectories; and the KnownDLLs of each
// version of Windows, for the imports of the program itself.
#include <gtest/gtest.h>

#include "winsim/internal.h"
#include "winsim/machine.h"

using winsim::Machine;

namespace {

constexpr DWORD kAltered = LOAD_WITH_ALTERED_SEARCH_PATH;
constexpr DWORD kDllDir = LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR;
constexpr DWORD kAppDir = LOAD_LIBRARY_SEARCH_APPLICATION_DIR;
constexpr DWORD kSystem = LOAD_LIBRARY_SEARCH_SYSTEM32;
constexpr DWORD kDefaultDirs = LOAD_LIBRARY_SEARCH_DEFAULT_DIRS;

const char kNewdev[] = "C:\\Windows\\system32\\newdev.dll";

// What the process sets before the load.
enum class Search { Standard, NoCurrentDirectory, Default };
// How it loads.
enum class Call { LoadLibraryW, LoadLibraryExW };
// What comes of it: newdev.dll and the system's devobj.dll loaded; a planted file loaded (winsim
// stops the program); ERROR_MOD_NOT_FOUND; ERROR_INVALID_PARAMETER.
enum class Outcome { System, Planted, NotFound, Refused };

}  // namespace

TEST(WinsimLoader, ImportsOfASystemDllUnderEachWayOfLoading) {
  struct Row {
    const char* what;
    Search search;
    DWORD defaultFlags;  // Search::Default: the flags of SetDefaultDllDirectories
    Call call;
    DWORD flags;         // LoadLibraryExW
    const char* planted; // where devobj.dll lies besides the system: "program" (C:\Tools), "current"
                         // (C:\Work), "both"
    Outcome outcome;
    bool systemHasImport = true;  // the system directory has devobj.dll
    bool update = true;           // kernel32 has SetDefaultDllDirectories (the flags are known)
    const char* name = kNewdev;
    bool preloaded = false;       // devobj.dll was loaded before, with cfgmgr32.dll from the system
  } rows[] = {
      // The standard search: the program's folder first, then the system directory, then the
      // current directory. LoadLibraryW with a full path searches so for the imports.
      {"LoadLibraryW", Search::Standard, 0, Call::LoadLibraryW, 0, "program", Outcome::Planted},
      {"LoadLibraryW, import in the current directory", Search::Standard, 0, Call::LoadLibraryW, 0, "current",
       Outcome::System},
      {"LoadLibraryW after SetDllDirectoryW(\"\")", Search::NoCurrentDirectory, 0, Call::LoadLibraryW, 0, "program",
       Outcome::Planted},
      {"LoadLibraryW, import loaded before", Search::Standard, 0, Call::LoadLibraryW, 0, "program", Outcome::System,
       true, true, kNewdev, true},
      {"LoadLibraryW with SetDefaultDllDirectories(SYSTEM32)", Search::Default, kSystem, Call::LoadLibraryW, 0, "both",
       Outcome::System},
      {"LoadLibraryW with SetDefaultDllDirectories(SYSTEM32), import not in the system", Search::Default, kSystem,
       Call::LoadLibraryW, 0, "both", Outcome::NotFound, false},
      {"LoadLibraryW with SetDefaultDllDirectories(DEFAULT_DIRS)", Search::Default, kDefaultDirs, Call::LoadLibraryW,
       0, "program", Outcome::Planted},
      // LOAD_WITH_ALTERED_SEARCH_PATH: the DLL's own folder in the place of the program's.
      {"altered", Search::Standard, 0, Call::LoadLibraryExW, kAltered, "both", Outcome::System},
      {"altered, Windows XP", Search::Standard, 0, Call::LoadLibraryExW, kAltered, "both", Outcome::System, true,
       false},
      {"altered, import not in the system", Search::Standard, 0, Call::LoadLibraryExW, kAltered, "current",
       Outcome::Planted, false},
      {"altered, import not in the system, after SetDllDirectoryW(\"\")", Search::NoCurrentDirectory, 0,
       Call::LoadLibraryExW, kAltered, "both", Outcome::NotFound, false},
      {"altered with a bare name: the standard search", Search::Standard, 0, Call::LoadLibraryExW, kAltered,
       "program", Outcome::Planted, true, true, "newdev.dll"},
      // With SetDefaultDllDirectories in force its folders serve, the DLL's own folder first.
      {"altered with SetDefaultDllDirectories(SYSTEM32)", Search::Default, kSystem, Call::LoadLibraryExW, kAltered,
       "both", Outcome::System},
      {"altered with SetDefaultDllDirectories(SYSTEM32), import not in the system", Search::Default, kSystem,
       Call::LoadLibraryExW, kAltered, "current", Outcome::NotFound, false},
      // The LOAD_LIBRARY_SEARCH flags of the call, in place of the process's search.
      {"SYSTEM32", Search::Standard, 0, Call::LoadLibraryExW, kSystem, "both", Outcome::System},
      {"SYSTEM32, import not in the system", Search::Standard, 0, Call::LoadLibraryExW, kSystem, "both",
       Outcome::NotFound, false},
      {"SYSTEM32 after SetDllDirectoryW(\"\")", Search::NoCurrentDirectory, 0, Call::LoadLibraryExW, kSystem, "both",
       Outcome::System},
      {"DLL_LOAD_DIR", Search::Standard, 0, Call::LoadLibraryExW, kDllDir, "both", Outcome::System},
      {"DLL_LOAD_DIR, import not in the system", Search::Standard, 0, Call::LoadLibraryExW, kDllDir, "both",
       Outcome::NotFound, false},
      {"DLL_LOAD_DIR | SYSTEM32", Search::Standard, 0, Call::LoadLibraryExW, kDllDir | kSystem, "both",
       Outcome::System},
      {"DEFAULT_DIRS: the program's folder before the system directory", Search::Standard, 0, Call::LoadLibraryExW,
       kDefaultDirs, "program", Outcome::Planted},
      {"APPLICATION_DIR", Search::Standard, 0, Call::LoadLibraryExW, kAppDir, "program", Outcome::Planted},
      {"APPLICATION_DIR alone: no system directory", Search::Standard, 0, Call::LoadLibraryExW, kAppDir, "current",
       Outcome::NotFound},
      {"APPLICATION_DIR over SetDefaultDllDirectories(SYSTEM32)", Search::Default, kSystem, Call::LoadLibraryExW,
       kAppDir, "program", Outcome::Planted},
      {"SYSTEM32 over SetDefaultDllDirectories(DEFAULT_DIRS)", Search::Default, kDefaultDirs, Call::LoadLibraryExW,
       kSystem, "both", Outcome::System},
      // Refused.
      {"altered | SYSTEM32", Search::Standard, 0, Call::LoadLibraryExW, kAltered | kSystem, "both", Outcome::Refused},
      {"altered | DEFAULT_DIRS", Search::Default, kSystem, Call::LoadLibraryExW, kAltered | kDefaultDirs, "both",
       Outcome::Refused},
      {"SYSTEM32, Windows XP", Search::Standard, 0, Call::LoadLibraryExW, kSystem, "both", Outcome::Refused, true,
       false},
      {"DLL_LOAD_DIR, Windows XP", Search::Standard, 0, Call::LoadLibraryExW, kDllDir, "both", Outcome::Refused, true,
       false},
      {"DLL_LOAD_DIR with a bare name", Search::Standard, 0, Call::LoadLibraryExW, kDllDir, "both", Outcome::Refused,
       true, true, "newdev.dll"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    Machine m;
    if (!r.update) {
      m.SetVersion(5, 1);
      m.nativeArchitecture = PROCESSOR_ARCHITECTURE_INTEL;
      m.RemoveExport("kernel32.dll", "SetDefaultDllDirectories");
    }
    ASSERT_EQ(m.FindModule("newdev.dll")->imports, std::vector<std::string>{"devobj.dll"});
    if (!r.systemHasImport) m.RemoveModule("devobj.dll");
    m.AddFolder("C:\\Tools");
    m.AddFolder("C:\\Work");
    const std::string planted = r.planted;
    if (planted != "current") m.AddFile("C:\\Tools\\devobj.dll", "MZ planted");
    if (planted != "program") m.AddFile("C:\\Work\\devobj.dll", "MZ planted");
    winsim::ProcessSpec spec;
    spec.imagePath = "C:\\Tools\\install.exe";
    spec.currentDirectory = "C:\\Work";
    const std::wstring name = winsim::detail::Wide(r.name);
    winsim::ProcessResult res = winsim::RunProcess(m, spec, [&r, name] {
      if (r.search == Search::NoCurrentDirectory && !SetDllDirectoryW(L"")) ExitProcess(100);
      if (r.search == Search::Default && !SetDefaultDllDirectories(r.defaultFlags)) ExitProcess(101);
      if (r.preloaded && !LoadLibraryExW(L"C:\\Windows\\system32\\cfgmgr32.dll", nullptr, kSystem)) ExitProcess(102);
      SetLastError(0);
      HMODULE h = r.call == Call::LoadLibraryW ? LoadLibraryW(name.c_str()) : LoadLibraryExW(name.c_str(), nullptr, r.flags);
      if (!h) ExitProcess(GetLastError());
      // Loaded: newdev.dll and the system's devobj.dll.
      ExitProcess(h == GetModuleHandleW(L"newdev.dll") && GetModuleHandleW(L"devobj.dll") ? 0 : 103);
    });
    if (r.outcome == Outcome::Planted) {
      EXPECT_NE(res.stopped.find("devobj.dll, a DLL that is not the system's"), std::string::npos) << res.stopped;
      continue;
    }
    ASSERT_TRUE(res.stopped.empty()) << res.stopped;
    ASSERT_TRUE(res.exited);
    const DWORD expected = r.outcome == Outcome::System     ? 0u
                           : r.outcome == Outcome::NotFound ? DWORD(ERROR_MOD_NOT_FOUND)
                                                            : DWORD(ERROR_INVALID_PARAMETER);
    EXPECT_EQ(res.exitCode, expected);
  }
}

// A load that fails for an import leaves nothing of it loaded: not the DLL itself either.
TEST(WinsimLoader, AnImportNotFoundLoadsNothing) {
  Machine m;
  m.RemoveModule("devobj.dll");
  winsim::Session s(m);
  SetLastError(0);
  EXPECT_EQ(LoadLibraryExW(winsim::detail::Wide(kNewdev).c_str(), nullptr, kSystem), nullptr);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_MOD_NOT_FOUND));
  EXPECT_EQ(GetModuleHandleW(L"newdev.dll"), nullptr);
  EXPECT_EQ(LoadLibraryExW(L"C:\\Windows\\system32\\user32.dll", nullptr, kSystem), GetModuleHandleW(L"user32.dll"));
  // A reserved handle is refused.
  SetLastError(0);
  EXPECT_EQ(LoadLibraryExW(L"C:\\Windows\\system32\\user32.dll", HANDLE(4), 0), nullptr);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
}

// The loader takes the program's own imports at its start, before the program runs, by the
// standard search: a KnownDLL comes from the system whatever lies beside the program. Windows XP
// and Server 2003 have fewer KnownDLLs: setupapi.dll is not one of theirs, and a copy beside the
// program is loaded in its place. (newdev.dll and cfgmgr32.dll are KnownDLLs nowhere.)
TEST(WinsimLoader, KnownDllsOfTheVersion) {
  struct Row {
    const char* what;
    DWORD major, minor;
    const char* dll;
    bool planted;  // the copy beside the program is loaded
  } rows[] = {
      {"Windows XP, setupapi.dll", 5, 1, "setupapi.dll", true},
      {"Windows Server 2003, setupapi.dll", 5, 2, "setupapi.dll", true},
      {"Windows XP, user32.dll", 5, 1, "user32.dll", false},
      {"Windows XP, kernel32.dll", 5, 1, "kernel32.dll", false},
      {"Windows Vista, setupapi.dll", 6, 0, "setupapi.dll", false},
      {"Windows 7, setupapi.dll", 6, 1, "setupapi.dll", false},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    Machine m;
    m.SetVersion(r.major, r.minor);
    m.AddFile(std::string("C:\\Tools\\") + r.dll, "MZ planted");
    winsim::ProcessSpec spec;
    spec.imagePath = "C:\\Tools\\install.exe";
    winsim::ProcessResult res = winsim::RunProcess(m, spec, [] { ExitProcess(0); });
    EXPECT_EQ(res.stopped.find(std::string("C:\\Tools\\") + r.dll) != std::string::npos, r.planted) << res.stopped;
    EXPECT_EQ(res.exited, !r.planted);
  }
}
