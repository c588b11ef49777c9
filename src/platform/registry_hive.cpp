// Reading and writing the REGEDIT4 text of a hive.
#include "platform/registry_hive.h"

#include "platform/format.h"
#include "platform/text.h"

#include <algorithm>

namespace fetchora::registry::hive {

namespace {

bool nameBefore(std::string_view a, std::string_view b) {
    const std::string la = text::ansiLowerCase(a);
    const std::string lb = text::ansiLowerCase(b);
    if (la != lb)
        return la < lb;
    return a < b;
}

std::string_view trimBlanks(std::string_view s) {
    size_t begin = 0;
    size_t end = s.size();
    while (begin < end && (s[begin] == ' ' || s[begin] == '\t'))
        ++begin;
    while (end > begin && (s[end - 1] == ' ' || s[end - 1] == '\t'))
        --end;
    return s.substr(begin, end - begin);
}

bool startsWithNoCase(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && text::asciiSameText(s.substr(0, prefix.size()), prefix);
}

// One to eight hexadecimal digits as a number; false for anything else.
bool parseHexNumber(std::string_view digits, uint32_t& result) {
    if (digits.empty() || digits.size() > 8)
        return false;
    result = 0;
    for (const char c : digits) {
        const int d = text::hexDigitValue(c);
        if (d < 0)
            return false;
        result = (result << 4) | static_cast<uint32_t>(d);
    }
    return true;
}

class Parser final {
public:
    Parser(std::string_view text, const std::string& rootName, const std::string& fileName)
        : rootName_(rootName), fileName_(fileName) {
        size_t start = 0;
        while (start <= text.size()) {
            size_t end = text.find('\n', start);
            if (end == std::string_view::npos)
                end = text.size();
            std::string_view line = text.substr(start, end - start);
            if (!line.empty() && line.back() == '\r')
                line.remove_suffix(1);
            lines_.push_back(line);
            start = end + 1;
        }
    }

    std::unique_ptr<Node> run() {
        auto root = std::make_unique<Node>();
        root->name = rootName_;
        size_t i = 0;
        while (i < lines_.size() && trimBlanks(lines_[i]).empty())
            ++i;
        if (i == lines_.size())
            return root;
        if (trimBlanks(lines_[i]) != "REGEDIT4")
            fail(i, "the file does not begin with the line REGEDIT4");
        Node* current = nullptr;
        for (++i; i < lines_.size(); ++i) {
            const std::string_view line = trimBlanks(lines_[i]);
            if (line.empty() || line.front() == ';')
                continue;
            if (line.front() == '[') {
                current = &keyLine(i, line, *root);
            } else if (line.front() == '@' || line.front() == '"') {
                if (current == nullptr)
                    fail(i, "a value stands before the first key");
                valueLine(i, line, *current);
            } else {
                fail(i, "unrecognised line \"" + std::string(line) + "\"");
            }
        }
        return root;
    }

private:
    [[noreturn]] void fail(size_t lineIndex, const std::string& problem) const {
        throw HiveFileError(fileName_, static_cast<int>(lineIndex + 1), problem);
    }

    Node& keyLine(size_t i, std::string_view line, Node& root) {
        if (line.size() < 2 || line.back() != ']')
            fail(i, "a key line must end with ']'");
        const std::string_view path = line.substr(1, line.size() - 2);
        if (!path.empty() && path.front() == '-')
            fail(i, "a key deletion cannot stand in a hive file");
        std::vector<std::string_view> parts;
        size_t start = 0;
        for (;;) {
            const size_t slash = path.find('\\', start);
            parts.push_back(path.substr(
                start, slash == std::string_view::npos ? std::string_view::npos : slash - start));
            if (slash == std::string_view::npos)
                break;
            start = slash + 1;
        }
        if (!text::ansiSameText(parts.front(), rootName_))
            fail(i, "the key \"" + std::string(path) + "\" does not lie under " + rootName_);
        Node* node = &root;
        for (size_t k = 1; k < parts.size(); ++k) {
            if (parts[k].empty())
                fail(i, "the key \"" + std::string(path) + "\" has an empty name in it");
            node = &node->addChild(parts[k]);
        }
        return *node;
    }

