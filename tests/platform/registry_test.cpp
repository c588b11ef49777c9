// The file-backed registry: value types, names without regard to case, what other
// processes see, concurrent writers, read-only hives, damaged hive files and deletion.
#include "platform/registry.h"

#include "support/child_process.h"
#include "support/sandbox.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace fetchora::registry {
namespace {

using testing::inChild;
using testing::Sandbox;

std::string hiveText(const Sandbox& sandbox, const char* root) {
    return Sandbox::readFile(sandbox.path(std::string("registry/") + root + ".reg"));
}

HKEY create(HKEY parent, const std::string& path, REGSAM access = KEY_ALL_ACCESS) {
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyEx(parent, path, access, &key), ERROR_SUCCESS) << path;
    return key;
}

std::string queryText(HKEY key, const std::string& name) {
    DWORD type = REG_NONE;
    std::string data;
    EXPECT_EQ(RegQueryValueEx(key, name, &type, &data), ERROR_SUCCESS) << name;
    return data;
}

// Puts an environment variable back as it was when the object goes.
class EnvironmentVariable final {
public:
    explicit EnvironmentVariable(const char* name) : name_(name) {
        const char* value = std::getenv(name);
        had_ = value != nullptr;
        if (had_)
            value_ = value;
    }
    ~EnvironmentVariable() {
        if (had_)
            ::setenv(name_, value_.c_str(), 1);
        else
            ::unsetenv(name_);
    }
    EnvironmentVariable(const EnvironmentVariable&) = delete;
    EnvironmentVariable& operator=(const EnvironmentVariable&) = delete;

private:
    const char* name_;
    bool had_ = false;
    std::string value_;
};

struct TypedValue {
    const char* name;
    DWORD type;
    std::string data;
};

TEST(Registry, EveryTypeSurvivesTheFileUnchanged) {
    Sandbox sandbox;
    std::string longBinary;
    for (int i = 0; i < 100; ++i)
        longBinary += static_cast<char>(i * 7);
    const std::vector<TypedValue> values = {
        {"", REG_SZ, "&Pullmarq Toolbar"},
        {"Quoted", REG_SZ, "C:\\Program Files\\\"x\"\\"},
        {"Ansi", REG_SZ, "caf\xE9 \x8A"},
        {"Empty", REG_SZ, ""},
        {"Lines", REG_SZ, std::string("one\r\ntwo\0three", 15)},
        {"Expand", REG_EXPAND_SZ, "%HOME%\\x"},
        {"Binary", REG_BINARY, longBinary},
        {"Dword", REG_DWORD, std::string("\x0a\x00\x00\x00", 4)},
        {"ShortDword", REG_DWORD, std::string("\x01\x02", 2)},
        {"Qword", REG_QWORD, std::string("\x01\x02\x03\x04\x05\x06\x07\x08", 8)},
        {"Multi", REG_MULTI_SZ, std::string("a\0bc\0\0", 6)},
        {"None", REG_NONE, ""},
        {"Odd", 0x1234, "\xff"},
    };
    HKEY key = create(HKEY_CURRENT_USER, "Software\\Fetchora");
    for (const auto& v : values)
        ASSERT_EQ(RegSetValueEx(key, v.name, v.type, v.data), ERROR_SUCCESS) << v.name;
    RegCloseKey(key);

    HKEY reopened = nullptr;
    ASSERT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "Software\\Fetchora", KEY_READ, &reopened),
              ERROR_SUCCESS);
    for (const auto& v : values) {
        DWORD type = REG_NONE;
        std::string data;
        ASSERT_EQ(RegQueryValueEx(reopened, v.name, &type, &data), ERROR_SUCCESS) << v.name;
        EXPECT_EQ(type, v.type) << v.name;
        EXPECT_EQ(data, v.data) << v.name;
    }
    RegCloseKey(reopened);

    const std::string text = hiveText(sandbox, "HKEY_CURRENT_USER");
    EXPECT_EQ(text.rfind("REGEDIT4\n", 0), 0u);
    EXPECT_NE(text.find("\n[HKEY_CURRENT_USER\\Software]\n"), std::string::npos);
    EXPECT_NE(text.find("[HKEY_CURRENT_USER\\Software\\Fetchora]\n@=\"&Pullmarq Toolbar\"\n"),
              std::string::npos);
    EXPECT_NE(text.find("\"Quoted\"=\"C:\\\\Program Files\\\\\\\"x\\\"\\\\\"\n"),
              std::string::npos);
    EXPECT_NE(text.find("\"Dword\"=dword:0000000a\n"), std::string::npos);
    EXPECT_NE(text.find("\"Qword\"=hex(b):01,02,03,04,05,06,07,08\n"), std::string::npos);
    EXPECT_NE(text.find("\"Multi\"=hex(7):61,00,62,63,00,00\n"), std::string::npos);
    EXPECT_NE(text.find("\"Expand\"=hex(2):25,"), std::string::npos);
    EXPECT_NE(text.find(",\\\n  "), std::string::npos) << "long lists are continued";
    for (size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos;
         start = end + 1)
        EXPECT_LE(end - start, 80u) << text.substr(start, end - start);

    // The writer is deterministic: storing the same value again rewrites the same text.
    HKEY again = create(HKEY_CURRENT_USER, "software\\FETCHORA");
    ASSERT_EQ(RegSetValueEx(again, "dword", REG_DWORD, values[7].data), ERROR_SUCCESS);
    RegCloseKey(again);
    EXPECT_EQ(hiveText(sandbox, "HKEY_CURRENT_USER"), text);
}

