// The registry calls over the hive files: handles, access checks, the read of a hive as
// it is now on every call (its parsed tree kept while the file's stamp stays the same)
// and the locked read-modify-rewrite of every change.
#include "platform/registry.h"

#include "platform/file_version.h"
#include "platform/files.h"
#include "platform/format.h"
#include "platform/registry_hive.h"

#include <array>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <mutex>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_set>
#include <vector>

namespace fetchora::registry {

struct Key {
    Hive hive;
    std::vector<std::string> path; // below the hive's root; empty for the root itself
    REGSAM access;
};

namespace {

Key classesRootKey{Hive::ClassesRoot, {}, KEY_ALL_ACCESS};
Key currentUserKey{Hive::CurrentUser, {}, KEY_ALL_ACCESS};
Key localMachineKey{Hive::LocalMachine, {}, KEY_ALL_ACCESS};

// Rights that change a key or its values.
constexpr REGSAM kWriteRights = KEY_SET_VALUE | KEY_CREATE_SUB_KEY | 0x10000 /* DELETE */ |
                                0x40000 /* WRITE_DAC */ | 0x80000 /* WRITE_OWNER */;

std::mutex& stateMutex() {
    static std::mutex m;
    return m;
}

std::unordered_set<const Key*>& openHandles() {
    static std::unordered_set<const Key*> handles;
    return handles;
}

std::string& chosenFolder() {
    static std::string folder;
    return folder;
}

std::array<std::atomic<bool>, 3>& readOnlyHives() {
    static std::array<std::atomic<bool>, 3> flags{};
    return flags;
}

// Changes of one process are serialised here as well as by the lock file, so that a
// helper thread never waits on a lock its own process holds through another descriptor.
std::mutex& changeMutex() {
    static std::mutex m;
    return m;
}

size_t hiveIndex(Hive hive) {
    return static_cast<size_t>(hive);
}

std::string rootName(Hive hive) {
    switch (hive) {
    case Hive::ClassesRoot:
        return "HKEY_CLASSES_ROOT";
    case Hive::CurrentUser:
        return "HKEY_CURRENT_USER";
    case Hive::LocalMachine:
        return "HKEY_LOCAL_MACHINE";
    }
    return "HKEY_CURRENT_USER";
}

bool isPredefined(const Key* key) {
    return key == &classesRootKey || key == &currentUserKey || key == &localMachineKey;
}

bool isValid(const Key* key) {
    if (key == nullptr)
        return false;
    if (isPredefined(key))
        return true;
    const std::lock_guard<std::mutex> lock(stateMutex());
    return openHandles().count(key) != 0;
}

HKEY newHandle(Hive hive, std::vector<std::string> path, REGSAM access) {
    auto* key = new Key{hive, std::move(path), access};
    const std::lock_guard<std::mutex> lock(stateMutex());
    openHandles().insert(key);
    return key;
}

bool isReadOnly(Hive hive) {
    return readOnlyHives()[hiveIndex(hive)].load();
}

std::string defaultFolder() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config != nullptr && config[0] == '/')
        return std::string(config) + "/fetchora/registry";
    std::string home;
    const char* homeVariable = std::getenv("HOME");
    if (homeVariable != nullptr && homeVariable[0] != '\0') {
        home = homeVariable;
    } else if (const passwd* user = ::getpwuid(::getuid()); user != nullptr && user->pw_dir) {
        home = user->pw_dir;
    }
    return home + "/.config/fetchora/registry";
}

std::string hiveFile(Hive hive) {
    return hiveFolder() + "/" + rootName(hive) + ".reg";
}

// The subkey path split at backslashes; empty parts (doubled or trailing backslashes)
// are skipped. False when a part cannot be stored in a hive file.
bool splitPath(const std::string& subKey, std::vector<std::string>& parts) {
    size_t start = 0;
    while (start <= subKey.size()) {
        size_t end = subKey.find('\\', start);
        if (end == std::string::npos)
            end = subKey.size();
        if (end > start) {
            std::string part = subKey.substr(start, end - start);
            if (!hive::isStorableName(part))
                return false;
            parts.push_back(std::move(part));
        }
        start = end + 1;
    }
    return true;
}