    // A quoted text starting at line[pos] (the opening quote), with the escapes \\ and \".
    std::string quoted(size_t i, std::string_view line, size_t& pos) const {
        std::string result;
        ++pos;
        while (pos < line.size()) {
            const char c = line[pos];
            if (c == '"') {
                ++pos;
                return result;
            }
            if (c == '\\') {
                if (pos + 1 >= line.size() || (line[pos + 1] != '\\' && line[pos + 1] != '"'))
                    fail(i,
                         R"(a backslash in a quoted text must be written \\ (or \" for a quote))");
                result += line[pos + 1];
                pos += 2;
                continue;
            }
            result += c;
            ++pos;
        }
        fail(i, "a quoted text has no closing quote");
    }

    void valueLine(size_t& i, std::string_view line, Node& key) {
        const size_t first = i;
        size_t pos = 0;
        std::string name;
        if (line.front() == '@')
            pos = 1;
        else
            name = quoted(i, line, pos);
        while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t'))
            ++pos;
        if (pos >= line.size() || line[pos] != '=')
            fail(i, "a value name must be followed by '='");
        const std::string_view rest = trimBlanks(line.substr(pos + 1));
        const std::string shownName =
            name.empty() ? std::string("the default value") : "the value \"" + name + "\"";
        if (key.value(name) != nullptr)
            fail(i, shownName + " is given twice in the key \"" + key.name + "\"");

        DWORD type = REG_SZ;
        std::string data;
        if (!rest.empty() && rest.front() == '"') {
            size_t end = 0;
            data = quoted(i, rest, end);
            if (!trimBlanks(rest.substr(end)).empty())
                fail(i, "unexpected text after the closing quote of " + shownName);
        } else if (startsWithNoCase(rest, "dword:")) {
            uint32_t number = 0;
            if (!parseHexNumber(rest.substr(6), number))
                fail(i, "a dword needs one to eight hexadecimal digits");
            type = REG_DWORD;
            for (int b = 0; b < 4; ++b)
                data += static_cast<char>((number >> (8 * b)) & 0xFF);
        } else if (startsWithNoCase(rest, "hex")) {
            const size_t colon = rest.find(':');
            if (colon == std::string_view::npos)
                fail(i, "a hexadecimal value needs ':' after hex or hex(type)");
            const std::string_view kind = rest.substr(3, colon - 3);
            if (kind.empty()) {
                type = REG_BINARY;
            } else {
                uint32_t number = 0;
                if (kind.size() < 3 || kind.front() != '(' || kind.back() != ')' ||
                    !parseHexNumber(kind.substr(1, kind.size() - 2), number))
                    fail(i, "the type of a hexadecimal value is written hex(N), N in hexadecimal");
                type = number;
            }
            std::string joined(rest.substr(colon + 1));
            while (!joined.empty() && joined.back() == '\\') {
                joined.pop_back();
                if (i + 1 >= lines_.size())
                    fail(first, "the file ends inside the continued list of " + shownName);
                ++i;
                joined += trimBlanks(lines_[i]);
            }
            data = bytes(first, joined);
            if ((type == REG_SZ || type == REG_EXPAND_SZ) && !data.empty() && data.back() == '\0')
                data.pop_back();
        } else if (rest == "-") {
            fail(i, "a value deletion cannot stand in a hive file");
        } else {
            fail(i, "unknown kind of data for " + shownName);
        }
        key.values.push_back({name, type, data});
    }

    std::string bytes(size_t i, std::string_view list) const {
        std::string result;
        if (trimBlanks(list).empty())
            return result;
        size_t start = 0;
        for (;;) {
            const size_t comma = list.find(',', start);
            const std::string_view token = trimBlanks(list.substr(
                start, comma == std::string_view::npos ? std::string_view::npos : comma - start));
            uint32_t byte = 0;
            if (token.size() > 2 || !parseHexNumber(token, byte))
                fail(i, "\"" + std::string(token) + "\" is not a hexadecimal byte");
            result += static_cast<char>(byte);
            if (comma == std::string_view::npos)
                break;
            start = comma + 1;
        }
        return result;
    }

