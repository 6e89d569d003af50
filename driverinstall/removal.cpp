// Device removal: every device of "USB" whose instance ID begins with a prefix goes, with its
// registry keys and the INF packages of its compatible drivers; each step is reported as a text.
#include "driverinstall/DriverInstall.h"
#include "platform/text.h"

namespace {

// Room for a device instance ID with its NUL (the longest ID Windows gives).
const DWORD InstanceIdSize = 200;

// The length of a text in a fixed field: up to its NUL, never past the field.
size_t FieldLength(const char* Field, size_t Size) {
  const void* end = std::memchr(Field, 0, Size);
  return end ? size_t(static_cast<const char*>(end) - Field) : Size;
}

enum TMatch { mNo, mYes, mUnknown };

// Whether the instance ID begins with the prefix: its first bytes, as many as the prefix has,
// compared with the prefix as text of the ANSI code page, ignoring case as the user's locale does.
// mUnknown when Windows or the heap could not tell: such a device may be one of the vendor's.
TMatch HasPrefix(const char* InstanceId, const char* Prefix) {
  size_t n = std::strlen(Prefix);
  size_t idLength = FieldLength(InstanceId, InstanceIdSize);
  AnsiText piece;
  WideText id, prefix;
  if (!piece.Append(InstanceId, idLength < n ? idLength : n) || !AppendAnsiAsWide(id, piece.c_str()) ||
      !AppendAnsiAsWide(prefix, Prefix))
    return mUnknown;
  int r = CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, id.c_str(), int(id.Length()), prefix.c_str(),
                         int(prefix.Length()));
  return r == 0 ? mUnknown : r == CSTR_EQUAL ? mYes : mNo;
}

// The file name of an INF path: what follows its last backslash or colon. The search runs on
// the decoded text, so that the trail byte of a double-byte character is never taken for one.
bool InfFileNameOf(const char* Path, size_t Length, AnsiText& Name) {
  AnsiText path;
  WideText wide;
  if (!path.Append(Path, Length) || !AppendAnsiAsWide(wide, path.c_str())) return false;
  const WCHAR* text = wide.c_str();
  size_t start = 0;
  for (size_t i = 0; i < wide.Length(); ++i)
    if (text[i] == L'\\' || text[i] == L':') start = i + 1;
  return AppendWideAsAnsi(Name, text + start);
}

// The INF name of one compatible driver, from its detail; false when the detail cannot be read.
bool ReadInfName(HDEVINFO Set, PSP_DEVINFO_DATA Device, SP_DRVINFO_DATA_V2_A& Driver, AnsiText& Name) {
  DWORD size = sizeof(SP_DRVINFO_DETAIL_DATA_A);
  DWORD required = size;
  PSP_DRVINFO_DETAIL_DATA_A detail = static_cast<PSP_DRVINFO_DETAIL_DATA_A>(std::malloc(size));
  if (!detail) return false;
  detail->cbSize = sizeof(SP_DRVINFO_DETAIL_DATA_A);
  BOOL ok = SetupDiGetDriverInfoDetailA(Set, Device, &Driver, detail, size, &required);
  if (!ok && GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
    // Once more at the size Windows names, but never smaller than the record it fills.
    std::free(detail);
    if (required > size) size = required;
    detail = static_cast<PSP_DRVINFO_DETAIL_DATA_A>(std::malloc(size));
    if (!detail) return false;
    detail->cbSize = sizeof(SP_DRVINFO_DETAIL_DATA_A);
    ok = SetupDiGetDriverInfoDetailA(Set, Device, &Driver, detail, size, &required);
  }
  bool named = ok && InfFileNameOf(detail->InfFileName, FieldLength(detail->InfFileName, sizeof(detail->InfFileName)),
                                   Name);
  std::free(detail);
  return named;
}

// Text followed by an error code as "%x" writes it.
bool ErrorText(const char* Text, DWORD Error, AnsiText& Out) {
  return Out.Append(Text) && AppendHex(Out, Error);
}

}  // namespace

