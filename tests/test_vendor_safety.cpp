// Vendor safety over random device trees. "/uninstall" must remove exactly the vendor's devices
// (instance ID beginning "USB\VID_7A3C&", any letter case) and attempt exactly the packages they
// name whose driver's own hardware ID is the vendor's, plus the two fixed ones; "/install" must mark exactly the absent USB devices that carry one
// of the INF's hardware IDs. Everything else on the machine stays as it was.
//
// The expectations come from a model of our own (ASCII case folding, whole-string ID comparison,
// the INF's marker lines read by a few lines of code here), never from the code under test.
// Machines come from fixed seeds; a failure prints its seed and the offending device.
// Replay one machine: VENDOR_SAFETY_SEED=<seed> unit_tests --gtest_filter='VendorSafety.<test>'
// Run more machines: VENDOR_SAFETY_MACHINES=<count>.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <map>
#include <set>
#include <sstream>

#include "driverinstall/DriverInstall.h"
#include "install/Install.h"
#include "support.h"

using winsim::Device;
using winsim::Machine;
using Texts = std::vector<std::string>;

namespace {

const std::string kPrefix = "USB\\VID_7A3C&";
const Texts kFixedNames = {"usbvelto.inf", "veltowinusb.inf"};

// ---- The model ----

char Up(char c) { return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c; }

std::string Upper(std::string s) {
  for (char& c : s) c = Up(c);
  return s;
}

bool SameAscii(const std::string& a, const std::string& b) { return Upper(a) == Upper(b); }

bool IsVendorDevice(const std::string& instanceId) {
  return instanceId.size() >= kPrefix.size() && SameAscii(instanceId.substr(0, kPrefix.size()), kPrefix);
}

// The enumerator is the instance ID's first component.
bool OfUsbEnumerator(const std::string& instanceId) {
  return SameAscii(instanceId.substr(0, instanceId.find('\\')), "USB");
}

bool CarriesAny(const Device& d, const Texts& ids) {
  for (const std::string& h : d.hardwareIds)
    for (const std::string& id : ids)
      if (SameAscii(h, id)) return true;
  return false;
}

// The hardware IDs of an INF: lines (LF-ended, CRs dropped, up to a Ctrl-Z) that begin with the
// marker byte for byte, less their first two characters.
Texts MarkerIds(const std::string& inf) {
  const std::string marker = ";@USB\\VID_7A3C&";
  Texts out;
  std::string line;
  auto endLine = [&] {
    if (line.size() >= marker.size() && line.compare(0, marker.size(), marker) == 0) out.push_back(line.substr(2));
    line.clear();
  };
  for (char c : inf) {
    if (c == '\x1a') break;
    if (c == '\r') continue;
    if (c == '\n')
      endLine();
    else
      line += c;
  }
  endLine();
  return out;
}

// The INF file name of a driver entry: the text after its last backslash or colon.
std::string BaseName(const std::string& path) {
  size_t k = path.find_last_of("\\:");
  return k == std::string::npos ? path : path.substr(k + 1);
}

// ---- Random machines ----

// splitmix64: the same numbers on every platform and standard library, so seeds replay anywhere.
class Rng {
 public:
  explicit Rng(uint64_t seed) : state_(seed) {}
  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  size_t Below(size_t n) { return n == 0 ? 0 : size_t(Next() % n); }
  bool Percent(unsigned p) { return Below(100) < p; }
  const std::string& Pick(const Texts& v) { return v[Below(v.size())]; }