TEST(Registry, NamesIgnoreCaseAndKeepTheCaseTheyWereCreatedWith) {
    Sandbox sandbox;
    HKEY key = create(HKEY_CURRENT_USER, "Software\\Fetchora\\\xC4pfel");
    ASSERT_EQ(RegSetValueEx(key, "Types", REG_SZ, "zip"), ERROR_SUCCESS);
    RegCloseKey(key);

    HKEY other = nullptr;
    DWORD disposition = 0;
    ASSERT_EQ(RegCreateKeyEx(HKEY_CURRENT_USER, "SOFTWARE\\fetchora\\\xE4PFEL", KEY_ALL_ACCESS,
                             &other, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
    EXPECT_EQ(queryText(other, "TYPES"), "zip");
    ASSERT_EQ(RegSetValueEx(other, "tYPES", REG_SZ, "pdf"), ERROR_SUCCESS);
    std::string name;
    ASSERT_EQ(RegEnumValue(other, 0, &name), ERROR_SUCCESS);
    EXPECT_EQ(name, "Types");
    EXPECT_EQ(RegEnumValue(other, 1, &name), ERROR_NO_MORE_ITEMS);
    RegCloseKey(other);

    const std::string text = hiveText(sandbox, "HKEY_CURRENT_USER");
    EXPECT_NE(text.find("[HKEY_CURRENT_USER\\Software\\Fetchora\\\xC4pfel]\n\"Types\"=\"pdf\"\n"),
              std::string::npos)
        << text;
    // Only the Windows-1252 pairs fold: "x" and "X" are one name, "\xD7" and "\xF7" are two.
    HKEY signs = create(HKEY_CURRENT_USER, "Software\\\xD7");
    DWORD created = 0;
    HKEY division = nullptr;
    ASSERT_EQ(
        RegCreateKeyEx(HKEY_CURRENT_USER, "Software\\\xF7", KEY_ALL_ACCESS, &division, &created),
        ERROR_SUCCESS);
    EXPECT_EQ(created, REG_CREATED_NEW_KEY);
    RegCloseKey(signs);
    RegCloseKey(division);
}

TEST(Registry, MissingKeysAndValuesAndBadHandles) {
    Sandbox sandbox;
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "Software\\Nothing", KEY_READ, &key),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(key, nullptr);
    key = create(HKEY_CURRENT_USER, "Software\\Fetchora");
    EXPECT_EQ(RegQueryValueEx(key, "Types", nullptr, nullptr), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteValue(key, "Types"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegSetValueEx(key, "Two\nLines", REG_SZ, "x"), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegQueryValueEx(key, "Types", nullptr, nullptr), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(HKEY_CURRENT_USER), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(nullptr), ERROR_INVALID_HANDLE);

    // A handle opened for reading cannot write, even on a writable hive.
    HKEY reading = nullptr;
    ASSERT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "Software\\Fetchora", KEY_READ, &reading),
              ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueEx(reading, "Types", REG_SZ, "x"), ERROR_ACCESS_DENIED);
    HKEY child = nullptr;
    EXPECT_EQ(RegCreateKeyEx(reading, "Child", KEY_ALL_ACCESS, &child), ERROR_ACCESS_DENIED);
    RegCloseKey(reading);
}

