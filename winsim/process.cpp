// Processes: how simulated programs end, the runners that tests use, the entry of host programs,
// and CreateProcessA with its handles, which starts a host program as a real child process.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "winsim/internal.h"

// Builds with AddressSanitizer carry LeakSanitizer: the end of a process looks for leaks itself.
#if defined(__SANITIZE_ADDRESS__)
#define WINSIM_LEAK_CHECK 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(leak_sanitizer)
#define WINSIM_LEAK_CHECK 1
#endif
#endif
#ifdef WINSIM_LEAK_CHECK
#include <sanitizer/lsan_interface.h>
#endif

namespace winsim {
namespace detail {

namespace {

// The Linux exit status that stands for a Windows exit code; the full code is in the state file.
int HostStatus(DWORD code) { return code <= 255 ? int(code) : 255; }

std::string TempStateFile() {
  char name[] = "/tmp/winsim-XXXXXX";
  int fd = mkstemp(name);
  if (fd < 0) {
    std::perror("winsim: mkstemp");
    std::abort();
  }
  close(fd);
  return name;
}

// How the process ended ("exit", "stop", "return"), beside its state file: the records alone
// cannot tell, since they hold those of the processes that it started too.
std::string OutcomeFile(const std::string& stateFile) { return stateFile + ".end"; }

void SaveIfOwned(const char* outcome) {
  const std::string& file = P().stateFile;
  if (file.empty()) return;
  M().Save(file);
  std::ofstream(OutcomeFile(file), std::ios::trunc) << outcome;
}

std::string TakeOutcome(const std::string& stateFile) {
  std::string outcome;
  std::ifstream(OutcomeFile(stateFile)) >> outcome;
  std::error_code ec;
  std::filesystem::remove(OutcomeFile(stateFile), ec);
  return outcome;
}

// The starter's record as it stands, for a child that starts now.
void MarkStart(const Machine& m, ChildProcess& child) {
  child.callsAtStart = m.calls.size();
  child.debugLinesAtStart = m.debugLines.size();
  child.messageBoxesAtStart = m.messageBoxes.size();
  child.beepsAtStart = m.beeps.size();
  child.messagesAtStart = m.messages.size();
  child.snapshotsAtStart = m.snapshots.size();
  child.missedActionsAtStart = m.missedActions.size();
  child.countsAtStart = m.callCounts;
}

template <typename T>
std::vector<T> Since(const std::vector<T>& v, size_t start) {
  return std::vector<T>(v.begin() + long(std::min(start, v.size())), v.end());
}

// Reads what a child process left in its state file and takes it as the machine, keeping what the
// starter recorded since the child started (after the child's record).
void Merge(Machine& m, ChildProcess& child, int status) {
  std::vector<CallRecord> calls = Since(m.calls, child.callsAtStart);
  std::vector<std::string> debugLines = Since(m.debugLines, child.debugLinesAtStart);
  std::vector<MessageBoxRecord> boxes = Since(m.messageBoxes, child.messageBoxesAtStart);
  std::vector<UINT> beeps = Since(m.beeps, child.beepsAtStart);
  std::vector<MessageRecord> messages = Since(m.messages, child.messagesAtStart);
  std::vector<SnapshotRecord> snapshots = Since(m.snapshots, child.snapshotsAtStart);
  std::vector<std::string> missed = Since(m.missedActions, child.missedActionsAtStart);
  std::vector<UserAction> script = m.script;
  std::map<std::string, int> counts;
  for (const auto& [fn, n] : m.callCounts) counts[fn] = n - child.countsAtStart[fn];
  size_t exitsBefore = m.exits.size();
  std::error_code ec;
  bool saved = std::filesystem::file_size(child.stateFile, ec) > 0 && !ec;
  if (saved) {
    m = Machine::Load(child.stateFile);
    m.calls.insert(m.calls.end(), calls.begin(), calls.end());
    m.debugLines.insert(m.debugLines.end(), debugLines.begin(), debugLines.end());
    m.messageBoxes.insert(m.messageBoxes.end(), boxes.begin(), boxes.end());
    m.beeps.insert(m.beeps.end(), beeps.begin(), beeps.end());
    m.messages.insert(m.messages.end(), messages.begin(), messages.end());
    m.snapshots.insert(m.snapshots.end(), snapshots.begin(), snapshots.end());
    m.missedActions.insert(m.missedActions.end(), missed.begin(), missed.end());
    // Both took actions from the front of the same script: what is left is the shorter rest.
    if (script.size() < m.script.size()) m.script = script;
    for (const auto& [fn, n] : counts) m.callCounts[fn] += n;
  }
  std::filesystem::remove(child.stateFile, ec);
  child.outcome = TakeOutcome(child.stateFile);
  child.ended = true;
  // Its own exit record is the last: it is made when the process ends.
  if (WIFSIGNALED(status)) child.exitCode = 0xC0000005;  // the program crashed
  else if (saved && child.outcome == "exit" && m.exits.size() > exitsBefore) child.exitCode = m.exits.back().exitCode;
  else child.exitCode = WIFEXITED(status) ? DWORD(WEXITSTATUS(status)) : 0xC0000005;
  // A started program that ended unseen (a signal, a sanitizer's report) leaves a record of it, as
  // its starter has no ProcessResult to tell.
  if (!child.program.empty() && (WIFSIGNALED(status) || child.outcome.empty())) {
    ExitRecord e;
    e.proc = child.program;
    e.exitCode = child.exitCode;
    e.crashed = true;
    m.exits.push_back(e);
  }
}

ProcessResult Collect(Machine& m, const std::string& stateFile, int pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  ProcessResult r;
  ChildProcess child;
  child.stateFile = stateFile;
  MarkStart(m, child);
  Merge(m, child, status);
  r.exitCode = child.exitCode;
  // Ended without winsim's knowing how: a signal, or a sanitizer's report.
  r.crashed = WIFSIGNALED(status) || child.outcome.empty();
  r.exited = !r.crashed && child.outcome == "exit";
  r.returned = !r.crashed && child.outcome == "return";
  if (!r.crashed && child.outcome == "stop" && !m.stops.empty()) r.stopped = m.stops.back();
  // A status other than the one that stands for the code: a sanitizer reported at exit.
  if (r.exited && WIFEXITED(status) && WEXITSTATUS(status) != HostStatus(r.exitCode)) r.crashed = true;
  return r;
}

std::vector<char*> Environment(const std::vector<std::string>& extra, std::vector<std::string>& store) {
  store.clear();
  for (char** e = environ; *e; ++e) {
    std::string s = *e;
    if (s.rfind("WINSIM_", 0) != 0) store.push_back(s);
  }
  for (const std::string& s : extra) store.push_back(s);
  std::vector<char*> out;
  for (std::string& s : store) out.push_back(s.data());
  out.push_back(nullptr);
  return out;
}

int Spawn(const std::string& exe, const std::string& stateFile, const ProcessSpec& spec) {
  std::vector<std::string> store;
  std::vector<char*> env = Environment({"WINSIM_STATE=" + stateFile, "WINSIM_CMDLINE=" + spec.commandLine,
                                        "WINSIM_CURDIR=" + spec.currentDirectory, "WINSIM_IMAGE=" + spec.imagePath},
                                       store);
  std::string argv0 = exe;
  char* argv[] = {argv0.data(), nullptr};
  std::fflush(nullptr);
  // vfork: the starter (a test process, large under the sanitizers) is not copied only to be
  // replaced; the child does nothing but exec.
  const char* path = exe.c_str();
  int pid = vfork();
  if (pid == 0) {
    execve(path, argv, env.data());
    static const char failed[] = "winsim: execve failed\n";
    if (write(2, failed, sizeof(failed) - 1) < 0) {
    }
    _exit(127);
  }
  return pid;
}

}  // namespace

void EndProcess(DWORD code) {
  Machine& m = M();
  Process& p = P();
  ExitRecord e;
  e.proc = p.program;
  e.exitCode = code;
  e.openHandles = int(p.processHandles.size() + p.files.size());
  e.openDeviceInfoSets = int(p.deviceInfoSets.size());
  GdiBalance gdi = CountGdi(p);
  e.gdiObjects = gdi.Alive();
  e.gdiDoubleDeletes = gdi.doubleDeletes + gdi.invalidDeletes;
  e.dcsNotReleased = gdi.dcsNotReleased;
  e.openDriverLists = p.driverListsLeft;
  for (const auto& [h, set] : p.deviceInfoSets) e.openDriverLists += int(set.driverLists.size());
#ifdef WINSIM_LEAK_CHECK
  // Now, while the globals (the machine, the window tables) still hold what they point to: the
  // sanitizer's own check at exit runs after their destructors.
  e.heapLeaks = __lsan_do_recoverable_leak_check() ? 1 : 0;
#endif
  m.exits.push_back(e);
  SaveIfOwned("exit");
  std::fflush(nullptr);
#ifdef WINSIM_LEAK_CHECK
  // A leak ends the process with another status than its exit code's (the sanitizer's 23), so
  // that the runner sees the report; the check at exit is not made a second time.
  int status = HostStatus(code);
  if (e.heapLeaks) status = status == 23 ? 24 : 23;
  _exit(status);
#else
  std::exit(HostStatus(code));
#endif
}

void Stop(const std::string& why) {
  std::fprintf(stderr, "winsim: %s stopped: %s\n", P().program.c_str(), why.c_str());
  M().stops.push_back(P().program + ": " + why);
  SaveIfOwned("stop");
  std::fflush(nullptr);
  _exit(70);
}

}  // namespace detail

using namespace detail;

ProcessResult RunProcess(Machine& m, const ProcessSpec& spec, const std::function<void()>& body) {
  std::string stateFile = TempStateFile();
  std::fflush(nullptr);
  int pid = fork();
  if (pid == 0) {
    SetUpProcess(m, spec, stateFile);
    body();
    SaveIfOwned("return");  // returned without ending the process
    std::fflush(nullptr);
    _exit(0);
  }
  return Collect(m, stateFile, pid);
}

ProcessResult RunProgram(Machine& m, const std::string& hostExecutable, const ProcessSpec& spec) {
  std::string stateFile = TempStateFile();
  m.Save(stateFile);
  int pid = Spawn(hostExecutable, stateFile, spec);
  return Collect(m, stateFile, pid);
}

void ProgramMain(const char* program, int bits, int argc, char** argv, void (*body)()) {
  const char* state = std::getenv("WINSIM_STATE");
  if (!state || !*state) {
    std::fprintf(stderr, "%s: the host build runs on a simulated machine; set WINSIM_STATE to its state file\n",
                 program);
    std::exit(2);
  }
  static Machine machine;
  machine = Machine::Load(state);
  ProcessSpec spec;
  spec.program = program;
  spec.bits = bits;
  if (const char* cmd = std::getenv("WINSIM_CMDLINE"); cmd && *cmd) {
    spec.commandLine = cmd;
  } else {
    spec.commandLine = std::string(program) + ".exe";
    for (int i = 1; i < argc; ++i) spec.commandLine += std::string(" ") + argv[i];
  }
  if (const char* dir = std::getenv("WINSIM_CURDIR")) spec.currentDirectory = dir;
  if (const char* image = std::getenv("WINSIM_IMAGE")) spec.imagePath = image;
  SetUpProcess(machine, spec, state);
  body();
  Stop("the program returned without ending its process");
}

}  // namespace winsim

