// The in-memory tree of one registry hive and its REGEDIT4 text form: the parser that
// reads a hive file (raising HiveFileError with the file and line of anything it cannot
// read) and the deterministic writer that produces it.
#pragma once

#include "platform/registry.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace fetchora::registry::hive {

struct Value {
    std::string name; // "" is the default value ("@" in the file)
    DWORD type = REG_SZ;
    std::string data;
};

// One key: its name as it was created, its values in creation order (the default value
// first when it has one) and its subkeys ordered by name without regard to case.
struct Node {
    std::string name;
    std::vector<Value> values;
    std::vector<std::unique_ptr<Node>> children;

    Node* child(std::string_view childName) const;
    // The existing child of that name, or a new one in its sorted place.
    Node& addChild(std::string_view childName);
    bool removeChild(const Node* node);

    Value* value(std::string_view valueName);
    const Value* value(std::string_view valueName) const;
    void setValue(std::string_view valueName, DWORD type, const std::string& data);
    bool removeValue(std::string_view valueName);

    // A deep copy of this key and everything below it.
    std::unique_ptr<Node> clone() const;
};

// Parses the text of a hive file whose keys all lie under rootName (such as
// "HKEY_CURRENT_USER"); fileName only names the file in errors. An empty text is an
// empty hive.
std::unique_ptr<Node> parse(std::string_view text, const std::string& rootName,
                            const std::string& fileName);

// The REGEDIT4 text of the tree: LF line ends, keys depth-first in their order, long
// hexadecimal lists continued with a trailing backslash.
std::string write(const Node& root);

// Whether a key or value name can be written to and read back from a hive file.
bool isStorableName(std::string_view name);

} // namespace fetchora::registry::hive