using HiveTree = std::shared_ptr<const hive::Node>;

// The parsed tree of a hive file as last read or written by this process, with the stamp
// of that file. Kept only while a change of the file is sure to change its stamp.
struct KeptHive {
    std::string path;
    files::FileVersion stamp;
    HiveTree root;
};

std::mutex& keptMutex() {
    static std::mutex m;
    return m;
}

std::array<KeptHive, 3>& keptHives() {
    static std::array<KeptHive, 3> kept;
    return kept;
}

HiveTree keptTree(Hive hive, const std::string& path, const files::FileVersion& stamp) {
    const std::lock_guard<std::mutex> lock(keptMutex());
    const KeptHive& kept = keptHives()[hiveIndex(hive)];
    if (kept.root != nullptr && kept.path == path && kept.stamp == stamp)
        return kept.root;
    return nullptr;
}

void keepTree(Hive hive, const std::string& path, const files::FileVersion& stamp, HiveTree root) {
    const std::lock_guard<std::mutex> lock(keptMutex());
    keptHives()[hiveIndex(hive)] = KeptHive{path, stamp, std::move(root)};
}

HiveTree emptyHive(Hive hive) {
    auto root = std::make_shared<hive::Node>();
    root->name = rootName(hive);
    return root;
}

[[noreturn]] void cannotRead(const std::string& path, int error) {
    throw InOutError(format("Cannot read the registry file \"%s\". %s", path.c_str(),
                            systemErrorMessage(error).c_str()));
}

// The content of the hive's file as it is now; an empty hive when there is no file. The
// file is read and parsed only when its stamp differs from the one of the kept tree, so
// a change by any process is seen by the next call. A damaged file is never kept: every
// call reads it again and raises HiveFileError.
HiveTree loadHive(Hive hive) {
    const std::string path = hiveFile(hive);
    files::FileVersion now;
    const int missing = files::versionOf(path, now);
    if (missing == ENOENT || missing == ENOTDIR)
        return emptyHive(hive);
    if (missing == 0) {
        if (HiveTree kept = keptTree(hive, path, now))
            return kept;
    }
    std::string bytes;
    files::FileVersion stamp;
    const int error = files::readVersionedFile(path, bytes, stamp);
    if (error == ENOENT || error == ENOTDIR)
        return emptyHive(hive);
    if (error != 0)
        cannotRead(path, error);
    HiveTree root = hive::parse(bytes, rootName(hive), path);
    if (files::isSettled(stamp))
        keepTree(hive, path, stamp, root);
    return root;
}

template <typename Tree> Tree* findNode(Tree& root, const std::vector<std::string>& path) {
    Tree* node = &root;
    for (const std::string& part : path) {
        node = node->child(part);
        if (node == nullptr)
            return nullptr;
    }
    return node;
}

// Creates every missing folder of path.
bool makeFolders(const std::string& path) {
    if (files::directoryExists(path))
        return true;
    const size_t slash = path.rfind('/');
    if (slash != std::string::npos && slash > 0 && !makeFolders(path.substr(0, slash)))
        return false;
    return ::mkdir(path.c_str(), 0700) == 0 || errno == EEXIST;
}

