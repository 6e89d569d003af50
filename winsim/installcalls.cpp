// Driver packages on winsim: the newdev install calls, the copy into the driver store and its
// uninstall, and what a package installs on (read from the INF's model lines).
#include <algorithm>
#include <cstring>
#include <sstream>

#include "winsim/internal.h"

using namespace winsim;
using namespace winsim::detail;

namespace winsim {

namespace {

std::string Trim(const std::string& s) {
  size_t a = s.find_first_not_of(" \t\r\n"), b = s.find_last_not_of(" \t\r\n");
  return a == std::string::npos ? "" : s.substr(a, b - a + 1);
}

std::vector<std::string> SplitCommas(const std::string& s) {
  std::vector<std::string> out;
  std::stringstream ss(s);
  std::string item;
  while (std::getline(ss, item, ',')) out.push_back(Trim(item));
  return out;
}

}  // namespace

std::vector<ModelLine> InfModelLines(const std::string& infText) {
  // Sections with their lines, comments removed.
  std::map<std::string, std::vector<std::string>> sections;
  std::string section;
  std::stringstream in(infText);
  std::string line;
  while (std::getline(in, line)) {
    line = Trim(line.substr(0, line.find(';')));
    if (line.empty()) continue;
    if (line.front() == '[' && line.back() == ']') {
      section = FoldUtf8(Trim(line.substr(1, line.size() - 2)));
      continue;
    }
    sections[section].push_back(line);
  }
  auto strings = [&](std::string text) {
    if (text.size() > 2 && text.front() == '%' && text.back() == '%') {
      std::string key = FoldUtf8(text.substr(1, text.size() - 2));
      for (const std::string& l : sections[FoldUtf8("Strings")]) {
        size_t eq = l.find('=');
        if (eq != std::string::npos && FoldUtf8(Trim(l.substr(0, eq))) == key) text = Trim(l.substr(eq + 1));
      }
    }
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"') text = text.substr(1, text.size() - 2);
    return text;
  };
  std::vector<ModelLine> models;
  for (const std::string& l : sections[FoldUtf8("Manufacturer")]) {
    size_t eq = l.find('=');
    if (eq == std::string::npos) continue;
    std::vector<std::string> parts = SplitCommas(l.substr(eq + 1));
    std::vector<std::string> names{FoldUtf8(parts[0])};
    for (size_t i = 1; i < parts.size(); ++i) names.push_back(FoldUtf8(parts[0] + "." + parts[i]));
    for (const std::string& name : names) {
      for (const std::string& ml : sections[name]) {
        size_t e = ml.find('=');
        if (e == std::string::npos) continue;
        std::vector<std::string> fields = SplitCommas(ml.substr(e + 1));
        if (fields.size() > 1)
          models.push_back({strings(Trim(ml.substr(0, e))), std::vector<std::string>(fields.begin() + 1, fields.end())});
      }
    }
  }
  return models;
}

std::vector<std::pair<std::string, std::string>> InfModels(const std::string& infText) {
  std::vector<std::pair<std::string, std::string>> out;
  for (const ModelLine& line : InfModelLines(infText))
    for (const std::string& id : line.ids)
      if (!id.empty()) out.emplace_back(id, line.description);
  return out;
}

namespace detail {

// A package is listed once, by its first model line that names one of the device's hardware or
// compatible IDs; its entry carries that line's IDs, the line's own hardware ID first.
std::vector<Driver> CompatibleDrivers(const Device& d) {
  std::vector<Driver> out = d.drivers;
  for (const StoredInf& inf : M().driverStore) {
    for (const ModelLine& line : InfModelLines(inf.data)) {
      bool match = false;
      for (const std::string& id : line.ids) {
        for (const std::string& h : d.hardwareIds) match = match || (!id.empty() && SameText(h, id));
        for (const std::string& c : d.compatibleIds) match = match || (!id.empty() && SameText(c, id));
      }
      if (match) {
        out.push_back(Driver{line.description, "C:\\Windows\\INF\\" + inf.publishedName, line.ids});
        break;
      }
    }
  }
  return out;
}

}  // namespace detail
}  // namespace winsim

