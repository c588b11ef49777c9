// The per-user settings: their names, their defaults, and the two accessors that read and
// write them under the settings key of the current user's registry hive.
#pragma once

#include <string>

namespace fetchora {

namespace settings {
inline constexpr const char* kKeyPath = "Software\\Fetchora";

inline constexpr const char* kTypes = "Types";
inline constexpr const char* kSound = "Sound";
inline constexpr const char* kProxyServer = "ProxyServer";
inline constexpr const char* kProxyPort = "ProxyPort";
inline constexpr const char* kFolder = "Folder";

// Stored by the toolbar's start-up on a fresh account.
inline constexpr const char* kTypesDefault = "jpg,jpeg,avi,mpg,mpeg,mp3,wmv,exe,zip,rar,pdf";
// The drop handler's default, stored only if Types went missing while the toolbar runs.
inline constexpr const char* kTypesDropDefault = "jpg,jpeg,avi,mpg,mpeg,mp3,wmv";
inline constexpr const char* kSoundDefault = "Y";
// Sound holding exactly this text beeps at the end of a run.
inline constexpr const char* kSoundOn = "Y";
// What the settings dialog stores for Sound when the beep is off.
inline constexpr const char* kSoundOff = "N";
} // namespace settings

// The process-wide key path under HKEY_CURRENT_USER that the accessors open.
void setSettingsKeyPath(const std::string& path);
std::string settingsKeyPath();

// Opens the key (creating it); stores defaultText when the value is missing, then returns
// the value. Empty text when the key cannot be opened. RegistryError "Invalid data type
// for '%s'" for a value that is not a string.
std::string readSettingText(const std::string& name, const std::string& defaultText);

// Opens the key (creating it) and stores the text; nothing when the key cannot be opened.
void writeSettingText(const std::string& name, const std::string& text);

} // namespace fetchora