 private:
  uint64_t state_;
};

std::string RandomCase(Rng& r, std::string s) {
  for (char& c : s) {
    if (r.Percent(50)) continue;
    if (c >= 'a' && c <= 'z')
      c = char(c - 'a' + 'A');
    else if (c >= 'A' && c <= 'Z')
      c = char(c - 'A' + 'a');
  }
  return s;
}

std::string Hex(uint64_t v, int digits) {
  static const char* d = "0123456789ABCDEF";
  std::string s;
  for (int i = digits - 1; i >= 0; --i) s += d[(v >> (4 * i)) & 0xF];
  return s;
}

const Texts kVendorHwIds = {"USB\\VID_7A3C&PID_0001", "USB\\VID_7A3C&PID_0002", "USB\\VID_7A3C&PID_0010&MI_00",
                            "USB\\VID_7A3C&PID_0003", "USB\\VID_7A3C&PID_0020"};
// Close to the INF's IDs: some equal ignoring case, most not equal as whole strings.
const Texts kLookAlikeHwIds = {
    "usb\\vid_7a3c&pid_0001",       "USB\\VID_7A3C&PID_0002&REV_0100", "USB\\VID_7A3C&PID_000",
    "USB\\VID_7A3C&PID_0001 ",      "USB\\VID_7A3C&PID_0010",          "USB\\VID_7A3C&PID_0010&MI_01",
    "USB\\Vid_7a3c&Pid_0010&Mi_00", "HID\\VID_7A3C&PID_0001",          "USB\\VID_7A3CD&PID_0001",
    "USB\\VID_07A3C&PID_0002",      "USB\\VID_7A3C&PID_00010",         "USB\\VID_7A3C&PID_0001&REV_0100"};
const Texts kOtherHwIds = {"USB\\VID_046D&PID_C52B",      "USB\\VID_0781&PID_5567&REV_0100", "USB\\ROOT_HUB30",
                           "USB\\VID_8087&PID_0026",      "USB\\VID_1234&PID_0001",          "USB\\VID_7A3D&PID_0001",
                           "HID\\VID_046D&PID_C52B&MI_00"};
const Texts kCompatIds = {"USB\\Class_FF&SubClass_00&Prot_00",
                          "USB\\Class_FF&SubClass_00",
                          "USB\\Class_FF",
                          "USB\\COMPOSITE",
                          "USB\\Class_03&SubClass_01",
                          "USB\\Class_09",
                          "HID_DEVICE",
                          "USB\\MS_COMP_WINUSB",
                          "USB\\Class_08"};

// A driver store entry as the generator made it, with the IDs of its models.
struct StoreEntry {
  std::string name;
  Texts ids;
  bool inbox = false;
  std::string what;
};

struct World {
  uint64_t seed = 0;
  Machine m;
  std::vector<StoreEntry> store;
  std::map<DWORD, std::string> what;  // device node -> the generator's kind of device
  std::set<std::string> usedIds;      // instance IDs upper-cased: none repeats in other case
  // Install worlds.
  std::string infText;
  std::string infWhat;
};

std::string InfText(const std::string& header, const Texts& ids) {
  std::string t =
      "; " + header + "\n[Version]\nSignature=\"$Windows NT$\"\n\n[Manufacturer]\nMaker=Models\n\n[Models]\n";
  for (size_t i = 0; i < ids.size(); ++i) t += "Device " + std::to_string(i) + "=Install," + ids[i] + "\n";
  return t;
}

Texts Subset(Rng& r, const Texts& pool, size_t atLeast) {
  Texts out;
  for (const std::string& s : pool)
    if (r.Percent(35)) out.push_back(s);
  while (out.size() < atLeast) out.push_back(r.Pick(pool));
  return out;
}

void AddStore(World& w, const std::string& name, Texts ids, bool inbox, const std::string& what) {
  w.m.AddStoredInf(name, InfText(what + " package " + name, ids), inbox);
  w.store.push_back({name, std::move(ids), inbox, what});
}

void GenerateStore(Rng& r, World& w) {
  const std::vector<std::pair<std::string, Texts>> inbox = {{"usb.inf", {"USB\\COMPOSITE", "USB\\Class_09"}},
                                                            {"winusb.inf", {"USB\\MS_COMP_WINUSB"}},
                                                            {"input.inf", {"HID_DEVICE", "USB\\Class_03&SubClass_01"}},
                                                            {"usbstor.inf", {"USB\\Class_08"}}};
  for (const auto& [name, ids] : inbox)
    if (r.Percent(60)) AddStore(w, name, ids, true, "inbox");
  std::set<size_t> numbers;
  auto oemName = [&] {
    size_t n;
    do n = r.Below(80);
    while (!numbers.insert(n).second);
    return "oem" + std::to_string(n) + ".inf";
  };
  for (size_t i = r.Below(4); i > 0; --i) {
    Texts ids = Subset(r, kVendorHwIds, 1);
    if (r.Percent(20)) ids.push_back("usb\\vid_7a3c&pid_0002");
    AddStore(w, oemName(), ids, false, "vendor");
  }
  for (size_t i = r.Below(5); i > 0; --i) {
    Texts ids = Subset(r, kOtherHwIds, 1);
    if (r.Percent(25)) ids.push_back("USB\\Class_FF");  // another maker's class driver
    if (r.Percent(10)) ids.push_back("USB\\VID_7A3CD&PID_0001");
    if (r.Percent(10)) ids.push_back("USB\\VID_07A3C&PID_0002");
    AddStore(w, oemName(), ids, false, "other vendor");
  }
  if (r.Percent(5)) AddStore(w, "usbvelto.inf", {"USB\\VID_7A3C&PID_0001"}, false, "vendor (fixed name)");
  if (r.Percent(5)) AddStore(w, "veltowinusb.inf", {"USB\\VID_7A3C&PID_0002"}, false, "vendor (fixed name)");
  // Packages staged by the run get names of their own.
  w.m.nextOemNumber = 100;
}

std::string Serial(Rng& r, int n) {
  switch (r.Below(4)) {
    case 0:
      return "5&" + Hex(r.Next(), 7) + "&0&" + std::to_string(n);
    case 1:
      return "SN" + Hex(r.Next(), 10) + "_" + std::to_string(n);
    case 2:
      return "6&" + Hex(r.Next(), 8) + "&1&" + std::to_string(n) + "\xc3\xa9";  // "é"
    default:
      return std::to_string(n);
  }
}

struct Kind {
  const char* what;
  int weight;
};

// The kinds of instance ID, by weight.
const Kind kKinds[] = {
    {"vendor", 14},
    {"vendor, other letter case", 10},
    {"vendor, the prefix and little else", 2},
    {"vendor, 199 characters", 2},
    {"near miss: VID_7A3CD&", 4},
    {"near miss: VID_7A3C without &", 4},
    {"near miss: HID enumerator", 4},
    {"near miss: VID_07A3C&", 4},
    {"near miss: prefix not at the start", 4},
    {"near miss: other", 4},
    {"other vendor", 12},
    {"other enumerator", 6},
};

// Picks a kind and makes an instance ID of it, unique ignoring case.
std::pair<std::string, std::string> NewInstanceId(Rng& r, World& w, int n) {
  int total = 0;
  for (const Kind& k : kKinds) total += k.weight;
  int pick = int(r.Below(size_t(total)));
  size_t kind = 0;
  while (pick >= kKinds[kind].weight) pick -= kKinds[kind++].weight;
  const Texts pids = {"0001", "0002", "0010&MI_00", "0003", "0020", "0001&MI_01"};
  std::string s = Serial(r, n), id;
  // A bare form is used once per machine; later ones carry a serial.
  auto bare = [&](const std::string& b) { return w.usedIds.count(Upper(b)) ? b + "\\" + s : b; };
  switch (kind) {
    case 0:
      id = kPrefix + "PID_" + r.Pick(pids) + "\\" + s;
      break;
    case 1:
      id = RandomCase(r, kPrefix + "PID_" + r.Pick(pids) + "\\" + s);
      break;
    case 2:
      id = bare(RandomCase(r, kPrefix));
      break;
    case 3:
      id = RandomCase(r, kPrefix + "PID_0001\\") + std::to_string(n) + "_";
      id += std::string(199 - id.size(), 'X');
      break;
    case 4:
      id = RandomCase(r, "USB\\VID_7A3CD&PID_0001\\") + s;
      break;
    case 5: {
      const Texts forms = {"USB\\VID_7A3C\\", "USB\\VID_7A3C_PID_0001\\", "USB\\VID_7A3C#PID_0001\\",
                           "USB\\VID_7A3C PID_0001\\", "USB\\VID_7A3C\\PID_0001&"};
      id = r.Percent(20) ? bare(RandomCase(r, "USB\\VID_7A3C")) : RandomCase(r, r.Pick(forms)) + s;
      break;
    }
    case 6:
      id = RandomCase(r, "HID\\VID_7A3C&PID_" + r.Pick(pids) + "\\") + s;
      break;
    case 7:
      id = RandomCase(r, "USB\\VID_07A3C&PID_0001\\") + s;
      break;
    case 8: {
      const Texts forms = {"USB\\VID_1234&PID_0001\\USB\\VID_7A3C&",
                           " USB\\VID_7A3C&PID_0001\\",
                           "XUSB\\VID_7A3C&PID_0001\\",
                           "USB\\USB\\VID_7A3C&",
                           "ROOT\\USB\\VID_7A3C&PID_0001\\",
                           "USB\\ROOT_HUB\\VID_7A3C&",
                           "USB\\VID_1234&PID_7A3C&USB\\VID_7A3C&\\"};
      id = r.Pick(forms) + s;
      break;
    }
    case 9: {
      const Texts forms = {"USB\\VID_7A3B&PID_0001\\",
                           "USB\\VID_7A3D&PID_0001\\",
                           "USB\\PID_7A3C&VID_0001\\",
                           "USB\\VID-7A3C&PID_0001\\",
                           "USB/VID_7A3C&PID_0001\\",
                           "USB\\V\xc3\x8d"
                           "D_7A3C&PID_0001\\",
                           "USB\\VID_7A3\xc3\x87&PID_0001\\",
                           "USB\\\\VID_7A3C&PID_0001\\",
                           "USB\\VID_7A3&PID_0001\\",
                           "USB\\VID_7A3C\xc2\xa0&PID_0001\\"};
      id = r.Pick(forms) + s;
      break;
    }
    case 10: {
      const Texts forms = {"USB\\VID_046D&PID_C52B\\", "USB\\VID_0781&PID_5567\\", "USB\\ROOT_HUB30\\",
                           "USB\\VID_8087&PID_0026\\", "USB\\VID_1234&PID_0001\\", "USB\\VID_7A3D&PID_0002\\"};
      id = RandomCase(r, r.Pick(forms)) + s;
      break;
    }
    default: {
      const Texts forms = {"PCI\\VEN_8086&DEV_A36D&SUBSYS_00000000&REV_10\\", "ROOT\\SYSTEM\\",
                           "HID\\VID_046D&PID_C52B&MI_00\\", "USBSTOR\\DISK&VEN_SANDISK&PROD_ULTRA\\",
                           "SWD\\MMDEVAPI\\"};
      id = r.Pick(forms) + s;
      break;
    }
  }
  w.usedIds.insert(Upper(id));
  return {kKinds[kind].what, id};
}

// The hardware IDs of a device: what its instance ID suggests, sometimes with the INF's or
// look-alike IDs added, sometimes none at all.
Texts NewHardwareIds(Rng& r, const std::string& instanceId) {
  if (r.Percent(8)) return {};
  Texts ids;
  size_t first = instanceId.find('\\');
  size_t second = first == std::string::npos ? std::string::npos : instanceId.find('\\', first + 1);
  std::string device = instanceId.substr(0, second);
  if (IsVendorDevice(instanceId) && r.Percent(30)) device = r.Pick(kVendorHwIds);
  ids = {device + "&REV_0100", device};
  if (r.Percent(20)) ids.push_back(r.Pick(kVendorHwIds));
  if (r.Percent(15)) ids.push_back(r.Pick(kLookAlikeHwIds));
  if (r.Percent(5)) ids.push_back(r.Pick(kOtherHwIds));
  if (r.Percent(10))
    for (std::string& id : ids) id = RandomCase(r, id);
  return ids;
}

std::vector<winsim::Driver> NewDrivers(Rng& r, const World& w, const Device& d) {
  std::vector<winsim::Driver> out;
  size_t roll = r.Below(100), count = roll < 50 ? 0 : roll < 75 ? 1 : roll < 90 ? 2 : 3;
  const Texts extraNames = {"oem77.inf",  "usbvelto.inf",    "veltowinusb.inf", "usb.inf",
                            "winusb.inf", "caf\xc3\xa9.inf", "OEM3.INF",        "weird name.inf"};
  const Texts descriptions = {"VELTO Data Logger", "USB Composite Device", "WinUsb Device", "", std::string(300, 'D')};
  for (size_t i = 0; i < count; ++i) {
    std::string name = !w.store.empty() && r.Percent(60) ? w.store[r.Below(w.store.size())].name : r.Pick(extraNames);
    if (r.Percent(15)) name = RandomCase(r, name);
    std::string path;
    switch (r.Below(6)) {
      case 0:
        path = "C:\\Windows\\INF\\" + name;
        break;
      case 1:
        path = "C:\\WINDOWS\\inf\\" + name;
        break;
      case 2:
        path = name;
        break;
      case 3:
        path = "C:" + name;
        break;
      case 4:
        path = "D:\\Drivers\\Velto\\" + name;
        break;
      default:
        path = "\\\\server\\share\\drivers\\" + name;
        break;
    }
    winsim::Driver drv{r.Pick(descriptions), path, {}};
    drv.hardwareIds = {d.hardwareIds.empty() ? "USB\\Class_FF" : d.hardwareIds.back()};
    // A detail record larger than the first buffer.
    if (r.Percent(15))
      for (int k = 0; k < 40; ++k) drv.hardwareIds.push_back("USB\\VID_7A3C&PID_" + Hex(uint64_t(k), 4) + "&REV_0100");
    out.push_back(drv);
  }
  return out;
}

void GenerateDevices(Rng& r, World& w) {
  const Texts storeNames = [&] {
    Texts t;
    for (const StoreEntry& e : w.store) t.push_back(e.name);
    return t;
  }();
  size_t count = r.Below(25);
  for (size_t n = 0; n < count; ++n) {
    auto [what, instanceId] = NewInstanceId(r, w, int(n));
    Device& d = w.m.AddDevice(instanceId, NewHardwareIds(r, instanceId), r.Percent(50));
    for (size_t k = r.Below(4); k > 0; --k) d.compatibleIds.push_back(r.Pick(kCompatIds));
    switch (r.Below(8)) {
      case 0:
        d.configFlags.reset();
        break;  // unreadable
      case 1:
        d.configFlags = 0x24;
        d.configFlagsType = REG_BINARY;
        break;  // not a DWORD
      default: {
        const std::vector<DWORD> values = {0, 0, 0x4, 0x20, 0x24, 0x400, 0x1, 0x2000};
        d.configFlags = values[r.Below(values.size())];
      }
    }
    d.hardwareKey = r.Percent(85);
    d.softwareKey = r.Percent(85);
    if (!storeNames.empty() && r.Percent(30)) d.driverInf = r.Pick(storeNames);
    d.drivers = NewDrivers(r, w, d);
    w.what[d.devInst] = what;
  }
}

// The package of an install world: the sample, or one made of marker lines chosen at random,
// some of which the reader must not take.
void GenerateInf(Rng& r, World& w) {
  if (r.Percent(50)) {
    w.infText = test::SampleInf();
    w.infWhat = "the sample INF";
    return;
  }
  const Texts taken = {"USB\\VID_7A3C&PID_0001", "USB\\VID_7A3C&PID_0002",
                       "USB\\VID_7A3C&PID_0003", "USB\\VID_7A3C&PID_0010&MI_00",
                       "USB\\VID_7A3C&PID_0020", "USB\\VID_7A3C&PID_0001&REV_0100",
                       "USB\\VID_7A3C&"};
  const Texts notTaken = {";@usb\\vid_7a3c&pid_0002",  " ;@USB\\VID_7A3C&PID_0001", "\t;@USB\\VID_7A3C&PID_0003",
                          ";@USB\\VID_7A3CD&PID_0001", ";@USB\\VID_07A3C&PID_0002", ";@USB\\VID_7A3C",
                          "; @USB\\VID_7A3C&PID_0001", ";@HID\\VID_7A3C&PID_0001"};
  std::string eol = r.Percent(50) ? "\r\n" : "\n";
  std::string text = "; generated package" + eol;
  Texts models;
  for (size_t i = r.Below(6); i > 0; --i) {
    if (r.Percent(75)) {
      std::string id = r.Pick(taken);
      models.push_back(id);
      if (r.Percent(10)) id += " ";
      if (r.Percent(10)) id += "\t; note";
      text += ";@" + id + eol;
    } else {
      text += r.Pick(notTaken) + eol;
    }
  }
  text += InfText("models", models);
  // Ctrl-Z ends the text: nothing after it is read, also not the rest of its own line.
  if (r.Percent(10)) text += std::string("\x1a") + eol + ";@USB\\VID_7A3C&PID_0020" + eol;
  if (r.Percent(5))
    text +=
        ";@USB\\VID_7A3C&PID_00\x1a"
        "20" +
        eol + ";@USB\\VID_7A3C&PID_0003" + eol;
  w.infText = text;
  w.infWhat = "a generated INF";
}

// ---- Readable descriptions ----

std::string Printable(const std::string& s) {
  std::string out;
  for (unsigned char c : s) {
    if (c >= 0x20 && c < 0x7f) {
      out += char(c);
    } else {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", c);
      out += buf;
    }
  }
  return out;
}

std::string List(const Texts& t) {
  std::string out = "[";
  for (size_t i = 0; i < t.size(); ++i) out += (i ? ", \"" : "\"") + Printable(t[i]) + "\"";
  return out + "]";
}

std::string Flags(const Device& d) {
  if (!d.configFlags) return "unreadable";
  std::string s = "0x" + Hex(*d.configFlags, 8);
  if (d.configFlagsType != REG_DWORD) s += " (type " + std::to_string(d.configFlagsType) + ")";
  return s;
}

// Every field of the device record; `full` keeps long driver descriptions whole, for comparing.
std::string Describe(const Device& d, bool full = false) {
  std::ostringstream o;
  o << "\"" << Printable(d.instanceId) << "\" (node " << d.devInst << ", " << (d.present ? "present" : "absent")
    << ")\n      hardware IDs " << List(d.hardwareIds);
  if (d.hardwareIdData) o << " raw \"" << Printable(*d.hardwareIdData) << "\"";
  o << " type " << d.hardwareIdType << "; compatible IDs " << List(d.compatibleIds) << "\n      config flags "
    << Flags(d) << "; keys: hardware " << (d.hardwareKey ? "yes" : "no") << ", software "
    << (d.softwareKey ? "yes" : "no") << "; driver INF \"" << Printable(d.driverInf) << "\"";
  for (const winsim::Driver& drv : d.drivers)
    o << "\n      driver \"" << Printable(full ? drv.description : drv.description.substr(0, 40))
      << (!full && drv.description.size() > 40 ? "..." : "") << "\" at \"" << Printable(drv.infPath) << "\" IDs "
      << List(drv.hardwareIds);
  return o.str();
}

std::string DescribeMachine(const World& w, const std::vector<Device>& devices) {
  std::ostringstream o;
  o << "  driver store:\n";
  for (const StoreEntry& e : w.store)
    o << "    " << e.name << " (" << e.what << (e.inbox ? ", inbox" : "") << ") models " << List(e.ids) << "\n";
  o << "  devices:\n";
  for (const Device& d : devices) o << "    [" << w.what.at(d.devInst) << "] " << Describe(d) << "\n";
  return o.str();
}

// ---- Running and checking ----

std::vector<uint64_t> Seeds(uint64_t first, size_t count) {
  if (const char* one = std::getenv("VENDOR_SAFETY_SEED")) return {std::strtoull(one, nullptr, 0)};
  if (const char* n = std::getenv("VENDOR_SAFETY_MACHINES")) count = std::strtoull(n, nullptr, 0);
  std::vector<uint64_t> out;
  for (size_t i = 0; i < count; ++i) out.push_back(first + i);
  return out;
}

// Collects the failing seeds of one property; the first few in full.
class Findings {
 public:
  explicit Findings(const char* property) : property_(property) {}
  void Add(uint64_t seed, const std::string& text) {
    seeds_.push_back(seed);
    if (seeds_.size() <= 3) ADD_FAILURE() << property_ << ", seed " << seed << ":\n" << text;
  }
  void Finish(size_t machines, const std::string& figures) {
    std::printf("[ VendorSafety ] %s: %zu machines, %s\n", property_, machines, figures.c_str());
    std::string list;
    for (size_t i = 0; i < seeds_.size() && i < 40; ++i) list += " " + std::to_string(seeds_[i]);
    EXPECT_TRUE(seeds_.empty()) << property_ << ": " << seeds_.size() << " of " << machines
                                << " machines failed; seeds:" << list << (seeds_.size() > 40 ? " ..." : "")
                                << "\nreplay one with VENDOR_SAFETY_SEED=<seed>";
  }

