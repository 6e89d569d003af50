// Files of winsim: attributes, opening with a share mode, reading. CloseHandle is with the
// process handles.
#include <cstring>

#include "winsim/internal.h"

using namespace winsim;
using namespace winsim::detail;

namespace {

// The error Windows gives for a path that names nothing: the folder or the file is missing.
DWORD MissingError(const std::string& full) {
  std::string folder = full.substr(0, full.find_last_of('\\'));
  return folder.size() > 2 && !M().FindFile(folder) ? ERROR_PATH_NOT_FOUND : ERROR_FILE_NOT_FOUND;
}

}  // namespace

DWORD WINAPI GetFileAttributesA(LPCSTR lpFileName) {
  std::string name = lpFileName ? AnsiToUtf8(lpFileName) : "";
  if (Faulted("GetFileAttributesA", {{"lpFileName", name}})) return INVALID_FILE_ATTRIBUTES;
  std::string full = FullPath(name);
  const File* f = M().FindFile(full);
  if (!f) {
    SetError(MissingError(full));
    return INVALID_FILE_ATTRIBUTES;
  }
  return f->directory ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
}

HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                          LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                          DWORD dwFlagsAndAttributes, HANDLE hTemplateFile) {
  std::string name = lpFileName ? AnsiToUtf8(lpFileName) : "";
  if (Faulted("CreateFileA", {{"lpFileName", name},
                              {"dwDesiredAccess", dwDesiredAccess},
                              {"dwShareMode", dwShareMode},
                              {"lpSecurityAttributes", lpSecurityAttributes != nullptr},
                              {"dwCreationDisposition", dwCreationDisposition},
                              {"dwFlagsAndAttributes", dwFlagsAndAttributes},
                              {"hTemplateFile", hTemplateFile != nullptr}}))
    return INVALID_HANDLE_VALUE;
  // The programs only read existing files.
  if (dwCreationDisposition != OPEN_EXISTING || (dwDesiredAccess & ~DWORD(GENERIC_READ))) {
    Stop("CreateFileA other than opening an existing file for reading is not simulated");
  }
  std::string full = FullPath(name);
  const File* f = M().FindFile(full);
  if (!f) {
    SetError(MissingError(full));
    return INVALID_HANDLE_VALUE;
  }
  if (f->directory || f->readDenied) {
    SetError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  // Another program writes to it: an open that does not share writing is refused.
  if (f->heldForWrite && !(dwShareMode & FILE_SHARE_WRITE)) {
    SetError(ERROR_SHARING_VIOLATION);
    return INVALID_HANDLE_VALUE;
  }
  uintptr_t h = P().NewHandle();
  P().files[h] = OpenFile{f->path, 0};
  SetError(ERROR_SUCCESS);
  return HANDLE(h);
}

BOOL WINAPI ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead,
                     LPVOID lpOverlapped) {
  if (lpNumberOfBytesRead) *lpNumberOfBytesRead = 0;
  if (Faulted("ReadFile", {{"hFile", uintptr_t(hFile)}, {"nNumberOfBytesToRead", nNumberOfBytesToRead}})) return FALSE;
  auto it = P().files.find(uintptr_t(hFile));
  if (it == P().files.end() || lpOverlapped || !lpNumberOfBytesRead) {
    SetError(it == P().files.end() ? ERROR_INVALID_HANDLE : ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const File* f = M().FindFile(it->second.path);
  if (!f) {
    SetError(ERROR_FILE_NOT_FOUND);
    return FALSE;
  }
  size_t pos = std::min(it->second.position, f->data.size());
  size_t n = std::min<size_t>(nNumberOfBytesToRead, f->data.size() - pos);
  std::memcpy(lpBuffer, f->data.data() + pos, n);
  it->second.position = pos + n;
  *lpNumberOfBytesRead = DWORD(n);  // 0 at the end of the file, with success
  return TRUE;
}

// Each component that has an 8.3 alias is given by it, the others as they are; the path must
// name an existing file or folder.
DWORD WINAPI GetShortPathNameW(LPCWSTR lpszLongPath, LPWSTR lpszShortPath, DWORD cchBuffer) {
  std::string name = lpszLongPath ? Utf8(lpszLongPath) : "";
  if (Faulted("GetShortPathNameW", {{"lpszLongPath", name}, {"cchBuffer", cchBuffer}})) return 0;
  if (!lpszLongPath) {
    SetError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  Machine& m = M();
  std::string full = FullPath(name);
  if (!m.FindFile(full)) {
    SetError(MissingError(full));
    return 0;
  }
  // The given text keeps its form: drive, separators and a trailing "\" as they were.
  std::wstring out;
  size_t start = 0;
  std::string prefix = full.substr(0, 2);
  for (size_t i = 0; i <= name.size(); ++i) {
    if (i < name.size() && name[i] != '\\' && name[i] != '/') continue;
    std::string part = name.substr(start, i - start);
    std::string shortName;
    if (!part.empty() && part != "." && part != ".." && !(start == 0 && part.size() == 2 && part[1] == ':')) {
      prefix += "\\" + part;
      if (const File* f = m.FindFile(prefix)) shortName = f->shortName;
      // The folder's own name (as made) for the next component's lookup.
      if (const File* f = m.FindFile(prefix)) prefix = FullPathFrom("C:\\", f->path);
    }
    out += Wide(shortName.empty() ? part : shortName);
    if (i < name.size()) out += WCHAR(name[i]);
    start = i + 1;
  }
  if (cchBuffer <= out.size() || !lpszShortPath) return DWORD(out.size() + 1);
  std::memcpy(lpszShortPath, out.c_str(), (out.size() + 1) * sizeof(WCHAR));
  return DWORD(out.size());
}