namespace {

// Adds the package to the driver store unless the same package is there; its published name.
std::string Stage(const std::string& fullPath, const std::string& data) {
  Machine& m = M();
  for (const StoredInf& s : m.driverStore)
    if (!s.inbox && s.data == data) return s.publishedName;
  StoredInf s;
  s.publishedName = "oem" + std::to_string(m.nextOemNumber++) + ".inf";
  s.originalPath = fullPath;
  s.data = data;
  m.driverStore.push_back(s);
  return s.publishedName;
}

// The present devices on which a package with these model IDs installs.
std::vector<Device*> Targets(const std::vector<std::string>& ids) {
  std::vector<Device*> out;
  for (Device& d : M().devices) {
    if (!d.present) continue;
    bool match = false;
    for (const std::string& h : d.hardwareIds)
      for (const std::string& id : ids) match = match || SameText(h, id);
    if (match) out.push_back(&d);
  }
  return out;
}

const File* InfFile(LPCSTR path) {
  if (!path) return nullptr;
  const File* f = M().FindFile(FullPath(AnsiToUtf8(path)));
  return f && !f->directory ? f : nullptr;
}

// Installs the package on the devices; ERROR_NO_MORE_ITEMS when each already runs it and the
// install is not forced.
DWORD InstallOn(const std::vector<Device*>& devices, const std::string& published, bool force) {
  bool changed = false;
  for (Device* d : devices) {
    if (d->driverInf == published && !force) continue;
    d->driverInf = published;
    changed = true;
  }
  return changed ? ERROR_SUCCESS : ERROR_NO_MORE_ITEMS;
}

// The dialog that an install call shows, owned by its window, when the machine says so: the owner
// takes no input while it shows; the dialog's loop runs the thread's messages and the user's
// actions for it, until the user closes it. A WM_QUIT ends the loop and stays queued.
void OwnedDialog(const char* fn, HWND owner) {
  const std::vector<std::string>& dialogs = M().ownedDialogs;
  if (!owner || !FindWindow(owner) || std::find(dialogs.begin(), dialogs.end(), fn) == dialogs.end()) return;
  bool wasDisabled = EnableTo(owner, false);
  while (!DispatchQueued() && TakeUserAction(false, true)) {
  }
  if (!wasDisabled) EnableTo(owner, true);
}

// A scripted answer of an install call; true when one applied.
bool Scripted(const Rule* r, PBOOL reboot, BOOL& result) {
  if (!r) return false;
  if (reboot) *reboot = r->reboot ? TRUE : FALSE;
  if (!r->ok) SetError(r->error);
  result = r->ok ? TRUE : FALSE;
  return true;
}

// The class and co-installers that the device installer loads by bare name, in the process's
// DLL search; one that is not found does not stop the install.
void LoadInstallers() {
  for (const std::string& name : M().installerLoads) SystemLoadsByName(name);
}

BOOL Done(DWORD error) {
  if (error == ERROR_SUCCESS) return TRUE;
  SetError(error);
  return FALSE;
}

BOOL WINAPI SimDiInstallDriverA(HWND hwndParent, LPCSTR InfPath, DWORD Flags, PBOOL NeedReboot) {
  const Rule* rule = Enter("DiInstallDriverA", {{"hwndParent", uintptr_t(hwndParent)},
                                                {"InfPath", InfPath ? json(AnsiToUtf8(InfPath)) : json(nullptr)},
                                                {"Flags", Flags},
                                                {"NeedReboot", NeedReboot != nullptr}});
  OwnedDialog("DiInstallDriverA", hwndParent);
  BOOL result;
  if (Scripted(rule, NeedReboot, result)) return result;
  if (Flags & ~DWORD(DIIRFLAG_FORCE_INF)) return Done(ERROR_INVALID_FLAGS);
  if (P().Wow64(M())) return Done(ERROR_IN_WOW64);
  LoadInstallers();
  const File* inf = InfFile(InfPath);
  if (!inf) return Done(ERROR_FILE_NOT_FOUND);
  std::vector<std::string> ids;
  for (const auto& model : InfModels(inf->data)) ids.push_back(model.first);
  std::vector<Device*> targets = Targets(ids);
  if (targets.empty()) return Done(ERROR_NO_SUCH_DEVINST);
  if (NeedReboot) *NeedReboot = FALSE;
  return Done(InstallOn(targets, Stage(FullPath(AnsiToUtf8(InfPath)), inf->data), Flags & DIIRFLAG_FORCE_INF));
}

}  // namespace

BOOL WINAPI UpdateDriverForPlugAndPlayDevicesA(HWND hwndParent, LPCSTR HardwareId, LPCSTR FullInfPath,
                                               DWORD InstallFlags, PBOOL bRebootRequired) {
  const Rule* rule = Enter("UpdateDriverForPlugAndPlayDevicesA",
                           {{"hwndParent", uintptr_t(hwndParent)},
                            {"HardwareId", HardwareId ? json(AnsiToUtf8(HardwareId)) : json(nullptr)},
                            {"FullInfPath", FullInfPath ? json(AnsiToUtf8(FullInfPath)) : json(nullptr)},
                            {"InstallFlags", InstallFlags},
                            {"bRebootRequired", bRebootRequired != nullptr}});
  OwnedDialog("UpdateDriverForPlugAndPlayDevicesA", hwndParent);
  BOOL result;
  if (Scripted(rule, bRebootRequired, result)) return result;
  if (InstallFlags & ~DWORD(INSTALLFLAG_FORCE | 0x2 | 0x4)) return Done(ERROR_INVALID_FLAGS);
  if (!HardwareId || !*HardwareId) return Done(ERROR_INVALID_PARAMETER);
  if (P().Wow64(M())) return Done(ERROR_IN_WOW64);
  LoadInstallers();
  const File* inf = InfFile(FullInfPath);
  if (!inf) return Done(ERROR_FILE_NOT_FOUND);
  std::vector<Device*> targets = Targets({AnsiToUtf8(HardwareId)});
  if (targets.empty()) return Done(ERROR_NO_SUCH_DEVINST);
  bool served = false;
  for (const auto& model : InfModels(inf->data)) served = served || SameText(model.first, AnsiToUtf8(HardwareId));
  if (!served) return Done(ERROR_NO_DRIVER_SELECTED);
  if (bRebootRequired) *bRebootRequired = FALSE;
  return Done(InstallOn(targets, Stage(FullPath(AnsiToUtf8(FullInfPath)), inf->data), InstallFlags & INSTALLFLAG_FORCE));
}