 private:
  const char* property_;
  std::vector<uint64_t> seeds_;
};

// The device nodes that a recorded call was made for.
std::multiset<DWORD> NodesOf(const Machine& m, const std::string& fn) {
  std::multiset<DWORD> out;
  for (const auto& c : m.Calls(fn)) out.insert(c.args["DevInst"].get<DWORD>());
  return out;
}

struct Figures {
  size_t devices = 0, vendor = 0, nearMisses = 0, marked = 0, names = 0, machinesWithVendor = 0, otherPackages = 0;
  std::string Text(bool install) const {
    std::string s = std::to_string(devices) + " devices (" + std::to_string(vendor) + " of the vendor, " +
                    std::to_string(nearMisses) + " near misses)";
    if (install) return s + ", " + std::to_string(marked) + " devices expected marked";
    return s + ", " + std::to_string(machinesWithVendor) + " machines with vendor devices, " + std::to_string(names) +
           " package names expected from their drivers (" + std::to_string(otherPackages) +
           " other makers' packages listed, and kept)";
  }
  void Count(const World& w) {
    bool any = false;
    for (const Device& d : w.m.devices) {
      ++devices;
      if (IsVendorDevice(d.instanceId)) ++vendor, any = true;
      if (w.what.at(d.devInst).rfind("near miss", 0) == 0) ++nearMisses;
    }
    if (any) ++machinesWithVendor;
  }
};

// ---- "/uninstall" ----

World UninstallWorld(uint64_t seed, Machine base) {
  World w;
  w.seed = seed;
  w.m = std::move(base);
  w.m.nativeArchitecture = PROCESSOR_ARCHITECTURE_INTEL;  // removal is allowed to the 32-bit install
  Rng r(seed);
  GenerateStore(r, w);
  GenerateDevices(r, w);
  return w;
}

// What the uninstall must have done to `before`, judged on `after`; empty when all is well.
std::string CheckUninstall(const World& w, const Machine& before, const Machine& after, Figures& fig) {
  std::ostringstream bad;
  std::set<DWORD> vendor;
  Texts expectedNames;
  // A package named by a vendor's device goes only when its driver's own hardware ID (the first of
  // the entry's IDs; a store package's entry is its first model line that the device matches) is
  // the vendor's. Another maker's package that a vendor's device lists stays: counted.
  std::set<std::string> otherListed;
  for (const Device& d : before.devices) {
    if (!IsVendorDevice(d.instanceId)) continue;
    vendor.insert(d.devInst);
    for (const winsim::Driver& drv : d.drivers)
      if (!drv.hardwareIds.empty() && IsVendorDevice(drv.hardwareIds[0]))
        expectedNames.push_back(BaseName(drv.infPath));
    for (const StoreEntry& e : w.store) {
      Texts all = d.hardwareIds;
      all.insert(all.end(), d.compatibleIds.begin(), d.compatibleIds.end());
      for (const std::string& id : e.ids)
        if (std::any_of(all.begin(), all.end(), [&](const std::string& a) { return SameAscii(a, id); })) {
          if (IsVendorDevice(id)) expectedNames.push_back(e.name);
          else if (e.what == "other vendor") otherListed.insert(e.name);
          break;
        }
    }
  }
  fig.names += expectedNames.size();
  fig.otherPackages += otherListed.size();

  // Devices: the vendor's gone, every other one exactly as it was, in its place.
  std::map<DWORD, const Device*> afterByNode;
  for (const Device& d : after.devices) afterByNode[d.devInst] = &d;
  for (const Device& d : before.devices) {
    auto it = afterByNode.find(d.devInst);
    const std::string label = "[" + w.what.at(d.devInst) + "] ";
    if (vendor.count(d.devInst)) {
      if (it != afterByNode.end()) bad << "  vendor device not removed: " << label << Describe(*it->second) << "\n";
    } else if (it == afterByNode.end()) {
      bad << "  another device removed: " << label << Describe(d) << "\n";
    } else if (Describe(*it->second, true) != Describe(d, true)) {
      bad << "  another device changed: " << label << "\n    before " << Describe(d) << "\n    after  "
          << Describe(*it->second) << "\n";
    }
  }
  if (after.devices.size() + vendor.size() != before.devices.size())
    bad << "  " << after.devices.size() << " devices left of " << before.devices.size() << ", " << vendor.size()
        << " of them the vendor's\n";

  // Calls that change a device: for the vendor's devices only; keys and removal for each of them.
  for (const char* fn : {"SetupDiDeleteDevRegKey", "SetupDiRemoveDevice", "SetupDiSetDeviceRegistryPropertyA"})
    for (DWORD node : NodesOf(after, fn))
      if (!vendor.count(node)) {
        const Device* d = nullptr;
        for (const Device& b : before.devices)
          if (b.devInst == node) d = &b;
        bad << "  " << fn << " on another device: "
            << (d ? "[" + w.what.at(node) + "] " + Describe(*d) : "node " + std::to_string(node)) << "\n";
      }
  std::multiset<DWORD> keys = NodesOf(after, "SetupDiDeleteDevRegKey"),
                       removals = NodesOf(after, "SetupDiRemoveDevice");
  for (DWORD node : vendor)
    if (!keys.count(node) || !removals.count(node))
      for (const Device& b : before.devices)
        if (b.devInst == node)
          bad << "  vendor device without " << (keys.count(node) ? "removal" : "key deletion") << ": ["
              << w.what.at(node) << "] " << Describe(b) << "\n";

  // Packages: the names the vendor's devices gave, then the two fixed names; nothing else.
  Texts attempted;
  for (const auto& c : after.Calls("SetupUninstallOEMInfA")) attempted.push_back(c.args["InfFileName"]);
  Texts fromDevices(attempted.begin(), attempted.end() - std::min<size_t>(attempted.size(), 2));
  Texts last(attempted.end() - std::min<size_t>(attempted.size(), 2), attempted.end());
  Texts sortedExpected = expectedNames, sortedGot = fromDevices;
  std::sort(sortedExpected.begin(), sortedExpected.end());
  std::sort(sortedGot.begin(), sortedGot.end());
  if (sortedGot != sortedExpected || last != kFixedNames)
    bad << "  package uninstalls " << List(attempted) << "\n    expected, in any order, " << List(expectedNames)
        << " then " << List(kFixedNames) << "\n";

  // The driver store: exactly the non-inbox entries of attempted names are gone.
  Texts allExpected = expectedNames;
  allExpected.insert(allExpected.end(), kFixedNames.begin(), kFixedNames.end());
  std::vector<const winsim::StoredInf*> keep;
  for (const winsim::StoredInf& s : before.driverStore) {
    bool named = std::any_of(allExpected.begin(), allExpected.end(),
                             [&](const std::string& n) { return SameAscii(n, s.publishedName); });
    if (s.inbox || !named) keep.push_back(&s);
  }
  bool storeOk = keep.size() == after.driverStore.size();
  for (size_t i = 0; storeOk && i < keep.size(); ++i)
    storeOk = keep[i]->publishedName == after.driverStore[i].publishedName &&
              keep[i]->data == after.driverStore[i].data && keep[i]->inbox == after.driverStore[i].inbox;
  if (!storeOk) {
    Texts want, got;
    for (const auto* s : keep) want.push_back(s->publishedName);
    for (const auto& s : after.driverStore) got.push_back(s.publishedName);
    bad << "  driver store " << List(got) << ", expected " << List(want) << "\n";
  }

  if (bad.str().empty()) return "";
  return bad.str() + "machine before the run:\n" + DescribeMachine(w, before.devices);
}

}  // namespace

