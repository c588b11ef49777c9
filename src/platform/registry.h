// The registry substitute: one REGEDIT4 text file per hive (HKEY_CURRENT_USER.reg,
// HKEY_CLASSES_ROOT.reg, HKEY_LOCAL_MACHINE.reg) in the hive folder, behind calls shaped
// like the Win32 registry calls the system makes, with their result codes. Key and value
// names compare without regard to case; every access reads the file as it is now and
// every change rewrites it atomically under an advisory lock.
#pragma once

#include <cstdint>
#include <string>

#include "platform/errors.h"

namespace fetchora::registry {

using LONG = int32_t;
using DWORD = uint32_t;
using REGSAM = uint32_t;

// Result codes (Win32 values).
inline constexpr LONG ERROR_SUCCESS = 0;
inline constexpr LONG ERROR_FILE_NOT_FOUND = 2;
inline constexpr LONG ERROR_ACCESS_DENIED = 5;
inline constexpr LONG ERROR_INVALID_HANDLE = 6;
inline constexpr LONG ERROR_INVALID_PARAMETER = 87;
inline constexpr LONG ERROR_NO_MORE_ITEMS = 259;
inline constexpr LONG ERROR_BADDB = 1009;
// The key behind an open handle has been deleted.
inline constexpr LONG ERROR_KEY_DELETED = 1018;

// Value types.
inline constexpr DWORD REG_NONE = 0;
inline constexpr DWORD REG_SZ = 1;
inline constexpr DWORD REG_EXPAND_SZ = 2;
inline constexpr DWORD REG_BINARY = 3;
inline constexpr DWORD REG_DWORD = 4;
inline constexpr DWORD REG_MULTI_SZ = 7;
inline constexpr DWORD REG_QWORD = 11;

// Access rights.
inline constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
inline constexpr REGSAM KEY_SET_VALUE = 0x0002;
inline constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
inline constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
inline constexpr REGSAM KEY_READ = 0x20019;
inline constexpr REGSAM KEY_WRITE = 0x20006;
inline constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;

// Dispositions of RegCreateKeyEx.
inline constexpr DWORD REG_CREATED_NEW_KEY = 1;
inline constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

enum class Hive { ClassesRoot, CurrentUser, LocalMachine };

struct Key;
using HKEY = Key*;

// The predefined root keys; they need no closing.
extern const HKEY HKEY_CLASSES_ROOT;
extern const HKEY HKEY_CURRENT_USER;
extern const HKEY HKEY_LOCAL_MACHINE;

LONG RegCreateKeyEx(HKEY parent, const std::string& subKey, REGSAM access, HKEY* result,
                    DWORD* disposition = nullptr);
LONG RegOpenKeyEx(HKEY parent, const std::string& subKey, REGSAM access, HKEY* result);
LONG RegCloseKey(HKEY key);
// Reads a value: its type and its data (text for the string types, raw bytes otherwise).
// Data conventions: REG_SZ and REG_EXPAND_SZ are the text without a terminating NUL;
// every other type is its bytes as Win32 holds them (REG_DWORD four bytes little-endian,
// REG_QWORD eight, REG_MULTI_SZ each string NUL-terminated plus a final NUL). The name ""
// is the key's default value.
LONG RegQueryValueEx(HKEY key, const std::string& valueName, DWORD* type, std::string* data);
LONG RegSetValueEx(HKEY key, const std::string& valueName, DWORD type, const std::string& data);
LONG RegDeleteValue(HKEY key, const std::string& valueName);
// Deletes a key without subkeys (ERROR_ACCESS_DENIED when it has some).
LONG RegDeleteKey(HKEY parent, const std::string& subKey);
// Deletes a key with all its subkeys and values. An empty subKey deletes the subkeys and
// values of parent itself and keeps parent.
LONG RegDeleteTree(HKEY parent, const std::string& subKey);
// The name of subkey number index (in the order the hive file lists them), or
// ERROR_NO_MORE_ITEMS past the last.
LONG RegEnumKeyEx(HKEY key, DWORD index, std::string* name);
// Name, type and data of value number index, or ERROR_NO_MORE_ITEMS past the last.
LONG RegEnumValue(HKEY key, DWORD index, std::string* name, DWORD* type = nullptr,
                  std::string* data = nullptr);

// The folder that holds the hive files; chosen once per process before the first access
// (default $XDG_CONFIG_HOME/fetchora/registry, else ~/.config/fetchora/registry).
void setHiveFolder(const std::string& folder);
std::string hiveFolder();

// A read-only hive refuses every change and every opening for write access with
// ERROR_ACCESS_DENIED (the ordinary user's view of HKEY_LOCAL_MACHINE).
void setHiveReadOnly(Hive hive, bool readOnly);

// A hive file that cannot be parsed: names the file and the line.
class HiveFileError final : public Error {
public:
    HiveFileError(const std::string& file, int line, const std::string& problem);
    const std::string& file() const { return file_; }
    int line() const { return line_; }

private:
    std::string file_;
    int line_;
};

} // namespace fetchora::registry