// The advisory lock beside a hive file, held for one read-modify-rewrite.
class HiveLock final {
public:
    explicit HiveLock(Hive hive) : processLock_(changeMutex()) {
        const std::string folder = hiveFolder();
        if (!makeFolders(folder)) {
            error_ = errno;
            return;
        }
        const std::string path = folder + "/" + rootName(hive) + ".reg.lock";
        fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd_ < 0) {
            error_ = errno;
            return;
        }
        while (::flock(fd_, LOCK_EX) != 0) {
            if (errno != EINTR) {
                error_ = errno;
                return;
            }
        }
    }
    ~HiveLock() {
        if (fd_ >= 0)
            ::close(fd_); // closing the descriptor releases the lock
    }
    HiveLock(const HiveLock&) = delete;
    HiveLock& operator=(const HiveLock&) = delete;

    // ERROR_SUCCESS when the lock is held.
    LONG result() const {
        if (error_ == 0)
            return ERROR_SUCCESS;
        if (error_ == EACCES || error_ == EPERM || error_ == EROFS)
            return ERROR_ACCESS_DENIED;
        throw InOutError(format("Cannot lock the registry folder \"%s\". %s", hiveFolder().c_str(),
                                systemErrorMessage(error_).c_str()));
    }

private:
    std::lock_guard<std::mutex> processLock_;
    int fd_ = -1;
    int error_ = 0;
};

// Runs change on a copy of the hive as it is now, under the hive's lock, and writes the
// hive back when change reports success and that it changed something. The written tree
// is kept with the stamp of the new file: every other writer takes the same lock and
// replaces the file by a new one, which has another stamp.
template <typename Change> LONG changeHive(Hive hive, Change&& change) {
    if (isReadOnly(hive))
        return ERROR_ACCESS_DENIED;
    const HiveLock lock(hive);
    if (const LONG locked = lock.result(); locked != ERROR_SUCCESS)
        return locked;
    std::shared_ptr<hive::Node> root = loadHive(hive)->clone();
    bool changed = false;
    const LONG result = change(*root, changed);
    if (result == ERROR_SUCCESS && changed) {
        const std::string path = hiveFile(hive);
        files::replaceFile(path, hive::write(*root), 0600);
        files::FileVersion written;
        if (files::versionOf(path, written) == 0)
            keepTree(hive, path, written, std::move(root));
    }
    return result;
}

std::vector<std::string> joined(const Key* parent, const std::vector<std::string>& parts) {
    std::vector<std::string> path = parent->path;
    path.insert(path.end(), parts.begin(), parts.end());
    return path;
}

// The names along path as the hive stores them (path must exist in root).
std::vector<std::string> storedNames(const hive::Node& root, const std::vector<std::string>& path) {
    std::vector<std::string> names;
    const hive::Node* node = &root;
    for (const std::string& part : path) {
        node = node->child(part);
        names.push_back(node->name);
    }
    return names;
}

} // namespace

const HKEY HKEY_CLASSES_ROOT = &classesRootKey;
const HKEY HKEY_CURRENT_USER = &currentUserKey;
const HKEY HKEY_LOCAL_MACHINE = &localMachineKey;

HiveFileError::HiveFileError(const std::string& file, int line, const std::string& problem)
    : Error(format("Registry file \"%s\", line %d: %s", file.c_str(), line, problem.c_str())),
      file_(file), line_(line) {}

LONG RegCreateKeyEx(HKEY parent, const std::string& subKey, REGSAM access, HKEY* result,
                    DWORD* disposition) {
    if (result == nullptr)
        return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    if (!isValid(parent))
        return ERROR_INVALID_HANDLE;
    std::vector<std::string> parts;
    if (!splitPath(subKey, parts))
        return ERROR_INVALID_PARAMETER;
    const std::vector<std::string> path = joined(parent, parts);
    if (isReadOnly(parent->hive) && (access & kWriteRights) != 0)
        return ERROR_ACCESS_DENIED;

    const HiveTree current = loadHive(parent->hive);
    if (findNode(*current, path) != nullptr) {
        *result = newHandle(parent->hive, storedNames(*current, path), access);
        if (disposition != nullptr)
            *disposition = REG_OPENED_EXISTING_KEY;
        return ERROR_SUCCESS;
    }
    if (!isPredefined(parent) && findNode(*current, parent->path) == nullptr)
        return ERROR_KEY_DELETED;
    if ((parent->access & KEY_CREATE_SUB_KEY) == 0)
        return ERROR_ACCESS_DENIED;

    std::vector<std::string> names;
    DWORD how = REG_CREATED_NEW_KEY;
    const LONG changed = changeHive(parent->hive, [&](hive::Node& root, bool& modified) {
        if (findNode(root, path) != nullptr) {
            how = REG_OPENED_EXISTING_KEY; // another process created it meanwhile
        } else {
            hive::Node* node = &root;
            for (const std::string& part : path)
                node = &node->addChild(part);
            modified = true;
        }
        names = storedNames(root, path);
        return ERROR_SUCCESS;
    });
    if (changed != ERROR_SUCCESS)
        return changed;
    *result = newHandle(parent->hive, std::move(names), access);
    if (disposition != nullptr)
        *disposition = how;
    return ERROR_SUCCESS;
}