// In this process: 1,000 machines; one in eight with the main window as progress target.
TEST(VendorSafety, UninstallRemovesExactlyTheVendorsDevicesAndPackages) {
  Findings findings("/uninstall in process");
  Figures fig;
  std::vector<uint64_t> seeds = Seeds(1, 1000);
  for (uint64_t seed : seeds) {
    World w = UninstallWorld(seed, Machine());
    fig.Count(w);
    Machine before = w.m;
    bool withWindow = seed % 8 == 0;
    bool result;
    int openSets;
    {
      winsim::Session s(w.m);
      test::MainWindowScope scope(withWindow);
      result = DoUninstall(scope.Window);
      openSets = s.OpenDeviceInfoSets();
    }
    std::string problems = CheckUninstall(w, before, w.m, fig);
    if (!result) problems = "  DoUninstall returned false on 32-bit Windows\n" + problems;
    if (openSets != 0) problems = "  " + std::to_string(openSets) + " device information sets left open\n" + problems;
    if (!problems.empty()) findings.Add(seed, problems);
  }
  findings.Finish(seeds.size(), fig.Text(false));
}

// Through the host program, as a user runs it.
TEST(VendorSafety, UninstallCommandRemovesExactlyTheVendorsDevicesAndPackages) {
  Findings findings("install /uninstall");
  Figures fig;
  std::vector<uint64_t> seeds = Seeds(1000001, 50);
  const std::vector<std::pair<DWORD, DWORD>> versions = {{5, 1}, {5, 2}, {6, 0}, {6, 1}, {6, 2}, {6, 3}};
  for (uint64_t seed : seeds) {
    auto [major, minor] = versions[seed % versions.size()];
    World w = UninstallWorld(seed, test::PackageMachine(major, minor, seed % 3 ? VER_NT_WORKSTATION : VER_NT_SERVER));
    fig.Count(w);
    Machine before = w.m;
    winsim::ProcessResult r = test::RunInstall(w.m, seed % 2 ? "/uninstall" : "/UNINSTALL");
    std::string problems = CheckUninstall(w, before, w.m, fig);
    if (!r.exited || r.exitCode != 0)
      problems = "  exit code " + std::to_string(r.exitCode) + (r.exited ? "" : " (not exited: " + r.stopped + ")") +
                 "\n" + problems;
    if (!problems.empty()) findings.Add(seed, problems);
  }
  findings.Finish(seeds.size(), fig.Text(false));
}