TEST(Registry, HiveFolderIsCreatedOnFirstWriteAndDefaultsToTheUsersConfig) {
    Sandbox sandbox;
    setHiveFolder(sandbox.path("deep/er/registry"));
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "Software", KEY_READ, &key), ERROR_FILE_NOT_FOUND);
    EXPECT_NE(::access(sandbox.path("deep").c_str(), F_OK), 0);
    key = create(HKEY_CURRENT_USER, "Software");
    RegCloseKey(key);
    EXPECT_NE(Sandbox::readFile(sandbox.path("deep/er/registry/HKEY_CURRENT_USER.reg"))
                  .find("[HKEY_CURRENT_USER\\Software]"),
              std::string::npos);

    const EnvironmentVariable config("XDG_CONFIG_HOME");
    const EnvironmentVariable home("HOME");
    setHiveFolder("");
    ::setenv("XDG_CONFIG_HOME", "/somewhere/config", 1);
    EXPECT_EQ(hiveFolder(), "/somewhere/config/fetchora/registry");
    ::setenv("XDG_CONFIG_HOME", "", 1);
    ::setenv("HOME", "/home/someone", 1);
    EXPECT_EQ(hiveFolder(), "/home/someone/.config/fetchora/registry");
}

TEST(Registry, OtherProcessesSeeEveryChangeAtOnce) {
    Sandbox sandbox;
    HKEY key = create(HKEY_CURRENT_USER, "Software\\Fetchora");
    ASSERT_EQ(RegSetValueEx(key, "Types", REG_SZ, "zip"), ERROR_SUCCESS);

    const int childSaw = inChild([] {
        HKEY k = nullptr;
        if (RegOpenKeyEx(HKEY_CURRENT_USER, "Software\\Fetchora", KEY_ALL_ACCESS, &k) != 0)
            return 2;
        DWORD type = 0;
        std::string data;
        if (RegQueryValueEx(k, "Types", &type, &data) != 0 || data != "zip")
            return 3;
        return RegSetValueEx(k, "Types", REG_SZ, "pdf,rar") == 0 ? 0 : 4;
    });
    ASSERT_EQ(childSaw, 0);
    // The handle opened before the change reads the file anew.
    EXPECT_EQ(queryText(key, "Types"), "pdf,rar");

    ASSERT_EQ(inChild([] { return RegDeleteTree(HKEY_CURRENT_USER, "Software\\Fetchora"); }), 0);
    EXPECT_EQ(RegQueryValueEx(key, "Types", nullptr, nullptr), ERROR_KEY_DELETED);
    EXPECT_EQ(RegSetValueEx(key, "Types", REG_SZ, "x"), ERROR_KEY_DELETED);
    RegCloseKey(key);
}