LONG RegOpenKeyEx(HKEY parent, const std::string& subKey, REGSAM access, HKEY* result) {
    if (result == nullptr)
        return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    if (!isValid(parent))
        return ERROR_INVALID_HANDLE;
    std::vector<std::string> parts;
    if (!splitPath(subKey, parts))
        return ERROR_INVALID_PARAMETER;
    const std::vector<std::string> path = joined(parent, parts);
    const HiveTree current = loadHive(parent->hive);
    if (findNode(*current, path) == nullptr)
        return ERROR_FILE_NOT_FOUND;
    if (isReadOnly(parent->hive) && (access & kWriteRights) != 0)
        return ERROR_ACCESS_DENIED;
    *result = newHandle(parent->hive, storedNames(*current, path), access);
    return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY key) {
    if (key == nullptr)
        return ERROR_INVALID_HANDLE;
    if (isPredefined(key))
        return ERROR_SUCCESS;
    {
        const std::lock_guard<std::mutex> lock(stateMutex());
        if (openHandles().erase(key) == 0)
            return ERROR_INVALID_HANDLE;
    }
    delete key;
    return ERROR_SUCCESS;
}

LONG RegQueryValueEx(HKEY key, const std::string& valueName, DWORD* type, std::string* data) {
    if (!isValid(key))
        return ERROR_INVALID_HANDLE;
    if ((key->access & KEY_QUERY_VALUE) == 0)
        return ERROR_ACCESS_DENIED;
    const HiveTree root = loadHive(key->hive);
    const hive::Node* node = findNode(*root, key->path);
    if (node == nullptr)
        return ERROR_KEY_DELETED;
    const hive::Value* value = node->value(valueName);
    if (value == nullptr)
        return ERROR_FILE_NOT_FOUND;
    if (type != nullptr)
        *type = value->type;
    if (data != nullptr)
        *data = value->data;
    return ERROR_SUCCESS;
}

LONG RegSetValueEx(HKEY key, const std::string& valueName, DWORD type, const std::string& data) {
    if (!isValid(key))
        return ERROR_INVALID_HANDLE;
    if (!hive::isStorableName(valueName))
        return ERROR_INVALID_PARAMETER;
    if ((key->access & KEY_SET_VALUE) == 0)
        return ERROR_ACCESS_DENIED;
    return changeHive(key->hive, [&](hive::Node& root, bool& modified) {
        hive::Node* node = findNode(root, key->path);
        if (node == nullptr)
            return ERROR_KEY_DELETED;
        node->setValue(valueName, type, data);
        modified = true;
        return ERROR_SUCCESS;
    });
}

LONG RegDeleteValue(HKEY key, const std::string& valueName) {
    if (!isValid(key))
        return ERROR_INVALID_HANDLE;
    if ((key->access & KEY_SET_VALUE) == 0)
        return ERROR_ACCESS_DENIED;
    return changeHive(key->hive, [&](hive::Node& root, bool& modified) {
        hive::Node* node = findNode(root, key->path);
        if (node == nullptr)
            return ERROR_KEY_DELETED;
        if (!node->removeValue(valueName))
            return ERROR_FILE_NOT_FOUND;
        modified = true;
        return ERROR_SUCCESS;
    });
}