// ---- "/install" ----

namespace {

const DWORD kSuccessAnswers[] = {0, ERROR_NO_SUCH_DEVINST};
const DWORD kFailureAnswers[] = {ERROR_NO_MORE_ITEMS,           ERROR_ACCESS_DENIED, ERROR_FILE_NOT_FOUND,
                                 ERROR_NO_AUTHENTICODE_CATALOG, 0xE0000243,          ERROR_INVALID_FUNCTION,
                                 ERROR_NO_DRIVER_SELECTED};

struct InstallPlan {
  bool perId = false;  // the per-hardware-ID method
  std::string how;     // for the report
  Texts markedIds;     // the INF's IDs whose install succeeded: their absent devices get marked
};

// Scripts the install call's answer: success (0 or "no such device", which copies the package)
// or a failure; true for success.
bool ScriptAnswer(Rng& r, Machine& m, const char* fn, int nth, const std::string& proc, std::string& how) {
  DWORD answer = r.Percent(65) ? kSuccessAnswers[r.Below(2)] : kFailureAnswers[r.Below(std::size(kFailureAnswers))];
  m.Answer(fn, answer == 0, answer, false, nth, proc);
  how += " 0x" + Hex(answer, 8);
  return answer == 0 || answer == ERROR_NO_SUCH_DEVINST;
}

// The install world: the tree, the package and how the install calls will answer.
World InstallWorld(uint64_t seed, Machine base, bool perId, bool native64, InstallPlan& plan) {
  World w;
  w.seed = seed;
  w.m = std::move(base);
  w.m.nativeArchitecture = native64 ? PROCESSOR_ARCHITECTURE_AMD64 : PROCESSOR_ARCHITECTURE_INTEL;
  Rng r(seed);
  GenerateInf(r, w);
  w.m.AddFile("C:\\Drivers\\veltowinusb.inf", w.infText);
  GenerateStore(r, w);
  GenerateDevices(r, w);
  Texts ids = MarkerIds(w.infText);
  plan.perId = perId;
  if (perId) {
    // Per-ID installs are scripted, each its own answer; without a script, 64-bit Windows refuses
    // every one of them to the 32-bit install.
    if (native64 && r.Percent(50)) {
      plan.how = "per hardware ID, refused in WoW64";
    } else {
      plan.how = "per hardware ID, answers";
      for (size_t i = 0; i < ids.size(); ++i)
        if (ScriptAnswer(r, w.m, "UpdateDriverForPlugAndPlayDevicesA", int(i + 1), "", plan.how))
          plan.markedIds.push_back(ids[i]);
    }
  } else if (r.Percent(70)) {
    // The simulated install itself: a package new to the store installs, or is copied when no
    // device is present; on 64-bit Windows through quorvin.
    plan.how = native64 ? "package, through quorvin" : "package";
    plan.markedIds = ids;
  } else {
    plan.how = native64 ? "package, quorvin's answer" : "package, answer";
    if (ScriptAnswer(r, w.m, "DiInstallDriverA", 0, native64 ? "quorvin" : "", plan.how)) plan.markedIds = ids;
  }
  return w;
}

std::string CheckInstall(const World& w, const InstallPlan& plan, const Machine& before, const Machine& after,
                         Figures& fig) {
  std::ostringstream bad;
  std::set<DWORD> marked;
  for (const Device& d : before.devices)
    if (OfUsbEnumerator(d.instanceId) && !d.present && CarriesAny(d, plan.markedIds)) marked.insert(d.devInst);
  fig.marked += marked.size();

  // Every device stays; only the expected ones have their flags changed, and only by the bit.
  std::map<DWORD, const Device*> afterByNode;
  for (const Device& d : after.devices) afterByNode[d.devInst] = &d;
  if (after.devices.size() != before.devices.size())
    bad << "  " << after.devices.size() << " devices after, " << before.devices.size() << " before\n";
  for (const Device& d : before.devices) {
    const std::string label = "[" + w.what.at(d.devInst) + "] ";
    auto it = afterByNode.find(d.devInst);
    if (it == afterByNode.end()) {
      bad << "  device gone: " << label << Describe(d) << "\n";
      continue;
    }
    Device expected = d;
    if (marked.count(d.devInst)) {
      DWORD old = d.configFlags && d.configFlagsType == REG_DWORD ? *d.configFlags : 0;
      expected.configFlags = old | CONFIGFLAG_REINSTALL;
      expected.configFlagsType = REG_DWORD;
    }
    Device got = *it->second;
    // Installing on present devices changes their driver; that is not ours to judge here.
    got.driverInf = expected.driverInf = "";
    if (Describe(got, true) != Describe(expected, true))
      bad << "  " << (marked.count(d.devInst) ? "device to be marked: " : "device not to be marked: ") << label
          << "\n    before " << Describe(d) << "\n    after  " << Describe(*it->second) << "\n";
  }
  for (const auto& c : after.Calls("SetupDiSetDeviceRegistryPropertyA")) {
    DWORD node = c.args["DevInst"].get<DWORD>();
    if (!marked.count(node) || c.args["Property"].get<DWORD>() != SPDRP_CONFIGFLAGS)
      bad << "  property " << c.args["Property"].get<DWORD>() << " written on node " << node << " ("
          << (w.what.count(node) ? w.what.at(node) : "?") << ")\n";
  }
  for (const char* fn : {"SetupDiRemoveDevice", "SetupDiDeleteDevRegKey", "SetupUninstallOEMInfA"})
    if (!after.Calls(fn).empty()) bad << "  " << fn << " called " << after.Calls(fn).size() << " times\n";
  // No package of the store is gone (the install may add its own).
  for (const winsim::StoredInf& s : before.driverStore) {
    const winsim::StoredInf* now = after.FindStoredInf(s.publishedName);
    if (!now || now->data != s.data) bad << "  driver store entry " << s.publishedName << " gone or changed\n";
  }

  if (bad.str().empty()) return "";
  return bad.str() + "install: " + plan.how + "; " + w.infWhat + ", hardware IDs " + List(MarkerIds(w.infText)) +
         ", those to be marked " + List(plan.markedIds) + "\nmachine before the run:\n" +
         DescribeMachine(w, before.devices);
}

}  // namespace