// A hive read long enough after its last change is kept in memory until its file
// changes. Each change by another process must still be seen by the very next call: a
// new file put in place, and a rewrite in place of the same size in the same second.
TEST(Registry, KeptHiveGivesWayToEveryChangeByAnotherProcess) {
    Sandbox sandbox;
    const std::string file = sandbox.path("registry/HKEY_CURRENT_USER.reg");
    HKEY key = create(HKEY_CURRENT_USER, "Software\\Fetchora");
    ASSERT_EQ(RegSetValueEx(key, "Types", REG_SZ, "zip"), ERROR_SUCCESS);
    const auto settle = [&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(120));
        EXPECT_FALSE(queryText(key, "Types").empty()); // read and kept
    };

    settle();
    ASSERT_EQ(inChild([] {
                  HKEY k = nullptr;
                  if (RegOpenKeyEx(HKEY_CURRENT_USER, "Software\\Fetchora", KEY_ALL_ACCESS, &k) !=
                      0)
                      return 2;
                  return RegSetValueEx(k, "Types", REG_SZ, "pdf") == 0 ? 0 : 3;
              }),
              0);
    EXPECT_EQ(queryText(key, "Types"), "pdf");

    // Same length, same file, same second: only the finer marks of the file tell.
    settle();
    std::string text = Sandbox::readFile(file);
    const size_t at = text.find("\"pdf\"");
    ASSERT_NE(at, std::string::npos);
    ASSERT_EQ(inChild([&] {
                  std::string changed = text;
                  changed.replace(at, 5, "\"rar\"");
                  const int fd = ::open(file.c_str(), O_WRONLY);
                  const bool ok = fd >= 0 && ::write(fd, changed.data(), changed.size()) ==
                                                 static_cast<ssize_t>(changed.size());
                  ::close(fd);
                  return ok ? 0 : 2;
              }),
              0);
    EXPECT_EQ(queryText(key, "Types"), "rar");

    // Damage in place is reported, never answered from the kept tree, and stays so.
    settle();
    text = Sandbox::readFile(file);
    ASSERT_EQ(inChild([&] {
                  std::string damaged = text;
                  damaged[0] = 'X';
                  const int fd = ::open(file.c_str(), O_WRONLY);
                  const bool ok = fd >= 0 && ::write(fd, damaged.data(), damaged.size()) ==
                                                 static_cast<ssize_t>(damaged.size());
                  ::close(fd);
                  return ok ? 0 : 2;
              }),
              0);
    EXPECT_THROW(RegQueryValueEx(key, "Types", nullptr, nullptr), HiveFileError);
    std::this_thread::sleep_for(std::chrono::milliseconds(120));
    EXPECT_THROW(RegQueryValueEx(key, "Types", nullptr, nullptr), HiveFileError);
    EXPECT_THROW(RegSetValueEx(key, "Sound", REG_SZ, "Y"), HiveFileError);

    // Repaired by another process: read again.
    ASSERT_EQ(inChild([&] {
                  Sandbox::writeFile(file, "REGEDIT4\n[HKEY_CURRENT_USER\\Software\\Fetchora]\n"
                                           "\"Types\"=\"exe\"\n");
                  return 0;
              }),
              0);
    EXPECT_EQ(queryText(key, "Types"), "exe");
    RegCloseKey(key);
}

TEST(Registry, ConcurrentWritersInSeveralProcessesLoseNothing) {
    Sandbox sandbox;
    constexpr int kWriters = 3;
    constexpr int kValuesEach = 30;
    std::vector<pid_t> children;
    for (int w = 0; w < kWriters; ++w) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            int failures = 0;
            for (int i = 0; i < kValuesEach; ++i) {
                HKEY k = nullptr;
                if (RegCreateKeyEx(HKEY_CURRENT_USER, "Software\\Fetchora", KEY_ALL_ACCESS, &k) !=
                    0) {
                    ++failures;
                    continue;
                }
                const std::string name = "W" + std::to_string(w) + "_" + std::to_string(i);
                failures += RegSetValueEx(k, name, REG_SZ, name) != 0;
                RegCloseKey(k);
            }
            ::_exit(failures);
        }
        children.push_back(pid);
    }
    for (const pid_t pid : children) {
        int status = 0;
        ::waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    HKEY key = create(HKEY_CURRENT_USER, "Software\\Fetchora", KEY_READ);
    for (int w = 0; w < kWriters; ++w) {
        for (int i = 0; i < kValuesEach; ++i) {
            const std::string name = "W" + std::to_string(w) + "_" + std::to_string(i);
            std::string data;
            EXPECT_EQ(RegQueryValueEx(key, name, nullptr, &data), ERROR_SUCCESS) << name;
            EXPECT_EQ(data, name);
        }
    }
    RegCloseKey(key);
}

