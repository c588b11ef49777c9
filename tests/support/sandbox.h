// Test fixtures shared by every test: a temporary folder that stands in for the library
// folder and the registry, and a scripted desktop that answers message boxes, the folder
// browser and modal dialogs instead of a person.
#pragma once

#include "platform/ui.h"

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace fetchora::testing {

// A fresh temporary folder for one test: the library folder (data files) is
// <root>/lib and the registry hives are <root>/registry. Everything is removed and the
// previous settings restored when the sandbox goes.
class Sandbox final {
public:
    Sandbox();
    ~Sandbox();
    Sandbox(const Sandbox&) = delete;
    Sandbox& operator=(const Sandbox&) = delete;

    const std::string& root() const { return root_; }
    std::string libraryFolder() const { return root_ + "/lib"; }
    // A path inside the library folder.
    std::string libraryPath(const std::string& name) const { return libraryFolder() + "/" + name; }
    // A path under the root, for the test's own files.
    std::string path(const std::string& name) const { return root_ + "/" + name; }

    static std::string readFile(const std::string& path);
    static void writeFile(const std::string& path, const std::string& bytes);

private:
    std::string root_;
    std::string previousHiveFolder_;
};

// Installs hooks that record every message box, beep, opened address and folder
// request, answering from queues (OK, no folder when a queue is empty). Restores the
// previous hooks when it goes.
class ScriptedDesktop final {
public:
    ScriptedDesktop();
    ~ScriptedDesktop();
    ScriptedDesktop(const ScriptedDesktop&) = delete;
    ScriptedDesktop& operator=(const ScriptedDesktop&) = delete;

    std::vector<ui::MessageRequest> messages;
    std::deque<ui::MessageResult> answers;
    int beeps = 0;
    std::vector<std::string> openedAddresses;
    std::deque<std::optional<std::string>> folders;

    // The texts of the recorded message boxes, in order.
    std::vector<std::string> texts() const;

private:
    ui::Hooks previous_;
};

} // namespace fetchora::testing
