// Device removal: every device of "USB" whose instance ID begins with a prefix goes, with its
// registry keys and the INF packages of its compatible drivers; each step is reported as a text.
#include <cstddef>

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

// The error of a conversion that failed: the heap's refusal, or that of the Windows call.
DWORD ConversionError(bool HeapRefused) { return HeapRefused ? DWORD(ERROR_NOT_ENOUGH_MEMORY) : LastErrorOfFailure(); }

// Whether the text (Length bytes at most) begins with the prefix: its first bytes, as many as the
// prefix has, compared with the prefix as text of the ANSI code page, ignoring case as the user's
// locale does. mUnknown, with the error, when Windows or the heap could not tell: such a device or
// driver may be one of the vendor's.
TMatch HasPrefix(const char* Text, size_t Length, const char* Prefix, DWORD& Error) {
  size_t n = std::strlen(Prefix);
  AnsiText piece;
  WideText id, prefix;
  if (!piece.Append(Text, Length < n ? Length : n)) {
    Error = ERROR_NOT_ENOUGH_MEMORY;
    return mUnknown;
  }
  if (!AppendAnsiAsWide(id, piece.c_str()) || !AppendAnsiAsWide(prefix, Prefix)) {
    Error = ConversionError(id.Failed() || prefix.Failed());
    return mUnknown;
  }
  int r = CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, id.c_str(), int(id.Length()), prefix.c_str(),
                         int(prefix.Length()));
  if (r == 0) Error = LastErrorOfFailure();
  return r == 0 ? mUnknown : r == CSTR_EQUAL ? mYes : mNo;
}

// The file name of an INF path: what follows its last backslash or colon. The search runs on
// the decoded text, so that the trail byte of a double-byte character is never taken for one.
bool InfFileNameOf(const char* Path, size_t Length, AnsiText& Name, DWORD& Error) {
  AnsiText path;
  WideText wide;
  if (!path.Append(Path, Length) || !AppendAnsiAsWide(wide, path.c_str())) {
    Error = ConversionError(path.Failed() || wide.Failed());
    return false;
  }
  const WCHAR* text = wide.c_str();
  size_t start = 0;
  for (size_t i = 0; i < wide.Length(); ++i)
    if (text[i] == L'\\' || text[i] == L':') start = i + 1;
  if (AppendWideAsAnsi(Name, text + start)) return true;
  Error = ConversionError(Name.Failed());
  return false;
}

// What becomes of one compatible driver's package.
enum TDriver {
  dSkip,        // not the vendor's
  dGather,      // the vendor's: Name holds its INF's file name
  dCannotCheck, // whether it is the vendor's cannot be told (Error)
  dCannotKeep,  // the vendor's, but its name cannot be kept (Error)
};

// The detail of one driver in a heap block of its own, at the size Windows names when the first
// is too small, never smaller than the record it fills; null when it cannot be had, with the
// error of the call that Windows refused, or ERROR_NOT_ENOUGH_MEMORY when the heap refused the
// block.
PSP_DRVINFO_DETAIL_DATA_A ReadDetail(HDEVINFO Set, PSP_DEVINFO_DATA Device, SP_DRVINFO_DATA_V2_A& Driver, DWORD& Size,
                                     DWORD& Error) {
  Size = sizeof(SP_DRVINFO_DETAIL_DATA_A);
  DWORD required = Size;
  for (int attempt = 0; attempt < 2; ++attempt) {
    auto detail = static_cast<PSP_DRVINFO_DETAIL_DATA_A>(HeapAlloc(GetProcessHeap(), 0, Size));
    if (!detail) {
      Error = ERROR_NOT_ENOUGH_MEMORY;
      return nullptr;
    }
    detail->cbSize = sizeof(SP_DRVINFO_DETAIL_DATA_A);
    if (SetupDiGetDriverInfoDetailA(Set, Device, &Driver, detail, Size, &required)) return detail;
    Error = LastErrorOfFailure();
    HeapFree(GetProcessHeap(), 0, detail);
    // Only the first call may ask for a larger block; a second refusal is final.
    if (Error != DWORD(ERROR_INSUFFICIENT_BUFFER)) break;
    if (required > Size) Size = required;
  }
  return nullptr;
}

