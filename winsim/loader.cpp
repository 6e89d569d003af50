// The loader of winsim: the modules of the system, the KnownDLLs, and where a DLL and the DLLs
// that it imports are looked for under each way of loading it: the standard search with the
// program's folder first, SetDllDirectoryW, SetDefaultDllDirectories, and LoadLibraryExW with
// LOAD_WITH_ALTERED_SEARCH_PATH or the LOAD_LIBRARY_SEARCH flags. A file found before the
// system's module is someone else's code: loading it runs it, and winsim stops the program.
#include <algorithm>

#include "winsim/internal.h"

using namespace winsim;
using namespace winsim::detail;

namespace {

constexpr uintptr_t kModuleBase = 0x70000000;

// The flags of LoadLibraryExW and SetDefaultDllDirectories that choose the folders searched.
constexpr DWORD kSearchFlags = LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_APPLICATION_DIR |
                               LOAD_LIBRARY_SEARCH_USER_DIRS | LOAD_LIBRARY_SEARCH_SYSTEM32 |
                               LOAD_LIBRARY_SEARCH_DEFAULT_DIRS;

bool HasPath(const std::string& name) { return name.find_first_of("\\/:") != std::string::npos; }

// "C:\..." or "\\server\...": a path that names its file whatever the current directory.
bool FullyQualified(const std::string& path) {
  return (path.size() >= 3 && path[1] == ':' && (path[2] == '\\' || path[2] == '/')) || path.rfind("\\\\", 0) == 0;
}

std::string Folder(const std::string& fullPath) { return fullPath.substr(0, fullPath.find_last_of('\\')); }

bool SameFolder(const std::string& a, const std::string& b) {
  return SameText(FullPathFrom("C:\\", a), FullPathFrom("C:\\", b));
}

// Windows' KnownDLLs (of those the system here has): a bare name of one of them always loads the
// system's, whatever the search. Windows XP and Server 2003 have fewer: setupapi.dll is not one
// of theirs.
bool KnownDll(const std::string& name) {
  static const char* const known[] = {"kernel32.dll", "user32.dll", "gdi32.dll", "msvcrt.dll", "advapi32.dll",
                                      "ole32.dll",    "shell32.dll", "rpcrt4.dll", "ntdll.dll"};
  for (const char* k : known)
    if (SameText(name, k)) return true;
  return SameText(name, "setupapi.dll") && M().majorVersion >= 6;
}

// The system knows the LOAD_LIBRARY_SEARCH flags where its kernel32 has SetDefaultDllDirectories
// (Windows 8 on, Windows 7 and Vista with their update); elsewhere LoadLibraryExW refuses them.
bool SearchFlagsKnown() {
  const Module* kernel = M().FindModule("kernel32.dll");
  if (!kernel) return false;
  for (const std::string& e : kernel->exports)
    if (e == "SetDefaultDllDirectories") return true;
  return false;
}

[[noreturn]] void RunPlanted(const std::string& path) {
  Stop("loaded " + path + ", a DLL that is not the system's, and ran its code");
}

bool Loaded(const std::string& name) { return P().loadedModules.count(FoldUtf8(name)) != 0; }

// The folders of a search, in order; the system directory among them stands for the system's
// modules.
using Folders = std::vector<std::string>;

// The standard search, with `first` in the place of the program's folder (the DLL's own folder
// for LOAD_WITH_ALTERED_SEARCH_PATH): then the system directory and, unless SetDllDirectoryW("")
// took it out, the current directory. (The Windows folder and PATH are not simulated.)
Folders StandardSearch(const std::string& first) {
  Folders f{first, M().systemDirectory};
  if (!P().currentDirectoryOut) f.push_back(P().currentDirectory);
  return f;
}

// The folders of LOAD_LIBRARY_SEARCH flags, in Windows' order: the DLL's own folder (for its
// imports only), the program's folder, the folders added for the process (SetDllDirectoryW("")
// adds none; others are not simulated), the system directory.
Folders FlagSearch(DWORD flags, const std::string& dllFolder) {
  Folders f;
  if (flags & LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR) f.push_back(dllFolder);
  if (flags & (LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS))
    f.push_back(Folder(P().imagePath));
  if (flags & (LOAD_LIBRARY_SEARCH_SYSTEM32 | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS)) f.push_back(M().systemDirectory);
  return f;
}

// The process's search for a bare name: the folders SetDefaultDllDirectories set, else the
// standard search.
Folders ProcessSearch() {
  DWORD flags = P().defaultDllDirectories;
  return flags ? FlagSearch(flags, "") : StandardSearch(Folder(P().imagePath));
}

// Where a bare name leads: the system's module (true), a planted file (the process stops), or
// nothing (false). A module of that name already loaded and the KnownDLLs come first.
bool Find(const std::string& name, const Folders& search) {
  if (Loaded(name) || KnownDll(name)) return ModuleHandle(name) != nullptr;
  for (const std::string& folder : search) {
    if (SameFolder(folder, M().systemDirectory)) {
      if (ModuleHandle(name)) return true;
      continue;
    }
    const File* f = M().FindFile(folder + "\\" + name);
    if (f && !f->directory) RunPlanted(f->path);
  }
  return false;
}

// Loads the system's module `name` with the DLLs that it imports, and theirs, each looked for in
// `search`; when one is not found, none of them is loaded.
bool LoadWithImports(const std::string& name, const Folders& search) {
  std::vector<std::string> graph{FoldUtf8(name)};
  for (size_t i = 0; i < graph.size(); ++i) {
    const Module* mod = M().FindModule(graph[i]);
    if (!mod) continue;
    for (const std::string& import : mod->imports) {
      std::string key = FoldUtf8(import);
      if (Loaded(import) || std::find(graph.begin(), graph.end(), key) != graph.end()) continue;
      if (!Find(import, search)) return false;
      graph.push_back(key);
    }
  }
  P().loadedModules.insert(graph.begin(), graph.end());
  return true;
}

// The load of LoadLibraryW (flags 0) and LoadLibraryExW, once its arguments are taken.
HMODULE Load(const std::string& n, DWORD flags) {
  Machine& m = M();
  std::string base = BaseName(n);
  bool found;
  Folders imports;
  if (HasPath(n)) {
    std::string full = FullPath(n);
    found = SameFolder(Folder(full), m.systemDirectory) && ModuleHandle(base);
    if (const File* f = m.FindFile(full); !found && f && !f->directory) RunPlanted(f->path);
    if (flags & kSearchFlags) {
      imports = FlagSearch(flags, Folder(full));
    } else if (flags & LOAD_WITH_ALTERED_SEARCH_PATH) {
      // The DLL's folder in the place of the program's; where SetDefaultDllDirectories is in
      // force, its folders with the DLL's own folder first.
      DWORD byDefault = P().defaultDllDirectories;
      imports = byDefault ? FlagSearch(byDefault | LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR, Folder(full))
                          : StandardSearch(Folder(full));
    } else {
      imports = ProcessSearch();
    }
  } else {
    // A bare name: LOAD_WITH_ALTERED_SEARCH_PATH changes nothing then.
    imports = flags & kSearchFlags ? FlagSearch(flags, "") : ProcessSearch();
    found = Find(base, imports);
  }
  if (!found || !LoadWithImports(base, imports)) {
    SetError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  return ModuleHandle(base);
}

}  // namespace

namespace winsim::detail {

HMODULE ModuleHandle(const std::string& name) {
  Machine& m = M();
  for (size_t i = 0; i < m.modules.size(); ++i)
    if (SameText(m.modules[i].name, name)) return HMODULE(kModuleBase + 0x10000 * (i + 1));
  return nullptr;
}

const Module* ModuleOf(HMODULE h) {
  uintptr_t v = uintptr_t(h);
  if (v <= kModuleBase || (v - kModuleBase) % 0x10000) return nullptr;
  size_t i = (v - kModuleBase) / 0x10000 - 1;
  if (i >= M().modules.size()) return nullptr;
  const Module& mod = M().modules[i];
  return Loaded(mod.name) ? &mod : nullptr;
}

bool SystemLoadsByName(const std::string& name) {
  Folders search = ProcessSearch();
  return Find(name, search) && LoadWithImports(name, search);
}

}  // namespace winsim::detail

HMODULE WINAPI LoadLibraryW(LPCWSTR name) {
  std::string n = Utf8(name);
  if (Faulted("LoadLibraryW", {{"lpLibFileName", n}})) return nullptr;
  return Load(n, 0);
}

HMODULE WINAPI LoadLibraryExW(LPCWSTR name, HANDLE file, DWORD flags) {
  std::string n = Utf8(name);
  if (Faulted("LoadLibraryExW", {{"lpLibFileName", n}, {"dwFlags", flags}})) return nullptr;
  if (flags & ~(kSearchFlags | LOAD_WITH_ALTERED_SEARCH_PATH)) Stop("LoadLibraryExW with flags that are not simulated");
  // Refused: a reserved handle; search flags where the system knows none, or with the altered
  // search; the DLL's own folder without a full path to take it from.
  if (file || ((flags & kSearchFlags) && !SearchFlagsKnown()) ||
      ((flags & kSearchFlags) && (flags & LOAD_WITH_ALTERED_SEARCH_PATH)) ||
      ((flags & LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR) && !FullyQualified(n))) {
    SetError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  // Windows leaves it undefined.
  if ((flags & LOAD_WITH_ALTERED_SEARCH_PATH) && HasPath(n) && !FullyQualified(n))
    Stop("LoadLibraryExW with LOAD_WITH_ALTERED_SEARCH_PATH and a relative path");
  return Load(n, flags);
}

BOOL WINAPI SetDefaultDllDirectories(DWORD flags) {
  if (Faulted("SetDefaultDllDirectories", {{"DirectoryFlags", flags}})) return FALSE;
  const DWORD known = LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_USER_DIRS |
                      LOAD_LIBRARY_SEARCH_SYSTEM32 | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS;
  if (!flags || (flags & ~known)) {
    SetError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  P().defaultDllDirectories = flags;
  return TRUE;
}

// Only the empty text (the current directory out of the search) and null (the default again) are
// simulated.
BOOL WINAPI SetDllDirectoryW(LPCWSTR path) {
  if (Faulted("SetDllDirectoryW", {{"lpPathName", path ? json(Utf8(path)) : json(nullptr)}})) return FALSE;
  if (path && *path) Stop("SetDllDirectoryW with a folder is not simulated");
  P().currentDirectoryOut = path != nullptr;
  return TRUE;
}
