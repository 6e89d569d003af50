// The machine as JSON: the state file that host programs load and save.
#include <fstream>
#include <sstream>

#include "winsim/internal.h"

namespace winsim {

namespace {

// Byte strings (file contents, raw property data) travel as hexadecimal text.
std::string Hex(const std::string& bytes) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

std::string Unhex(const std::string& hex) {
  auto v = [](char c) { return c <= '9' ? c - '0' : c - 'a' + 10; };
  std::string out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) out += char(v(hex[i]) * 16 + v(hex[i + 1]));
  return out;
}

// The machine face keeps an unpaired surrogate of a name as its three bytes (NTFS names need not
// be UTF-16), which are no UTF-8 and which JSON text cannot carry: such a text travels in the
// state file as {"wtf8": its bytes in hexadecimal}.
void MakePortable(json& j) {
  if (j.is_string() && !detail::ValidUtf8(j.get_ref<const std::string&>()))
    j = json{{"wtf8", Hex(j.get<std::string>())}};
  else if (j.is_structured())
    for (auto& item : j.items()) MakePortable(item.value());
}

void Restore(json& j) {
  if (j.is_object() && j.size() == 1 && j.contains("wtf8") && j.at("wtf8").is_string())
    j = Unhex(j.at("wtf8").get<std::string>());
  else if (j.is_structured())
    for (auto& item : j.items()) Restore(item.value());
}

template <typename T>
void Get(const json& j, const char* key, T& out) {
  if (j.contains(key)) j.at(key).get_to(out);
}

}  // namespace

NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(Rule, fn, proc, nth, ok, error, reboot)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(Driver, description, infPath, hardwareIds)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(Module, name, exports, imports)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(CallRecord, proc, fn, args)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(MessageBoxRecord, proc, text, caption, owner, type, endedByQuit)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(ExitRecord, proc, exitCode, openHandles, openDeviceInfoSets, gdiObjects,
                                                gdiDoubleDeletes, dcsNotReleased, openDriverLists, heapLeaks, crashed)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(MessageRecord, proc, hwnd, msg, wParam, lParam, posted, fromSystem)

NLOHMANN_JSON_SERIALIZE_ENUM(UserAction::Kind, {{UserAction::Click, "click"},
                                                {UserAction::CloseBox, "closeBox"},
                                                {UserAction::SystemClose, "systemClose"},
                                                {UserAction::AltF4, "altF4"},
                                                {UserAction::EndTask, "endTask"},
                                                {UserAction::Resize, "resize"},
                                                {UserAction::SelectLine, "selectLine"},
                                                {UserAction::Snapshot, "snapshot"},
                                                {UserAction::OtherSends, "otherSends"},
                                                {UserAction::OtherPosts, "otherPosts"}})
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(UserAction, kind, text, width, height, line, whileBusy, inDialog,
                                                message, wParam, lParam, duringCall)

json RectJson(const RECT& r) { return json::array({r.left, r.top, r.right, r.bottom}); }

RECT RectFrom(const json& j) {
  RECT r{};
  if (j.is_array() && j.size() == 4) r = RECT{j[0].get<LONG>(), j[1].get<LONG>(), j[2].get<LONG>(), j[3].get<LONG>()};
  return r;
}

void to_json(json& j, const WindowSnapshot& s) {
  j = json{{"exists", s.exists},   {"className", s.className}, {"text", s.text},
           {"parent", s.parent},   {"owner", s.owner},         {"style", s.style},
           {"exStyle", s.exStyle}, {"window", RectJson(s.window)}, {"client", RectJson(s.client)},
           {"visible", s.visible}, {"enabled", s.enabled},     {"focused", s.focused},
           {"font", s.font},       {"items", s.items},         {"curSel", s.curSel},
           {"itemHeight", s.itemHeight}, {"children", s.children}};
}

void from_json(const json& j, WindowSnapshot& s) {
  Get(j, "exists", s.exists);
  Get(j, "className", s.className);
  Get(j, "text", s.text);
  Get(j, "parent", s.parent);
  Get(j, "owner", s.owner);
  Get(j, "style", s.style);
  Get(j, "exStyle", s.exStyle);
  if (j.contains("window")) s.window = RectFrom(j.at("window"));
  if (j.contains("client")) s.client = RectFrom(j.at("client"));
  Get(j, "visible", s.visible);
  Get(j, "enabled", s.enabled);
  Get(j, "focused", s.focused);
  Get(j, "font", s.font);
  Get(j, "items", s.items);
  Get(j, "curSel", s.curSel);
  Get(j, "itemHeight", s.itemHeight);
  Get(j, "children", s.children);
}

NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(SnapshotWindow, depth, window)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(SnapshotRecord, proc, label, windows)

void to_json(json& j, const File& f) {
  j = json{{"path", f.path}, {"directory", f.directory}, {"data", Hex(f.data)}, {"image", f.image},
           {"heldForWrite", f.heldForWrite}, {"readDenied", f.readDenied}, {"shortName", f.shortName}};
}

void from_json(const json& j, File& f) {
  Get(j, "path", f.path);
  Get(j, "directory", f.directory);
  f.data = Unhex(j.value("data", ""));
  Get(j, "image", f.image);
  Get(j, "heldForWrite", f.heldForWrite);
  Get(j, "readDenied", f.readDenied);
  Get(j, "shortName", f.shortName);
}