bool UninstallDevices(const char* /*Enumerator*/, const char* Prefix, HWND Window, UINT MessageId) {
  // The receiver handles the text before the send returns, and copies it if it keeps it.
  auto SendStatus = [Window, MessageId](const char* Text) {
    if (Window) SendMessageW(Window, MessageId, reinterpret_cast<WPARAM>(Text), 0);
  };

  AnsiList infNames;  // in order, a name as often as drivers named it
  DWORD count = 0;
  bool result = true;
  SendStatus("Searching for devices...");

  // Every device of the USB enumerator, present or not, whatever enumerator the caller names.
  HDEVINFO set = SetupDiGetClassDevsA(nullptr, "USB", nullptr, DIGCF_ALLCLASSES);
  DWORD setError = set == INVALID_HANDLE_VALUE ? LastErrorOfFailure() : 0;
  if (set != INVALID_HANDLE_VALUE) {
    SP_DEVINFO_DATA device;
    SP_DRVINFO_DATA_V2_A driver;
    char instanceId[InstanceIdSize];
    for (DWORD index = 0;;) {
      device.cbSize = sizeof(device);
      if (!SetupDiEnumDeviceInfo(set, index, &device)) break;
      ++index;
      DWORD idRequired = 0;
      if (!SetupDiGetDeviceInstanceIdA(set, &device, instanceId, InstanceIdSize, &idRequired)) continue;
      TMatch match = HasPrefix(instanceId, Prefix);
      if (match == mUnknown) {
        // Left in place and reported: the run must not look whole.
        AnsiText text;
        if (ErrorText("Unable to check device, error 0x", LastErrorOfFailure(), text)) SendStatus(text.c_str());
        result = false;
        continue;
      }
      if (match == mNo) continue;
      ++count;

      if (SetupDiBuildDriverInfoList(set, &device, SPDIT_COMPATDRIVER)) {
        for (DWORD driverIndex = 0;;) {
          driver.cbSize = sizeof(driver);
          if (!SetupDiEnumDriverInfoA(set, &device, SPDIT_COMPATDRIVER, driverIndex, &driver)) break;
          ++driverIndex;
          AnsiText text;
          if (text.Append("Removing ") &&
              text.Append(driver.Description, FieldLength(driver.Description, sizeof(driver.Description))))
            SendStatus(text.c_str());
          AnsiText name;
          if (ReadInfName(set, &device, driver, name)) infNames.Add(name.c_str());
        }
        SetupDiDestroyDriverInfoList(set, &device, SPDIT_COMPATDRIVER);
      }

      // The keys may already be gone; what matters is that the device goes.
      SendStatus("Removing registry keys");
      SetupDiDeleteDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0xFFFFFFFF, DIREG_BOTH);
      SendStatus("Removing device from system");
      if (!SetupDiRemoveDevice(set, &device)) {
        AnsiText text;
        if (ErrorText("Unable to remove device, error 0x", LastErrorOfFailure(), text)) SendStatus(text.c_str());
        result = false;
      }
    }
    SetupDiDestroyDeviceInfoList(set);
  }

  // Packages named more than once are uninstalled each time; a failure is a package already gone.
  if (infNames.Count()) SendStatus("Uninstalling drivers");
  for (size_t i = 0; i < infNames.Count(); ++i) SetupUninstallOEMInfA(infNames[i], SUOI_FORCEDELETE, nullptr);

  AnsiText closing;
  bool whole;
  if (set == INVALID_HANDLE_VALUE) {
    whole = ErrorText("Unable to get device list, error 0x", setError, closing);
    result = false;
  } else if (count) {
    whole = closing.Append("Successfull uninstalled ") && AppendDecimal(closing, count) && closing.Append(" devices");
  } else {
    whole = closing.Append("No installed devices or drivers found");
  }
  if (whole) SendStatus(closing.c_str());
  SendStatus("Ok");
  return result;
}