// Reads the driver's detail and decides on its package: the vendor's when the driver's own
// hardware ID (the first string of the detail's ID list) begins with the prefix, as the device's
// instance ID does. Another maker's package that the device matches only through a generic
// compatible ID is not ours to remove.
TDriver CheckDriver(HDEVINFO Set, PSP_DEVINFO_DATA Device, SP_DRVINFO_DATA_V2_A& Driver, const char* Prefix,
                    AnsiText& Name, DWORD& Error) {
  DWORD size = 0;
  // A driver whose detail Windows does not give may be the vendor's: its package would stay.
  PSP_DRVINFO_DETAIL_DATA_A detail = ReadDetail(Set, Device, Driver, size, Error);
  if (!detail) return dCannotCheck;
  const size_t idsRoom = size - offsetof(SP_DRVINFO_DETAIL_DATA_A, HardwareID);
  // An empty first string: no hardware ID. CompatIDsOffset is not consulted: not every
  // implementation sets it when the list holds no compatible ID.
  TMatch ours = HasPrefix(detail->HardwareID, FieldLength(detail->HardwareID, idsRoom), Prefix, Error);
  TDriver verdict = ours == mNo ? dSkip : ours == mUnknown ? dCannotCheck : dGather;
  if (verdict == dGather &&
      !InfFileNameOf(detail->InfFileName, FieldLength(detail->InfFileName, sizeof(detail->InfFileName)), Name, Error))
    verdict = dCannotKeep;
  HeapFree(GetProcessHeap(), 0, detail);
  return verdict;
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
  bool unchecked = false;  // a device that may be the vendor's could not be checked
  SendStatus("Searching for devices...");

  // Every device of the USB enumerator, present or not, whatever enumerator the caller names.
  HDEVINFO set = SetupDiGetClassDevsA(nullptr, "USB", nullptr, DIGCF_ALLCLASSES);
  // No set is what a machine whose USB enumerator has no device may get; only a refused
  // allocation says that devices may be there that the walk did not see.
  DWORD setError = set == INVALID_HANDLE_VALUE ? LastErrorOfFailure() : 0;
  const bool setRefused = setError == DWORD(ERROR_NOT_ENOUGH_MEMORY) || setError == DWORD(ERROR_OUTOFMEMORY);
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
      DWORD error = 0;
      TMatch match = HasPrefix(instanceId, FieldLength(instanceId, InstanceIdSize), Prefix, error);
      if (match == mUnknown) {
        // Left in place and reported: the run must not look whole.
        AnsiText text;
        if (ErrorText("Unable to check device, error 0x", error, text)) SendStatus(text.c_str());
        result = false;
        unchecked = true;
        continue;
      }
      if (match == mNo) continue;
      ++count;

      if (SetupDiBuildDriverInfoList(set, &device, SPDIT_COMPATDRIVER)) {
        for (DWORD driverIndex = 0;;) {
          driver.cbSize = sizeof(driver);
          if (!SetupDiEnumDriverInfoA(set, &device, SPDIT_COMPATDRIVER, driverIndex, &driver)) break;
          ++driverIndex;
          AnsiText name, text;
          TDriver verdict = CheckDriver(set, &device, driver, Prefix, name, error);
          if (verdict == dGather && !infNames.Add(name.c_str())) {
            verdict = dCannotKeep;
            error = ERROR_NOT_ENOUGH_MEMORY;
          }
          // A package that stays although it may be the vendor's fails the run.
          if (verdict == dCannotCheck || verdict == dCannotKeep) {
            result = false;
            const char* what = verdict == dCannotCheck ? "Unable to check driver, error 0x"
                                                       : "Unable to remove driver, error 0x";
            if (ErrorText(what, error, text)) SendStatus(text.c_str());
          } else if (verdict == dGather && text.Append("Removing ") &&
                     text.Append(driver.Description, FieldLength(driver.Description, sizeof(driver.Description)))) {
            SendStatus(text.c_str());
          }
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
  if (setRefused) {
    whole = ErrorText("Unable to get device list, error 0x", setError, closing);
    result = false;
  } else if (count) {
    whole = closing.Append("Successfull uninstalled ") && AppendDecimal(closing, count) && closing.Append(" devices");
  } else {
    // After a device that could not be checked, nobody can say that there was none.
    whole = !unchecked && closing.Append("No installed devices or drivers found");
  }
  if (whole) SendStatus(closing.c_str());
  SendStatus("Ok");
  return result;
}
