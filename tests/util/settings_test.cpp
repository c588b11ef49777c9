// The settings accessors over the current user's hive: defaults stored on first read,
// fallbacks when the key cannot be opened, type checks and fresh reads.
#include "util/settings.h"

#include "platform/errors.h"
#include "platform/registry.h"
#include "support/sandbox.h"

#include <gtest/gtest.h>

#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace fetchora {
namespace {

using namespace registry;
using testing::Sandbox;

class Settings : public ::testing::Test {
protected:
    void SetUp() override { setSettingsKeyPath(settings::kKeyPath); }
    void TearDown() override {
        setHiveReadOnly(Hive::CurrentUser, false);
        setSettingsKeyPath("");
    }

    // The value as the registry holds it, or nothing.
    static bool stored(const std::string& name, std::string* text, DWORD* type = nullptr) {
        HKEY key = nullptr;
        if (RegOpenKeyEx(HKEY_CURRENT_USER, "Software\\Fetchora", KEY_READ, &key) != ERROR_SUCCESS)
            return false;
        const bool found = RegQueryValueEx(key, name, type, text) == ERROR_SUCCESS;
        RegCloseKey(key);
        return found;
    }

    static void store(const std::string& name, DWORD type, const std::string& data) {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyEx(HKEY_CURRENT_USER, "Software\\Fetchora", KEY_ALL_ACCESS, &key),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueEx(key, name, type, data), ERROR_SUCCESS);
        RegCloseKey(key);
    }

    Sandbox sandbox_;
};

TEST_F(Settings, FirstReadStoresTheDefaultAndLaterReadsFindIt) {
    EXPECT_EQ(readSettingText(settings::kTypes, settings::kTypesDefault), settings::kTypesDefault);
    EXPECT_EQ(readSettingText(settings::kSound, settings::kSoundDefault), "Y");
    std::string text;
    DWORD type = REG_NONE;
    ASSERT_TRUE(stored("Types", &text, &type));
    EXPECT_EQ(text, "jpg,jpeg,avi,mpg,mpeg,mp3,wmv,exe,zip,rar,pdf");
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(readSettingText("types", settings::kTypesDropDefault), settings::kTypesDefault);
    // An empty default is stored as an empty string, and an empty value is not missing.
    EXPECT_EQ(readSettingText(settings::kProxyServer, ""), "");
    ASSERT_TRUE(stored("ProxyServer", &text));
    EXPECT_EQ(readSettingText(settings::kProxyServer, "proxy"), "");
    // Exactly these values are on the key.
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "Software\\Fetchora", KEY_READ, &key), ERROR_SUCCESS);
    std::string name;
    int count = 0;
    while (RegEnumValue(key, static_cast<DWORD>(count), &name) == ERROR_SUCCESS)
        ++count;
    RegCloseKey(key);
    EXPECT_EQ(count, 3);
}

TEST_F(Settings, WriteThenReadAndNothingIsCached) {
    writeSettingText(settings::kProxyPort, "8080");
    EXPECT_EQ(readSettingText(settings::kProxyPort, ""), "8080");
    store("ProxyPort", REG_SZ, "3128");
    EXPECT_EQ(readSettingText(settings::kProxyPort, ""), "3128");
    // Another process's change is seen by the next read.
    const pid_t pid = ::fork();
    if (pid == 0) {
        writeSettingText(settings::kProxyPort, "not a number");
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_EQ(readSettingText(settings::kProxyPort, ""), "not a number");
    // A value removed behind the accessor's back gets the caller's default again.
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "Software\\Fetchora", KEY_ALL_ACCESS, &key),
              ERROR_SUCCESS);
    ASSERT_EQ(RegDeleteValue(key, "proxyport"), ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(readSettingText(settings::kProxyPort, "80"), "80");
}

TEST_F(Settings, KeyThatCannotBeOpenedReadsEmptyAndWritesNothing) {
    setHiveReadOnly(Hive::CurrentUser, true);
    EXPECT_EQ(readSettingText(settings::kTypes, settings::kTypesDefault), "");
    writeSettingText(settings::kSound, "Y");
    setHiveReadOnly(Hive::CurrentUser, false);
    std::string text;
    EXPECT_FALSE(stored("Types", &text));
    EXPECT_FALSE(stored("Sound", &text));
    // Even a value that exists reads empty while the key cannot be opened for writing.
    store("Sound", REG_SZ, "Y");
    setHiveReadOnly(Hive::CurrentUser, true);
    EXPECT_EQ(readSettingText(settings::kSound, "N"), "");
}

TEST_F(Settings, ValueOfAnotherTypeIsAnError) {
    store("Types", REG_DWORD, std::string("\x01\0\0\0", 4));
    try {
        readSettingText(settings::kTypes, settings::kTypesDefault);
        FAIL() << "no error";
    } catch (const RegistryError& error) {
        EXPECT_STREQ(error.what(), "Invalid data type for 'Types'");
    }
    store("Sound", REG_BINARY, "Y");
    EXPECT_THROW(readSettingText(settings::kSound, "Y"), RegistryError);
    // An expandable string is text, returned as stored.
    store("Folder", REG_EXPAND_SZ, "$HOME/Downloads");
    EXPECT_EQ(readSettingText(settings::kFolder, ""), "$HOME/Downloads");
    // Writing replaces a value of another type with a string.
    writeSettingText(settings::kSound, "N");
    EXPECT_EQ(readSettingText(settings::kSound, "Y"), "N");
}

TEST_F(Settings, KeyPathDecidesWhereTheValuesGo) {
    EXPECT_EQ(settingsKeyPath(), "Software\\Fetchora");
    setSettingsKeyPath("Software\\Other");
    writeSettingText("Folder", "/tmp");
    std::string text;
    EXPECT_FALSE(stored("Folder", &text));
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "software\\other", KEY_READ, &key), ERROR_SUCCESS);
    ASSERT_EQ(RegQueryValueEx(key, "Folder", nullptr, &text), ERROR_SUCCESS);
    EXPECT_EQ(text, "/tmp");
    RegCloseKey(key);
}

} // namespace
} // namespace fetchora