TEST(Registry, ReadOnlyHiveRefusesEveryChange) {
    Sandbox sandbox;
    const std::string toolbar = "SOFTWARE\\Microsoft\\Internet Explorer\\Toolbar";
    HKEY key = create(HKEY_LOCAL_MACHINE, toolbar);
    ASSERT_EQ(RegSetValueEx(key, "{A}", REG_SZ, ""), ERROR_SUCCESS);
    RegCloseKey(key);
    const std::string before = hiveText(sandbox, "HKEY_LOCAL_MACHINE");

    setHiveReadOnly(Hive::LocalMachine, true);
    EXPECT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, toolbar, KEY_ALL_ACCESS, &key),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\New", KEY_READ, &key),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, toolbar, KEY_WRITE, &key), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegSetValueEx(HKEY_LOCAL_MACHINE, "x", REG_SZ, ""), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteKey(HKEY_LOCAL_MACHINE, toolbar), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteTree(HKEY_LOCAL_MACHINE, "SOFTWARE"), ERROR_ACCESS_DENIED);

    // Reading goes on as before.
    ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, toolbar, KEY_READ, &key), ERROR_SUCCESS);
    EXPECT_EQ(queryText(key, "{a}"), "");
    EXPECT_EQ(RegDeleteValue(key, "{A}"), ERROR_ACCESS_DENIED);
    RegCloseKey(key);
    ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, toolbar, KEY_READ, &key), ERROR_SUCCESS);
    RegCloseKey(key);

    // The other hives stay writable.
    key = create(HKEY_CLASSES_ROOT, "CLSID\\{A}");
    RegCloseKey(key);
    setHiveReadOnly(Hive::LocalMachine, false);
    EXPECT_EQ(hiveText(sandbox, "HKEY_LOCAL_MACHINE"), before);
}

TEST(Registry, DeleteKeyNeedsALeafAndDeleteTreeTakesEverything) {
    Sandbox sandbox;
    const std::string clsid = "CLSID\\{3F5A62E2-51F2-11D3-A075-CC7364CAE42A}";
    RegCloseKey(create(HKEY_CLASSES_ROOT, clsid + "\\InprocServer32"));
    RegCloseKey(create(HKEY_CLASSES_ROOT, clsid + "\\Implemented Categories\\{0002}"));
    HKEY held = create(HKEY_CLASSES_ROOT, clsid);

    EXPECT_EQ(RegDeleteKey(HKEY_CLASSES_ROOT, clsid + "\\InProcServer32"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKey(HKEY_CLASSES_ROOT, clsid + "\\InprocServer32"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteKey(HKEY_CLASSES_ROOT, clsid), ERROR_ACCESS_DENIED) << "it has subkeys";
    HKEY probe = nullptr;
    EXPECT_EQ(RegOpenKeyEx(HKEY_CLASSES_ROOT, clsid + "\\Implemented Categories\\{0002}", KEY_READ,
                           &probe),
              ERROR_SUCCESS);
    RegCloseKey(probe);

    EXPECT_EQ(RegDeleteTree(HKEY_CLASSES_ROOT, "clsid\\{3f5a62e2-51f2-11d3-a075-cc7364cae42a}"),
              ERROR_SUCCESS);
    EXPECT_EQ(RegOpenKeyEx(HKEY_CLASSES_ROOT, clsid, KEY_READ, &probe), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteTree(HKEY_CLASSES_ROOT, clsid), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegSetValueEx(held, "", REG_SZ, "x"), ERROR_KEY_DELETED);
    RegCloseKey(held);
    // The parent stays.
    ASSERT_EQ(RegOpenKeyEx(HKEY_CLASSES_ROOT, "CLSID", KEY_READ, &probe), ERROR_SUCCESS);
    std::string name;
    EXPECT_EQ(RegEnumKeyEx(probe, 0, &name), ERROR_NO_MORE_ITEMS);
    RegCloseKey(probe);

    // Without a subkey the tree deletion empties the key and keeps it.
    HKEY root = create(HKEY_CLASSES_ROOT, "A");
    RegCloseKey(create(root, "B\\C"));
    ASSERT_EQ(RegSetValueEx(root, "v", REG_SZ, "1"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteTree(root, ""), ERROR_SUCCESS);
    EXPECT_EQ(RegEnumKeyEx(root, 0, &name), ERROR_NO_MORE_ITEMS);
    EXPECT_EQ(RegEnumValue(root, 0, &name), ERROR_NO_MORE_ITEMS);
    EXPECT_EQ(RegQueryValueEx(root, "v", nullptr, nullptr), ERROR_FILE_NOT_FOUND);
    RegCloseKey(root);
    EXPECT_EQ(RegDeleteKey(HKEY_CLASSES_ROOT, ""), ERROR_ACCESS_DENIED);
}

TEST(Registry, ReadsHandWrittenFiles) {
    Sandbox sandbox;
    Sandbox::writeFile(sandbox.path("registry/HKEY_CURRENT_USER.reg"),
                       "\r\nREGEDIT4\r\n"
                       "; written by a person\r\n"
                       "[hkey_current_user\\Software\\Fetchora]\r\n"
                       "\"Types\" = \"zip,pdf\"\r\n"
                       "\"Count\"=dword:1f\r\n"
                       "  \"Blob\"=hex:01,02,\\\r\n"
                       "      03 , 04\r\n"
                       "\"Text\"=hex(1):41,42,00\r\n"
                       "\"Nothing\"=hex:\r\n");
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "Software\\Fetchora", KEY_READ, &key), ERROR_SUCCESS);
    EXPECT_EQ(queryText(key, "types"), "zip,pdf");
    EXPECT_EQ(queryText(key, "Count"), std::string("\x1f\0\0\0", 4));
    EXPECT_EQ(queryText(key, "Blob"), "\x01\x02\x03\x04");
    DWORD type = 0;
    std::string data;
    ASSERT_EQ(RegQueryValueEx(key, "Text", &type, &data), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(data, "AB");
    EXPECT_EQ(queryText(key, "Nothing"), "");
    RegCloseKey(key);
    // A key named only as part of a longer path exists too.
    ASSERT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "Software", KEY_READ, &key), ERROR_SUCCESS);
    RegCloseKey(key);
}