void to_json(json& j, const StoredInf& s) {
  j = json{{"publishedName", s.publishedName}, {"originalPath", s.originalPath}, {"data", Hex(s.data)},
           {"inbox", s.inbox}};
}

void from_json(const json& j, StoredInf& s) {
  Get(j, "publishedName", s.publishedName);
  Get(j, "originalPath", s.originalPath);
  s.data = Unhex(j.value("data", ""));
  Get(j, "inbox", s.inbox);
}

void to_json(json& j, const Device& d) {
  j = json{{"instanceId", d.instanceId},       {"hardwareIds", d.hardwareIds},
           {"hardwareIdType", d.hardwareIdType}, {"compatibleIds", d.compatibleIds},
           {"present", d.present},               {"configFlagsType", d.configFlagsType},
           {"drivers", d.drivers},               {"hardwareKey", d.hardwareKey},
           {"softwareKey", d.softwareKey},       {"driverInf", d.driverInf},
           {"devInst", d.devInst}};
  if (d.hardwareIdData) j["hardwareIdData"] = Hex(*d.hardwareIdData);
  if (d.configFlags) j["configFlags"] = *d.configFlags;
}

void from_json(const json& j, Device& d) {
  Get(j, "instanceId", d.instanceId);
  Get(j, "hardwareIds", d.hardwareIds);
  Get(j, "hardwareIdType", d.hardwareIdType);
  Get(j, "compatibleIds", d.compatibleIds);
  Get(j, "present", d.present);
  Get(j, "configFlagsType", d.configFlagsType);
  Get(j, "drivers", d.drivers);
  Get(j, "hardwareKey", d.hardwareKey);
  Get(j, "softwareKey", d.softwareKey);
  Get(j, "driverInf", d.driverInf);
  Get(j, "devInst", d.devInst);
  if (j.contains("hardwareIdData")) d.hardwareIdData = Unhex(j.at("hardwareIdData").get<std::string>());
  if (j.contains("configFlags")) d.configFlags = j.at("configFlags").get<DWORD>();
}

json Machine::ToJson() const {
  return json{{"majorVersion", majorVersion},
              {"minorVersion", minorVersion},
              {"buildNumber", buildNumber},
              {"productType", productType},
              {"serverR2", serverR2},
              {"nativeArchitecture", nativeArchitecture},
              {"ansiCodePage", ansiCodePage},
              {"modules", modules},
              {"currentDirectory", currentDirectory},
              {"systemDirectory", systemDirectory},
              {"programs", programs},
              {"installerLoads", installerLoads},
              {"files", files},
              {"devices", devices},
              {"driverStore", driverStore},
              {"nextDevInst", nextDevInst},
              {"nextOemNumber", nextOemNumber},
              {"rules", rules},
              {"callCounts", callCounts},
              {"ownedDialogs", ownedDialogs},
              {"calls", calls},
              {"debugLines", debugLines},
              {"messageBoxes", messageBoxes},
              {"beeps", beeps},
              {"exits", exits},
              {"stops", stops},
              {"messages", messages},
              {"script", script},
              {"snapshots", snapshots},
              {"missedActions", missedActions}};
}

Machine Machine::FromJson(const json& j) {
  Machine m;
  m.files.clear();
  Get(j, "majorVersion", m.majorVersion);
  Get(j, "minorVersion", m.minorVersion);
  Get(j, "buildNumber", m.buildNumber);
  Get(j, "productType", m.productType);
  Get(j, "serverR2", m.serverR2);
  Get(j, "nativeArchitecture", m.nativeArchitecture);
  Get(j, "ansiCodePage", m.ansiCodePage);
  Get(j, "modules", m.modules);
  Get(j, "currentDirectory", m.currentDirectory);
  Get(j, "systemDirectory", m.systemDirectory);
  Get(j, "programs", m.programs);
  Get(j, "installerLoads", m.installerLoads);
  Get(j, "files", m.files);
  Get(j, "devices", m.devices);
  Get(j, "driverStore", m.driverStore);
  Get(j, "nextDevInst", m.nextDevInst);
  Get(j, "nextOemNumber", m.nextOemNumber);
  Get(j, "rules", m.rules);
  Get(j, "callCounts", m.callCounts);
  Get(j, "ownedDialogs", m.ownedDialogs);
  Get(j, "calls", m.calls);
  Get(j, "debugLines", m.debugLines);
  Get(j, "messageBoxes", m.messageBoxes);
  Get(j, "beeps", m.beeps);
  Get(j, "exits", m.exits);
  Get(j, "stops", m.stops);
  Get(j, "messages", m.messages);
  Get(j, "script", m.script);
  Get(j, "snapshots", m.snapshots);
  Get(j, "missedActions", m.missedActions);
  return m;
}

void Machine::Save(const std::string& path) const {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  json j = ToJson();
  MakePortable(j);
  out << j.dump(1);
}

Machine Machine::Load(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  json j = json::parse(ss.str());
  Restore(j);
  return FromJson(j);
}

}  // namespace winsim
