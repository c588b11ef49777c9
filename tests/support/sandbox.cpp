// The shared fixtures: each case's temporary library and hive folders, and the scripted
// desktop that records message boxes and answers them from its queue.
#include "support/sandbox.h"

#include "platform/registry.h"
#include "util/library_path.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>

namespace fetchora::testing {

Sandbox::Sandbox() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "fetchora-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("cannot create a temporary folder");
    root_ = pattern;
    ::mkdir(libraryFolder().c_str(), 0700);
    ::mkdir((root_ + "/registry").c_str(), 0700);
    previousHiveFolder_ = registry::hiveFolder();
    registry::setHiveFolder(root_ + "/registry");
    registry::setHiveReadOnly(registry::Hive::ClassesRoot, false);
    registry::setHiveReadOnly(registry::Hive::CurrentUser, false);
    registry::setHiveReadOnly(registry::Hive::LocalMachine, false);
    setLibraryFolderOverride(libraryFolder());
}

Sandbox::~Sandbox() {
    setLibraryFolderOverride("");
    registry::setHiveFolder(previousHiveFolder_);
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
}

std::string Sandbox::readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void Sandbox::writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

ScriptedDesktop::ScriptedDesktop() : previous_(ui::currentHooks()) {
    ui::Hooks hooks;
    hooks.messageBox = [this](const ui::MessageRequest& request) {
        messages.push_back(request);
        if (answers.empty())
            return ui::MessageResult::Ok;
        const ui::MessageResult answer = answers.front();
        answers.pop_front();
        return answer;
    };
    hooks.beep = [this] { ++beeps; };
    hooks.openAddress = [this](const std::string& address) { openedAddresses.push_back(address); };
    hooks.pickFolder = [this](const std::string&,
                              const std::string&) -> std::optional<std::string> {
        if (folders.empty())
            return std::nullopt;
        auto folder = folders.front();
        folders.pop_front();
        return folder;
    };
    ui::setHooks(hooks);
}

ScriptedDesktop::~ScriptedDesktop() {
    ui::setHooks(previous_);
}

std::vector<std::string> ScriptedDesktop::texts() const {
    std::vector<std::string> result;
    for (const auto& m : messages)
        result.push_back(m.text);
    return result;
}

} // namespace fetchora::testing
