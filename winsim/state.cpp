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

template <typename T>
void Get(const json& j, const char* key, T& out) {
  if (j.contains(key)) j.at(key).get_to(out);
}

}  // namespace

NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(Rule, fn, proc, nth, ok, error, reboot)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(Driver, description, infPath, hardwareIds)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(Module, name, exports)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(CallRecord, proc, fn, args)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(MessageBoxRecord, proc, text, caption, owner, type)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(ExitRecord, proc, exitCode, openHandles, openDeviceInfoSets, gdiObjects,
                                                gdiDoubleDeletes, dcsNotReleased)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(MessageRecord, proc, hwnd, msg, wParam, lParam, posted, fromSystem)

void to_json(json& j, const File& f) {
  j = json{{"path", f.path}, {"directory", f.directory}, {"data", Hex(f.data)}, {"image", f.image},
           {"heldForWrite", f.heldForWrite}, {"readDenied", f.readDenied}};
}

void from_json(const json& j, File& f) {
  Get(j, "path", f.path);
  Get(j, "directory", f.directory);
  f.data = Unhex(j.value("data", ""));
  Get(j, "image", f.image);
  Get(j, "heldForWrite", f.heldForWrite);
  Get(j, "readDenied", f.readDenied);
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
              {"modules", modules},
              {"currentDirectory", currentDirectory},
              {"systemDirectory", systemDirectory},
              {"programs", programs},
              {"files", files},
              {"devices", devices},
              {"driverStore", driverStore},
              {"nextDevInst", nextDevInst},
              {"nextOemNumber", nextOemNumber},
              {"rules", rules},
              {"callCounts", callCounts},
              {"calls", calls},
              {"debugLines", debugLines},
              {"messageBoxes", messageBoxes},
              {"beeps", beeps},
              {"exits", exits},
              {"stops", stops},
              {"messages", messages}};
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
  Get(j, "modules", m.modules);
  Get(j, "currentDirectory", m.currentDirectory);
  Get(j, "systemDirectory", m.systemDirectory);
  Get(j, "programs", m.programs);
  Get(j, "files", m.files);
  Get(j, "devices", m.devices);
  Get(j, "driverStore", m.driverStore);
  Get(j, "nextDevInst", m.nextDevInst);
  Get(j, "nextOemNumber", m.nextOemNumber);
  Get(j, "rules", m.rules);
  Get(j, "callCounts", m.callCounts);
  Get(j, "calls", m.calls);
  Get(j, "debugLines", m.debugLines);
  Get(j, "messageBoxes", m.messageBoxes);
  Get(j, "beeps", m.beeps);
  Get(j, "exits", m.exits);
  Get(j, "stops", m.stops);
  Get(j, "messages", m.messages);
  return m;
}

void Machine::Save(const std::string& path) const {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << ToJson().dump(1);
}

Machine Machine::Load(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return FromJson(json::parse(ss.str()));
}

}  // namespace winsim