    std::vector<std::string_view> lines_;
    const std::string& rootName_;
    const std::string& fileName_;
};

std::string quote(std::string_view s) {
    std::string result = "\"";
    for (const char c : s) {
        if (c == '\\' || c == '"')
            result += '\\';
        result += c;
    }
    return result + '"';
}

// The bytes as "prefix" followed by a comma-separated list, wrapped before column 80.
void appendHexList(std::string& out, const std::string& prefix, std::string_view data) {
    std::string line = prefix;
    for (size_t k = 0; k < data.size(); ++k) {
        std::string token = format("%02x", static_cast<unsigned char>(data[k]));
        if (k + 1 < data.size())
            token += ',';
        if (line.size() + token.size() > 77 && line.size() > 2) {
            out += line + "\\\n";
            line = "  ";
        }
        line += token;
    }
    out += line + "\n";
}

void appendValue(std::string& out, const Value& value) {
    const std::string name = (value.name.empty() ? std::string("@") : quote(value.name)) + "=";
    const bool plainText =
        value.data.find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos;
    if (value.type == REG_SZ && plainText) {
        out += name + quote(value.data) + "\n";
    } else if (value.type == REG_DWORD && value.data.size() == 4) {
        uint32_t number = 0;
        for (int b = 3; b >= 0; --b)
            number = (number << 8) | static_cast<unsigned char>(value.data[static_cast<size_t>(b)]);
        out += name + format("dword:%08x", number) + "\n";
    } else if (value.type == REG_BINARY) {
        appendHexList(out, name + "hex:", value.data);
    } else if (value.type == REG_SZ || value.type == REG_EXPAND_SZ) {
        appendHexList(out, name + format("hex(%x):", value.type), value.data + '\0');
    } else {
        appendHexList(out, name + format("hex(%x):", value.type), value.data);
    }
}

void appendKey(std::string& out, const Node& node, const std::string& path, bool isRoot) {
    if (!isRoot || !node.values.empty()) {
        out += "\n[" + path + "]\n";
        for (const Value& value : node.values)
            appendValue(out, value);
    }
    for (const auto& child : node.children)
        appendKey(out, *child, path + "\\" + child->name, false);
}

} // namespace

Node* Node::child(std::string_view childName) const {
    for (const auto& c : children) {
        if (text::ansiSameText(c->name, childName))
            return c.get();
    }
    return nullptr;
}

Node& Node::addChild(std::string_view childName) {
    if (Node* existing = child(childName))
        return *existing;
    auto node = std::make_unique<Node>();
    node->name = std::string(childName);
    const auto place = std::find_if(children.begin(), children.end(),
                                    [&](const auto& c) { return nameBefore(childName, c->name); });
    return **children.insert(place, std::move(node));
}

bool Node::removeChild(const Node* node) {
    const auto found = std::find_if(children.begin(), children.end(),
                                    [&](const auto& c) { return c.get() == node; });
    if (found == children.end())
        return false;
    children.erase(found);
    return true;
}

Value* Node::value(std::string_view valueName) {
    for (Value& v : values) {
        if (text::ansiSameText(v.name, valueName))
            return &v;
    }
    return nullptr;
}

const Value* Node::value(std::string_view valueName) const {
    for (const Value& v : values) {
        if (text::ansiSameText(v.name, valueName))
            return &v;
    }
    return nullptr;
}

std::unique_ptr<Node> Node::clone() const {
    auto copy = std::make_unique<Node>();
    copy->name = name;
    copy->values = values;
    copy->children.reserve(children.size());
    for (const auto& c : children)
        copy->children.push_back(c->clone());
    return copy;
}

void Node::setValue(std::string_view valueName, DWORD type, const std::string& data) {
    if (Value* existing = value(valueName)) {
        existing->type = type;
        existing->data = data;
        return;
    }
    Value v{std::string(valueName), type, data};
    // The default value leads its key, as regedit lists it.
    if (valueName.empty())
        values.insert(values.begin(), std::move(v));
    else
        values.push_back(std::move(v));
}

bool Node::removeValue(std::string_view valueName) {
    const auto found = std::find_if(values.begin(), values.end(), [&](const Value& v) {
        return text::ansiSameText(v.name, valueName);
    });
    if (found == values.end())
        return false;
    values.erase(found);
    return true;
}

std::unique_ptr<Node> parse(std::string_view text, const std::string& rootName,
                            const std::string& fileName) {
    return Parser(text, rootName, fileName).run();
}

std::string write(const Node& root) {
    std::string out = "REGEDIT4\n";
    appendKey(out, root, root.name, true);
    return out;
}

bool isStorableName(std::string_view name) {
    return name.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

} // namespace fetchora::registry::hive