namespace {

enum class Subkeys { MustBeNone, DeleteToo };

LONG deleteKey(HKEY parent, const std::string& subKey, Subkeys subkeys) {
    if (!isValid(parent))
        return ERROR_INVALID_HANDLE;
    std::vector<std::string> parts;
    if (!splitPath(subKey, parts))
        return ERROR_INVALID_PARAMETER;
    const std::vector<std::string> path = joined(parent, parts);
    return changeHive(parent->hive, [&](hive::Node& root, bool& modified) {
        hive::Node* node = findNode(root, path);
        if (node == nullptr)
            return parts.empty() ? ERROR_KEY_DELETED : ERROR_FILE_NOT_FOUND;
        if (subkeys == Subkeys::MustBeNone && !node->children.empty())
            return ERROR_ACCESS_DENIED;
        if (parts.empty() && subkeys == Subkeys::DeleteToo) {
            // RegDeleteTree without a subkey empties the key and keeps it.
            node->children.clear();
            node->values.clear();
        } else {
            if (path.empty())
                return ERROR_ACCESS_DENIED; // a hive's root cannot be deleted
            const std::vector<std::string> parentPath(path.begin(), path.end() - 1);
            findNode(root, parentPath)->removeChild(node);
        }
        modified = true;
        return ERROR_SUCCESS;
    });
}

} // namespace

LONG RegDeleteKey(HKEY parent, const std::string& subKey) {
    return deleteKey(parent, subKey, Subkeys::MustBeNone);
}

LONG RegDeleteTree(HKEY parent, const std::string& subKey) {
    return deleteKey(parent, subKey, Subkeys::DeleteToo);
}

LONG RegEnumKeyEx(HKEY key, DWORD index, std::string* name) {
    if (!isValid(key))
        return ERROR_INVALID_HANDLE;
    if ((key->access & KEY_ENUMERATE_SUB_KEYS) == 0)
        return ERROR_ACCESS_DENIED;
    const HiveTree root = loadHive(key->hive);
    const hive::Node* node = findNode(*root, key->path);
    if (node == nullptr)
        return ERROR_KEY_DELETED;
    if (index >= node->children.size())
        return ERROR_NO_MORE_ITEMS;
    if (name != nullptr)
        *name = node->children[index]->name;
    return ERROR_SUCCESS;
}

LONG RegEnumValue(HKEY key, DWORD index, std::string* name, DWORD* type, std::string* data) {
    if (!isValid(key))
        return ERROR_INVALID_HANDLE;
    if ((key->access & KEY_QUERY_VALUE) == 0)
        return ERROR_ACCESS_DENIED;
    const HiveTree root = loadHive(key->hive);
    const hive::Node* node = findNode(*root, key->path);
    if (node == nullptr)
        return ERROR_KEY_DELETED;
    if (index >= node->values.size())
        return ERROR_NO_MORE_ITEMS;
    const hive::Value& value = node->values[index];
    if (name != nullptr)
        *name = value.name;
    if (type != nullptr)
        *type = value.type;
    if (data != nullptr)
        *data = value.data;
    return ERROR_SUCCESS;
}

void setHiveFolder(const std::string& folder) {
    const std::lock_guard<std::mutex> lock(stateMutex());
    chosenFolder() = folder;
}

std::string hiveFolder() {
    {
        const std::lock_guard<std::mutex> lock(stateMutex());
        if (!chosenFolder().empty())
            return chosenFolder();
    }
    return defaultFolder();
}

void setHiveReadOnly(Hive hive, bool readOnly) {
    readOnlyHives()[hiveIndex(hive)].store(readOnly);
}

} // namespace fetchora::registry