// In this process, on 32-bit Windows: 1,000 machines, the OS kinds of both install methods.
TEST(VendorSafety, InstallMarksExactlyTheAbsentDevicesOfTheInfsHardwareIds) {
  Findings findings("/install in process");
  Figures fig;
  const BYTE kinds[] = {osWinXP, osServer2003, osServer2003R2, osVistaFamily,  osVista, osServer2008,
                        osWin7,  osServer2012, osWin8,         osServer2012R2, osWin81};
  std::vector<uint64_t> seeds = Seeds(1, 1000);
  for (uint64_t seed : seeds) {
    BYTE kind = kinds[seed % std::size(kinds)];
    InstallPlan plan;
    World w = InstallWorld(seed, Machine(), kind < osVista, false, plan);
    fig.Count(w);
    Machine before = w.m;
    int openHandles;
    {
      winsim::Session s(w.m);
      test::StartUp(kind);
      test::MainWindowScope scope(seed % 8 == 0);
      DoInstall(scope.Window);
      openHandles = s.OpenHandles() + s.OpenDeviceInfoSets();
    }
    std::string problems = CheckInstall(w, plan, before, w.m, fig);
    if (openHandles != 0) problems = "  " + std::to_string(openHandles) + " handles left open\n" + problems;
    if (!problems.empty()) findings.Add(seed, "  OS kind " + std::to_string(kind) + "\n" + problems);
  }
  findings.Finish(seeds.size(), fig.Text(true));
}

