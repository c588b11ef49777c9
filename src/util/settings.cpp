// The settings accessors: each call opens the settings key of the current user's hive
// (creating it), reads or writes one string value and closes the key again, so every
// read sees the last value any process wrote.
#include "util/settings.h"

#include "platform/errors.h"
#include "platform/format.h"
#include "platform/registry.h"

#include <mutex>

namespace fetchora {

namespace {

std::mutex& keyPathMutex() {
    static std::mutex m;
    return m;
}

std::string& keyPath() {
    static std::string path;
    return path;
}

// The settings key opened with full access for the length of one accessor call.
class SettingsKey final {
public:
    SettingsKey() {
        if (registry::RegCreateKeyEx(registry::HKEY_CURRENT_USER, settingsKeyPath(),
                                     registry::KEY_ALL_ACCESS, &key_) != registry::ERROR_SUCCESS)
            key_ = nullptr;
    }
    ~SettingsKey() {
        if (key_ != nullptr)
            registry::RegCloseKey(key_);
    }
    SettingsKey(const SettingsKey&) = delete;
    SettingsKey& operator=(const SettingsKey&) = delete;

    bool isOpen() const { return key_ != nullptr; }
    registry::HKEY handle() const { return key_; }

private:
    registry::HKEY key_ = nullptr;
};

void storeText(registry::HKEY key, const std::string& name, const std::string& text) {
    if (registry::RegSetValueEx(key, name, registry::REG_SZ, text) != registry::ERROR_SUCCESS)
        throw InOutError(format("Failed to set data for '%s'", name.c_str()));
}

} // namespace

void setSettingsKeyPath(const std::string& path) {
    const std::lock_guard<std::mutex> lock(keyPathMutex());
    keyPath() = path;
}

std::string settingsKeyPath() {
    const std::lock_guard<std::mutex> lock(keyPathMutex());
    return keyPath();
}

std::string readSettingText(const std::string& name, const std::string& defaultText) {
    const SettingsKey key;
    if (!key.isOpen())
        return {};
    registry::DWORD type = registry::REG_NONE;
    std::string data;
    registry::LONG result = registry::RegQueryValueEx(key.handle(), name, &type, &data);
    if (result == registry::ERROR_FILE_NOT_FOUND) {
        storeText(key.handle(), name, defaultText);
        result = registry::RegQueryValueEx(key.handle(), name, &type, &data);
    }
    // A value that vanished again between the store and the read reads as empty text.
    if (result != registry::ERROR_SUCCESS)
        return {};
    // Both string types are text; an expandable string is returned as stored.
    if (type != registry::REG_SZ && type != registry::REG_EXPAND_SZ)
        throw RegistryError(name);
    return data;
}

void writeSettingText(const std::string& name, const std::string& text) {
    const SettingsKey key;
    if (!key.isOpen())
        return;
    storeText(key.handle(), name, text);
}

} // namespace fetchora
