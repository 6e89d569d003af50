// winsim core: the current machine and process, the call record, scripted answers, text and paths
// (the ANSI code pages are in codepage.cpp).
#include <cstdio>
#include <cstdlib>

#include "winsim/internal.h"

namespace winsim {
namespace detail {

namespace {
Machine* g_machine = nullptr;
Process* g_process = nullptr;
}  // namespace

bool Active() { return g_machine != nullptr && g_process != nullptr; }
bool Attached() { return g_machine != nullptr; }

Machine& M() {
  if (!g_machine) {
    std::fprintf(stderr, "winsim: a Windows call was made with no simulated machine\n");
    std::abort();
  }
  return *g_machine;
}

Process& P() {
  if (!g_process) {
    std::fprintf(stderr, "winsim: a Windows call was made outside a simulated process\n");
    std::abort();
  }
  return *g_process;
}

void Attach(Machine* m, Process* p) {
  g_machine = m;
  g_process = p;
}

const Rule* Enter(const char* fn, json args) {
  Machine& m = M();
  Process& p = P();
  m.calls.push_back(CallRecord{p.program, fn, std::move(args)});
  int total = ++m.callCounts[fn];
  int mine = ++m.callCounts[std::string(fn) + "@" + p.program];
  if (!m.script.empty() && !m.script.front().duringCall.empty()) TakeCallActions(fn);
  for (const Rule& r : m.rules) {
    if (r.fn != fn) continue;
    if (!r.proc.empty() && r.proc != p.program) continue;
    int count = r.proc.empty() ? total : mine;
    if (r.nth == 0 || r.nth == count) return &r;
  }
  return nullptr;
}

bool Faulted(const char* fn, json args) {
  const Rule* r = Enter(fn, std::move(args));
  if (r && !r->ok) {
    SetError(r->error);
    return true;
  }
  return false;
}

void SetError(DWORD e) { P().lastError = e; }

WCHAR FoldCase(WCHAR c) {
  if (c >= L'a' && c <= L'z') return WCHAR(c - 0x20);
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return WCHAR(c - 0x20);
  switch (c) {
    case 0xFF: return 0x178;
    case 0x161: return 0x160;
    case 0x153: return 0x152;
    case 0x17E: return 0x17D;
    default: return c;
  }
}

static void PutUtf8(std::string& out, uint32_t c) {
  if (c < 0x80) {
    out += char(c);
  } else if (c < 0x800) {
    out += char(0xC0 | (c >> 6));
    out += char(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += char(0xE0 | (c >> 12));
    out += char(0x80 | ((c >> 6) & 0x3F));
    out += char(0x80 | (c & 0x3F));
  } else {
    out += char(0xF0 | (c >> 18));
    out += char(0x80 | ((c >> 12) & 0x3F));
    out += char(0x80 | ((c >> 6) & 0x3F));
    out += char(0x80 | (c & 0x3F));
  }
}

// A surrogate pair is the one character it stands for, as in a WCHAR above U+FFFF; an unpaired
// surrogate keeps its own three bytes, so that a name NTFS holds (which need not be UTF-16) is
// kept and compared as it is.
std::string Utf8(const WCHAR* s, int n) {
  std::string out;
  if (!s) return out;
  for (int i = 0; n < 0 ? s[i] != 0 : i < n; ++i) {
    uint32_t c = uint32_t(s[i]);
    uint32_t next = (n < 0 ? s[i + 1] != 0 : i + 1 < n) ? uint32_t(s[i + 1]) : 0;
    if (c >= 0xD800 && c <= 0xDBFF && next >= 0xDC00 && next <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (next - 0xDC00);
      ++i;
    }
    PutUtf8(out, c);
  }
  return out;
}

std::wstring Wide(const std::string& u) {
  std::wstring out;
  for (size_t i = 0; i < u.size();) {
    unsigned char c = u[i];
    uint32_t cp;
    int extra;
    if (c < 0x80) { cp = c; extra = 0; }
    else if ((c & 0xE0) == 0xC0) { cp = c & 0x1F; extra = 1; }
    else if ((c & 0xF0) == 0xE0) { cp = c & 0x0F; extra = 2; }
    else if ((c & 0xF8) == 0xF0) { cp = c & 0x07; extra = 3; }
    else { cp = 0xFFFD; extra = 0; }
    ++i;
    for (int k = 0; k < extra && i < u.size(); ++k, ++i) cp = (cp << 6) | (u[i] & 0x3F);
    out += WCHAR(cp);
  }
  return out;
}

std::string FoldUtf8(const std::string& utf8) {
  std::wstring w = Wide(utf8);
  for (WCHAR& c : w) c = FoldCase(c);
  return Utf8(w.c_str(), int(w.size()));
}

bool SameText(const std::string& a, const std::string& b) { return FoldUtf8(a) == FoldUtf8(b); }

// Resolves "." and ".." and unifies separators of a path that starts with "X:".
static std::string Normalize(const std::string& abs) {
  std::string drive = abs.substr(0, 2);
  std::vector<std::string> parts;
  std::string cur;
  auto flush = [&] {
    if (cur == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!cur.empty() && cur != ".") {
      parts.push_back(cur);
    }
    cur.clear();
  };
  for (size_t i = 2; i < abs.size(); ++i) {
    char c = abs[i] == '/' ? '\\' : abs[i];
    if (c == '\\') flush();
    else cur += c;
  }
  flush();
  std::string out = drive + "\\";
  for (size_t i = 0; i < parts.size(); ++i) out += (i ? "\\" : "") + parts[i];
  return out;
}

static bool HasDrive(const std::string& p) {
  return p.size() >= 2 && p[1] == ':' && ((p[0] >= 'A' && p[0] <= 'Z') || (p[0] >= 'a' && p[0] <= 'z'));
}

std::string FullPathFrom(const std::string& cwd, const std::string& path) {
  if (HasDrive(path)) return Normalize(path.size() == 2 ? path + "\\" : path);
  if (!path.empty() && (path[0] == '\\' || path[0] == '/')) return Normalize(cwd.substr(0, 2) + path);
  return Normalize(cwd + "\\" + path);
}

std::string FullPath(const std::string& path) { return FullPathFrom(P().currentDirectory, path); }

std::string BaseName(const std::string& path) {
  size_t k = path.find_last_of("\\/:");
  return k == std::string::npos ? path : path.substr(k + 1);
}

}  // namespace detail

using namespace detail;

// ---- Machine ----

Machine::Machine() {
  modules = {
      {"kernel32.dll",
       {"GetNativeSystemInfo", "GetSystemInfo", "GetVersionExW", "SetDefaultDllDirectories", "SetDllDirectoryW"}},
      {"user32.dll", {}},
      {"gdi32.dll", {}},
      {"comctl32.dll", {}},
      {"setupapi.dll", {"SetupCopyOEMInfA", "SetupUninstallOEMInfA"}},
      {"newdev.dll", {"UpdateDriverForPlugAndPlayDevicesA", "DiInstallDriverA"}, {"devobj.dll"}},
      {"cfgmgr32.dll", {"CM_Get_DevNode_Status"}, {"devobj.dll"}},
      // A stand-in for the DLLs of the device-installation services that are not KnownDLLs.
      {"devobj.dll", {}},
  };
  AddFolder("C:\\Windows");
  AddFolder(systemDirectory);
  AddFolder(currentDirectory);
}

bool Machine::Is64Bit() const {
  return nativeArchitecture == PROCESSOR_ARCHITECTURE_AMD64 || nativeArchitecture == PROCESSOR_ARCHITECTURE_IA64 ||
         nativeArchitecture == PROCESSOR_ARCHITECTURE_ARM64;
}

// Each component of the path names a file by its name or by its 8.3 alias; the names of the
// files found, in the case in which they were made.
static std::string LongPath(const std::vector<File>& files, const std::string& full) {
  std::string out = full.substr(0, 2);
  size_t start = 3;
  while (start <= full.size()) {
    size_t end = full.find('\\', start);
    std::string part = full.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (part.empty()) break;
    std::string next = out + "\\" + part;
    for (const File& f : files) {
      std::string fp = FullPathFrom("C:\\", f.path);
      if (fp.size() <= out.size() + 1 || !SameText(fp.substr(0, out.size()), out) ||
          fp.find('\\', out.size() + 1) != std::string::npos)
        continue;
      std::string name = fp.substr(out.size() + 1);
      if (SameText(name, part) || (!f.shortName.empty() && SameText(f.shortName, part))) {
        next = out + "\\" + name;
        break;
      }
    }
    out = next;
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return out.size() == 2 ? out + "\\" : out;
}

File* Machine::FindFile(const std::string& path) {
  std::string full = FullPathFrom("C:\\", path);
  bool alias = false;
  for (const File& f : files) alias = alias || !f.shortName.empty();
  std::string want = FoldUtf8(alias ? LongPath(files, full) : full);
  for (File& f : files)
    if (FoldUtf8(FullPathFrom("C:\\", f.path)) == want) return &f;
  return nullptr;
}

static File& PutFile(Machine& m, const std::string& path) {
  // Every folder above the file exists too.
  std::string full = FullPathFrom("C:\\", path);
  for (size_t k = full.find('\\', 3); k != std::string::npos; k = full.find('\\', k + 1)) {
    std::string dir = full.substr(0, k);
    if (!m.FindFile(dir)) {
      File d;
      d.path = dir;
      d.directory = true;
      m.files.push_back(d);
    }
  }
  if (File* f = m.FindFile(full)) return *f;
  File f;
  f.path = full;
  m.files.push_back(f);
  return m.files.back();
}

File& Machine::AddFile(const std::string& path, const std::string& data) {
  File& f = PutFile(*this, path);
  f.directory = false;
  f.data = data;
  return f;
}

File& Machine::AddFolder(const std::string& path) {
  File& f = PutFile(*this, path);
  f.directory = true;
  return f;
}

File& Machine::AddProgram(const std::string& path, const std::string& image) {
  File& f = AddFile(path, "MZ");
  f.image = image;
  return f;
}

Device& Machine::AddDevice(const std::string& instanceId, std::vector<std::string> hardwareIds, bool present) {
  Device d;
  d.instanceId = instanceId;
  d.hardwareIds = std::move(hardwareIds);
  d.present = present;
  d.configFlags = 0;
  d.devInst = nextDevInst++;
  devices.push_back(d);
  return devices.back();
}

StoredInf& Machine::AddStoredInf(const std::string& publishedName, const std::string& data, bool inbox) {
  StoredInf s;
  s.publishedName = publishedName;
  s.originalPath = "C:\\Windows\\INF\\" + publishedName;
  s.data = data;
  s.inbox = inbox;
  driverStore.push_back(s);
  return driverStore.back();
}

Module* Machine::FindModule(const std::string& name) {
  for (Module& mod : modules)
    if (SameText(mod.name, name)) return &mod;
  return nullptr;
}

void Machine::RemoveModule(const std::string& name) {
  std::erase_if(modules, [&](const Module& mod) { return SameText(mod.name, name); });
}

void Machine::RemoveExport(const std::string& module, const std::string& entry) {
  if (Module* mod = FindModule(module)) std::erase(mod->exports, entry);
}

void Machine::SetVersion(DWORD major, DWORD minor, BYTE product, int r2) {
  majorVersion = major;
  minorVersion = minor;
  productType = product;
  serverR2 = r2;
}

Rule& Machine::Fail(const std::string& fn, DWORD error, int nth, const std::string& proc) {
  Rule r;
  r.fn = fn;
  r.error = error;
  r.nth = nth;
  r.proc = proc;
  rules.push_back(r);
  return rules.back();
}

Rule& Machine::Answer(const std::string& fn, bool ok, DWORD error, bool reboot, int nth, const std::string& proc) {
  Rule& r = Fail(fn, error, nth, proc);
  r.ok = ok;
  r.reboot = reboot;
  return r;
}

Device* Machine::FindDevice(const std::string& instanceId) {
  for (Device& d : devices)
    if (SameText(d.instanceId, instanceId)) return &d;
  return nullptr;
}

const StoredInf* Machine::FindStoredInf(const std::string& publishedName) const {
  for (const StoredInf& s : driverStore)
    if (SameText(s.publishedName, publishedName)) return &s;
  return nullptr;
}

std::vector<CallRecord> Machine::Calls(const std::string& fn) const {
  std::vector<CallRecord> out;
  for (const CallRecord& c : calls)
    if (c.fn == fn) out.push_back(c);
  return out;
}

std::vector<std::string> Machine::CallNames() const {
  std::vector<std::string> out;
  for (const CallRecord& c : calls) out.push_back(c.fn);
  return out;
}

// ---- Session ----

namespace {
struct SessionState {
  Process process;
};
}  // namespace

static SessionState* g_session = nullptr;

Session::Session(Machine& m, const ProcessSpec& spec) {
  if (g_session) {
    std::fprintf(stderr, "winsim: one session at a time\n");
    std::abort();
  }
  g_session = new SessionState;
  SetUpProcess(m, spec, "");
}

Session::~Session() {
  Attach(nullptr, nullptr);
  delete g_session;
  g_session = nullptr;
}

int Session::OpenHandles() const { return int(P().processHandles.size() + P().files.size()); }
int Session::OpenDeviceInfoSets() const { return int(P().deviceInfoSets.size()); }

WindowSnapshot Session::Window(HWND window) const { return SnapshotOf(window); }

std::vector<HWND> Session::Windows() const {
  std::vector<HWND> out;
  for (const auto& [h, w] : P().windows) out.push_back(HWND(h));  // handles grow: creation order
  return out;
}

GdiBalance Session::Gdi() const { return CountGdi(P()); }

std::vector<FillRecord> Session::Fills() const { return P().fills; }

std::vector<FillRecord> Session::FillsOf(HDC dc) const {
  std::vector<FillRecord> out;
  for (const FillRecord& f : P().fills)
    if (f.dc == uint64_t(uintptr_t(dc))) out.push_back(f);
  return out;
}

void Session::ClearFills() { P().fills.clear(); }

std::vector<RECT> Session::RegionRects(HRGN region) const {
  auto it = P().gdi.find(uintptr_t(region));
  if (it == P().gdi.end() || it->second.kind != GdiKind::Region) return {};
  return it->second.rects;
}

std::vector<std::string> Session::ListBoxItems(HWND listBox) const {
  std::vector<std::string> out;
  auto it = P().windows.find(uintptr_t(listBox));
  if (it != P().windows.end())
    for (const std::wstring& s : it->second.items) out.push_back(Utf8(s.c_str()));
  return out;
}

namespace detail {

static Process g_ownProcess;  // the process of a host program or forked child

void SetUpProcess(Machine& m, const ProcessSpec& spec, const std::string& stateFile) {
  Process* p = g_session ? &g_session->process : &g_ownProcess;
  *p = Process();
  p->program = spec.program;
  p->bits = spec.bits;
  p->currentDirectory = FullPathFrom("C:\\", spec.currentDirectory.empty() ? m.currentDirectory : spec.currentDirectory);
  p->imagePath = FullPathFrom(p->currentDirectory, spec.imagePath.empty() ? spec.program + ".exe" : spec.imagePath);
  std::string cmd = spec.commandLine.empty() ? spec.program + ".exe" : spec.commandLine;
  p->commandLine = Wide(cmd);
  p->stateFile = stateFile;
  Attach(&m, p);
  // The modules of the program's import table are loaded with it (comctl32.dll side by side, as
  // the manifest names it); the others are found by the loader's search, the program's folder first.
  const bool install = spec.program != "quorvin";
  for (const char* mod : {"kernel32.dll", "setupapi.dll", "user32.dll", "gdi32.dll", "comctl32.dll"}) {
    if (!install && std::string(mod) != "kernel32.dll" && std::string(mod) != "setupapi.dll") continue;
    if (std::string(mod) != "comctl32.dll") SystemLoadsByName(mod);
    else if (m.FindModule(mod)) p->loadedModules.insert(mod);
  }
}

}  // namespace detail
}  // namespace winsim