struct BadFile {
    const char* what;
    const char* text;
    int line;
};

TEST(Registry, DamagedHiveFileNamesFileAndLineAndIsNeverOverwritten) {
    const BadFile cases[] = {
        {"no header", "[HKEY_CURRENT_USER\\A]\n", 1},
        {"unknown line", "REGEDIT4\n\n[HKEY_CURRENT_USER\\A]\nTypes=zip\n", 4},
        {"bad escape", "REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"F\"=\"C:\\Temp\"\n", 3},
        {"unclosed quote", "REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"F\"=\"abc\n", 3},
        {"text after quote", "REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"F\"=\"a\" b\n", 3},
        {"value before key", "REGEDIT4\n\"F\"=\"a\"\n", 2},
        {"other root", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n", 2},
        {"unclosed key", "REGEDIT4\n[HKEY_CURRENT_USER\\A\n", 2},
        {"empty key name", "REGEDIT4\n[HKEY_CURRENT_USER\\A\\\\B]\n", 2},
        {"key deletion", "REGEDIT4\n[-HKEY_CURRENT_USER\\A]\n", 2},
        {"value deletion", "REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"F\"=-\n", 3},
        {"twice", "REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"F\"=\"1\"\n\"f\"=\"2\"\n", 4},
        {"bad byte", "REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"F\"=hex:01,2g\n", 3},
        {"long byte", "REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"F\"=hex:123\n", 3},
        {"bad dword", "REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"F\"=dword:123456789\n", 3},
        {"bad type", "REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"F\"=hex(z):00\n", 3},
        {"open continuation", "REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\n\"F\"=hex:01,\\\n", 4},
        {"unknown data", "REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"F\"=str:abc\n", 3},
    };
    for (const BadFile& c : cases) {
        SCOPED_TRACE(c.what);
        Sandbox sandbox;
        const std::string file = sandbox.path("registry/HKEY_CURRENT_USER.reg");
        Sandbox::writeFile(file, c.text);
        HKEY key = nullptr;
        try {
            RegOpenKeyEx(HKEY_CURRENT_USER, "A", KEY_READ, &key);
            ADD_FAILURE() << "no error";
        } catch (const HiveFileError& error) {
            EXPECT_EQ(error.file(), file);
            EXPECT_EQ(error.line(), c.line);
            const std::string message = error.what();
            EXPECT_NE(message.find(file), std::string::npos) << message;
            EXPECT_NE(message.find("line " + std::to_string(c.line)), std::string::npos) << message;
        }
        EXPECT_THROW(RegSetValueEx(HKEY_CURRENT_USER, "New", REG_SZ, "x"), HiveFileError);
        EXPECT_EQ(Sandbox::readFile(file), c.text);
    }
}

} // namespace
} // namespace fetchora::registry