// Through the host programs, on 32- and 64-bit Windows (the package install through quorvin).
TEST(VendorSafety, InstallCommandMarksExactlyTheAbsentDevicesOfTheInfsHardwareIds) {
  Findings findings("install /install");
  Figures fig;
  struct Version {
    DWORD major, minor;
    BYTE product;
    bool perId;
  };
  const Version versions[] = {
      {5, 1, VER_NT_WORKSTATION, true},  {5, 2, VER_NT_SERVER, true},       {6, 1, VER_NT_SERVER, true},
      {6, 4, VER_NT_WORKSTATION, true},  {6, 0, VER_NT_WORKSTATION, false}, {6, 0, VER_NT_SERVER, false},
      {6, 1, VER_NT_WORKSTATION, false}, {6, 2, VER_NT_SERVER, false},      {6, 3, VER_NT_WORKSTATION, false}};
  std::vector<uint64_t> seeds = Seeds(1000001, 50);
  for (uint64_t seed : seeds) {
    const Version& v = versions[seed % std::size(versions)];
    InstallPlan plan;
    World w = InstallWorld(seed, test::PackageMachine(v.major, v.minor, v.product), v.perId, seed % 2 == 0, plan);
    fig.Count(w);
    Machine before = w.m;
    winsim::ProcessResult r = test::RunInstall(w.m, "/install");
    std::string problems = CheckInstall(w, plan, before, w.m, fig);
    if (!r.exited) problems = "  install did not exit: " + r.stopped + "\n" + problems;
    if (!problems.empty())
      findings.Add(seed, "  Windows " + std::to_string(v.major) + "." + std::to_string(v.minor) +
                             (w.m.Is64Bit() ? " 64-bit" : " 32-bit") + "\n" + problems);
  }
  findings.Finish(seeds.size(), fig.Text(true));
}