BOOL WINAPI SetupCopyOEMInfA(PCSTR SourceInfFileName, PCSTR OEMSourceMediaLocation, DWORD OEMSourceMediaType,
                             DWORD CopyStyle, PSTR DestinationInfFileName, DWORD DestinationInfFileNameSize,
                             PDWORD RequiredSize, PSTR* DestinationInfFileNameComponent) {
  if (Faulted("SetupCopyOEMInfA",
              {{"SourceInfFileName", SourceInfFileName ? json(AnsiToUtf8(SourceInfFileName)) : json(nullptr)},
               {"OEMSourceMediaLocation", OEMSourceMediaLocation ? json(AnsiToUtf8(OEMSourceMediaLocation)) : json(nullptr)},
               {"OEMSourceMediaType", OEMSourceMediaType},
               {"CopyStyle", CopyStyle},
               {"DestinationInfFileName", DestinationInfFileName != nullptr},
               {"DestinationInfFileNameSize", DestinationInfFileNameSize},
               {"RequiredSize", RequiredSize != nullptr},
               {"DestinationInfFileNameComponent", DestinationInfFileNameComponent != nullptr}}))
    return FALSE;
  if (OEMSourceMediaType != SPOST_NONE && OEMSourceMediaType != SPOST_PATH) return Done(ERROR_INVALID_PARAMETER);
  const File* inf = InfFile(SourceInfFileName);
  if (!inf) return Done(ERROR_FILE_NOT_FOUND);
  std::string dest = "C:\\Windows\\INF\\" + Stage(FullPath(AnsiToUtf8(SourceInfFileName)), inf->data);
  if (RequiredSize) *RequiredSize = DWORD(dest.size() + 1);
  if (DestinationInfFileName) {
    if (DestinationInfFileNameSize <= dest.size()) return Done(ERROR_INSUFFICIENT_BUFFER);
    std::memcpy(DestinationInfFileName, dest.c_str(), dest.size() + 1);
    if (DestinationInfFileNameComponent) *DestinationInfFileNameComponent = DestinationInfFileName + dest.rfind('\\') + 1;
  }
  return TRUE;
}

BOOL WINAPI SetupUninstallOEMInfA(PCSTR InfFileName, DWORD Flags, PVOID Reserved) {
  std::string name = InfFileName ? AnsiToUtf8(InfFileName) : "";
  if (Faulted("SetupUninstallOEMInfA", {{"InfFileName", name}, {"Flags", Flags}, {"Reserved", Reserved != nullptr}}))
    return FALSE;
  Machine& m = M();
  if (!InfFileName || Reserved || (Flags & ~DWORD(SUOI_FORCEDELETE)) || BaseName(name) != name)
    return Done(ERROR_INVALID_PARAMETER);
  for (size_t i = 0; i < m.driverStore.size(); ++i) {
    if (!SameText(m.driverStore[i].publishedName, name)) continue;
    if (m.driverStore[i].inbox) return Done(ERROR_ACCESS_DENIED);  // a package of Windows itself
    bool inUse = false;
    for (const Device& d : m.devices) inUse = inUse || SameText(d.driverInf, name);
    if (inUse && !(Flags & SUOI_FORCEDELETE)) return Done(0xE000023D);  // ERROR_INF_IN_USE_BY_DEVICES
    m.driverStore.erase(m.driverStore.begin() + long(i));
    return TRUE;
  }
  return Done(ERROR_FILE_NOT_FOUND);
}

namespace winsim::detail {

template <typename F>
static FARPROC Entry(F* f) {
  return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(f));
}

FARPROC EntryPoint(const std::string& name) {
  static const std::map<std::string, FARPROC> entries = {
      {"DiInstallDriverA", Entry(&SimDiInstallDriverA)},
      {"UpdateDriverForPlugAndPlayDevicesA", Entry(&UpdateDriverForPlugAndPlayDevicesA)},
      {"SetupCopyOEMInfA", Entry(&SetupCopyOEMInfA)},
      {"SetupUninstallOEMInfA", Entry(&SetupUninstallOEMInfA)},
      {"GetNativeSystemInfo", Entry(&GetNativeSystemInfo)},
      {"GetSystemInfo", Entry(&GetSystemInfo)},
      {"GetVersionExW", Entry(&GetVersionExW)},
      {"CM_Get_DevNode_Status", Entry(&CM_Get_DevNode_Status)},
      {"SetDefaultDllDirectories", Entry(&SetDefaultDllDirectories)},
      {"SetDllDirectoryW", Entry(&SetDllDirectoryW)},
  };
  auto it = entries.find(name);
  return it == entries.end() ? nullptr : it->second;
}

}  // namespace winsim::detail