using namespace winsim;
using namespace winsim::detail;

void WINAPI ExitProcess(UINT uExitCode) {
  Enter("ExitProcess", {{"uExitCode", uExitCode}});
  EndProcess(uExitCode);
}

BOOL WINAPI CreateProcessA(LPCSTR lpApplicationName, LPSTR lpCommandLine, LPSECURITY_ATTRIBUTES lpProcessAttributes,
                           LPSECURITY_ATTRIBUTES lpThreadAttributes, BOOL bInheritHandles, DWORD dwCreationFlags,
                           LPVOID lpEnvironment, LPCSTR lpCurrentDirectory, LPSTARTUPINFOA si,
                           LPPROCESS_INFORMATION pi) {
  json args = {{"lpApplicationName", lpApplicationName ? json(AnsiToUtf8(lpApplicationName)) : json(nullptr)},
               {"lpCommandLine", lpCommandLine ? json(AnsiToUtf8(lpCommandLine)) : json(nullptr)},
               {"lpProcessAttributes", lpProcessAttributes != nullptr},
               {"lpThreadAttributes", lpThreadAttributes != nullptr},
               {"bInheritHandles", bInheritHandles},
               {"dwCreationFlags", dwCreationFlags},
               {"lpEnvironment", lpEnvironment != nullptr},
               {"lpCurrentDirectory", lpCurrentDirectory ? json(AnsiToUtf8(lpCurrentDirectory)) : json(nullptr)}};
  if (si) {
    args["startupInfo"] = {{"cb", si->cb},
                           {"dwXSize", si->dwXSize},
                           {"dwYSize", si->dwYSize},
                           {"dwXCountChars", si->dwXCountChars},
                           {"dwYCountChars", si->dwYCountChars},
                           {"dwFlags", si->dwFlags},
                           {"others", si->lpReserved || si->lpDesktop || si->lpTitle || si->dwX || si->dwY ||
                                          si->dwFillAttribute || si->wShowWindow || si->cbReserved2 ||
                                          si->lpReserved2 || si->hStdInput || si->hStdOutput || si->hStdError}};
  }
  if (Faulted("CreateProcessA", args)) return FALSE;
  Machine& m = M();
  if (!lpApplicationName || !pi || !si || si->cb != sizeof(STARTUPINFOA)) {
    SetError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::string path = FullPath(AnsiToUtf8(lpApplicationName));
  std::string folder = path.substr(0, path.find_last_of('\\'));
  if (folder.size() > 2 && !m.FindFile(folder)) {
    SetError(ERROR_PATH_NOT_FOUND);
    return FALSE;
  }
  File* image = m.FindFile(path);
  if (!image || image->directory) {
    SetError(ERROR_FILE_NOT_FOUND);
    return FALSE;
  }
  if (image->image.empty()) {
    SetError(ERROR_BAD_EXE_FORMAT);
    return FALSE;
  }
  ProcessSpec spec;
  spec.imagePath = path;
  spec.program = image->image;
  spec.bits = image->image == "install" ? 32 : 64;
  if (spec.bits == 64 && !m.Is64Bit()) {  // a 64-bit program on 32-bit Windows
    SetError(ERROR_BAD_EXE_FORMAT);
    return FALSE;
  }
  spec.commandLine = lpCommandLine ? AnsiToUtf8(lpCommandLine) : "";
  spec.currentDirectory = P().currentDirectory;
  if (lpCurrentDirectory) {
    std::string dir = AnsiToUtf8(lpCurrentDirectory);
    File* d = dir.empty() ? nullptr : m.FindFile(FullPath(dir));
    if (!d || !d->directory) {
      SetError(ERROR_DIRECTORY);
      return FALSE;
    }
    spec.currentDirectory = FullPath(dir);
  }
  auto host = m.programs.find(image->image);
  if (host == m.programs.end()) Stop("no host build of program image \"" + image->image + "\" on this machine");

  auto child = std::make_shared<ChildProcess>();
  child->program = spec.program;
  child->stateFile = TempStateFile();
  m.Save(child->stateFile);
  child->pid = Spawn(host->second, child->stateFile, spec);
  child->handles = 2;
  MarkStart(m, *child);
  Process& p = P();
  uintptr_t hp = p.NewHandle(), ht = p.NewHandle();
  child->processHandle = hp;
  p.processHandles[hp] = child;
  p.processHandles[ht] = child;
  pi->hProcess = HANDLE(hp);
  pi->hThread = HANDLE(ht);
  pi->dwProcessId = DWORD(child->pid);
  pi->dwThreadId = DWORD(child->pid) + 1;
  return TRUE;
}

static void Reap(ChildProcess& child) {
  if (child.ended) return;
  int status = 0;
  waitpid(child.pid, &status, 0);
  Merge(M(), child, status);
}

DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
  if (Faulted("WaitForSingleObject", {{"hHandle", uintptr_t(hHandle)}, {"dwMilliseconds", dwMilliseconds}}))
    return WAIT_FAILED;
  auto it = P().processHandles.find(uintptr_t(hHandle));
  if (it == P().processHandles.end()) {
    SetError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
  }
  auto child = it->second;
  if (!child->ended) {
    if (dwMilliseconds != INFINITE) {
      int status = 0;
      if (waitpid(child->pid, &status, WNOHANG) == 0) return WAIT_TIMEOUT;
      Merge(M(), *child, status);
    } else {
      Reap(*child);
    }
  }
  return WAIT_OBJECT_0;
}

BOOL WINAPI GetExitCodeProcess(HANDLE hProcess, LPDWORD lpExitCode) {
  if (Faulted("GetExitCodeProcess", {{"hProcess", uintptr_t(hProcess)}})) return FALSE;
  auto it = P().processHandles.find(uintptr_t(hProcess));
  // A thread handle is no process handle.
  if (it == P().processHandles.end() || it->second->processHandle != it->first || !lpExitCode) {
    SetError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  *lpExitCode = it->second->ended ? it->second->exitCode : STILL_ACTIVE;
  return TRUE;
}

BOOL WINAPI CloseHandle(HANDLE hObject) {
  if (Faulted("CloseHandle", {{"hObject", uintptr_t(hObject)}})) return FALSE;
  Process& p = P();
  uintptr_t h = uintptr_t(hObject);
  if (auto it = p.processHandles.find(h); it != p.processHandles.end()) {
    auto child = it->second;
    p.processHandles.erase(it);
    // The last handle of a child that nobody waited for: collect it, so that no host process is left.
    if (--child->handles == 0) Reap(*child);
    return TRUE;
  }
  if (p.files.erase(h)) return TRUE;
  SetError(ERROR_INVALID_HANDLE);
  return FALSE;
}
