// The MENU statement parser: a small tokenizer (words, numbers, strings, "{", "}", ","),
// then one recursive descent over menus, blocks and items.
#include "platform/resources/menu_template.h"

#include "platform/format.h"

#include <cctype>
#include <optional>
#include <utility>

namespace fetchora::resources {

ResourceScriptError::ResourceScriptError(int line, int column, const std::string& problem)
    : Error(format("Resource script, line %d, column %d: %s", line, column, problem.c_str())),
      line_(line), column_(column) {}

namespace {

constexpr unsigned kLargestId = 0xFFFF;

enum class TokenKind { Word, Number, String, Open, Close, Comma, End };

struct Token {
    TokenKind kind = TokenKind::End;
    std::string text; // a word or number as written; a string's value
    int line = 1;
    int column = 1;
};

bool isWordStart(char c) {
    return std::isalpha(static_cast<unsigned char>(c)) != 0 || c == '_';
}

bool isWordPart(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_';
}

char upper(char c) {
    return static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
}

bool sameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (upper(a[i]) != upper(b[i]))
            return false;
    }
    return true;
}

// What a message calls the token: its text in quotes, or "the end of the script".
std::string describe(const Token& token) {
    switch (token.kind) {
    case TokenKind::End:
        return "the end of the script";
    case TokenKind::String:
        return "the string \"" + token.text + "\"";
    case TokenKind::Open:
        return "\"{\"";
    case TokenKind::Close:
        return "\"}\"";
    case TokenKind::Comma:
        return "\",\"";
    case TokenKind::Word:
    case TokenKind::Number:
        break;
    }
    return "\"" + token.text + "\"";
}

class Tokenizer final {
public:
    explicit Tokenizer(std::string_view script) : script_(script) {}

    Token next() {
        skipBlanksAndComments();
        Token token;
        token.line = line_;
        token.column = column_;
        if (atEnd())
            return token;
        const char c = peek();
        if (c == '{' || c == '}' || c == ',') {
            advance();
            token.kind = c == '{'   ? TokenKind::Open
                         : c == '}' ? TokenKind::Close
                                    : TokenKind::Comma;
            token.text = std::string(1, c);
            return token;
        }
        if (c == '"') {
            token.kind = TokenKind::String;
            token.text = readString(token);
            return token;
        }
        if (std::isdigit(static_cast<unsigned char>(c)) != 0) {
            token.kind = TokenKind::Number;
            while (!atEnd() && isWordPart(peek()))
                token.text += advance();
            return token;
        }
        if (isWordStart(c)) {
            token.kind = TokenKind::Word;
            while (!atEnd() && isWordPart(peek()))
                token.text += advance();
            return token;
        }
        throw ResourceScriptError(line_, column_, format("unexpected character '%c'", c));
    }

private:
    bool atEnd() const { return pos_ >= script_.size(); }
    char peek(size_t ahead = 0) const {
        return pos_ + ahead < script_.size() ? script_[pos_ + ahead] : '\0';
    }
    char advance() {
        const char c = script_[pos_++];
        if (c == '\n') {
            ++line_;
            column_ = 1;
        } else {
            ++column_;
        }
        return c;
    }

    void skipBlanksAndComments() {
        while (!atEnd()) {
            const char c = peek();
            if (std::isspace(static_cast<unsigned char>(c)) != 0) {
                advance();
            } else if (c == '/' && peek(1) == '/') {
                while (!atEnd() && peek() != '\n')
                    advance();
            } else if (c == '/' && peek(1) == '*') {
                const int line = line_;
                const int column = column_;
                advance();
                advance();
                while (!atEnd() && !(peek() == '*' && peek(1) == '/'))
                    advance();
                if (atEnd())
                    throw ResourceScriptError(line, column, "comment is not closed");
                advance();
                advance();
            } else {
                return;
            }
        }
    }

    // A string in double quotes: "" stands for one quote; \t, \a, \n, \\ and \" are the
    // escapes of resource scripts. A string ends on its line.
    std::string readString(const Token& start) {
        std::string value;
        advance(); // the opening quote
        while (true) {
            if (atEnd() || peek() == '\n')
                throw ResourceScriptError(start.line, start.column, "string is not closed");
            const char c = advance();
            if (c == '"') {
                if (peek() != '"')
                    return value;
                advance();
                value += '"';
            } else if (c == '\\') {
                value += escape();
            } else {
                value += c;
            }
        }
    }

    char escape() {
        const int line = line_;
        const int column = column_ - 1;
        const char c = atEnd() ? '\0' : advance();
        switch (c) {
        case 't':
            return '\t';
        case 'a':
            return '\b'; // right-aligns the text after it, as in the original format
        case 'n':
            return '\n';
        case '\\':
            return '\\';
        case '"':
            return '"';
        default:
            throw ResourceScriptError(line, column,
                                      format(R"(unknown escape "\%c" in a string)", c));
        }
    }

    std::string_view script_;
    size_t pos_ = 0;
    int line_ = 1;
    int column_ = 1;
};

struct Option {
    const char* name;
    unsigned flag;
};

constexpr Option kItemOptions[] = {
    {"CHECKED", MF_CHECKED},           {"GRAYED", MF_GRAYED},       {"INACTIVE", MF_DISABLED},
    {"MENUBARBREAK", MF_MENUBARBREAK}, {"MENUBREAK", MF_MENUBREAK}, {"HELP", MF_HELP},
};

constexpr const char* kMemoryOptions[] = {"PRELOAD",     "LOADONCALL", "FIXED", "MOVEABLE",
                                          "DISCARDABLE", "PURE",       "IMPURE"};

class Parser final {
public:
    explicit Parser(std::string_view script) : tokens_(script) { take(); }

    std::vector<MenuTemplate> script() {
        std::vector<MenuTemplate> menus;
        while (current_.kind != TokenKind::End) {
            const Token nameToken = current_;
            MenuTemplate menu = this->menu();
            for (const MenuTemplate& earlier : menus) {
                if (sameName(earlier.name, menu.name))
                    throw ResourceScriptError(nameToken.line, nameToken.column,
                                              "a second menu named " + menu.name);
            }
            menus.push_back(std::move(menu));
        }
        return menus;
    }

private:
    void take() { current_ = tokens_.next(); }

    [[noreturn]] void fail(const std::string& expected) const {
        throw ResourceScriptError(current_.line, current_.column,
                                  "expected " + expected + ", found " + describe(current_));
    }

    bool isKeyword(const char* keyword) const {
        return current_.kind == TokenKind::Word && sameName(current_.text, keyword);
    }

    bool isOpen() const { return current_.kind == TokenKind::Open || isKeyword("BEGIN"); }
    bool isClose() const { return current_.kind == TokenKind::Close || isKeyword("END"); }

    // name MENU [memory options] BEGIN items END
    MenuTemplate menu() {
        if (current_.kind != TokenKind::Word && current_.kind != TokenKind::Number)
            fail("the name of a menu");
        MenuTemplate menu;
        menu.name = current_.text;
        take();
        if (!isKeyword("MENU"))
            fail("MENU after the name " + menu.name);
        take();
        while (isMemoryOption())
            take();
        menu.items = block("BEGIN or \"{\" to open the menu " + menu.name);
        return menu;
    }

    bool isMemoryOption() const {
        for (const char* option : kMemoryOptions) {
            if (isKeyword(option))
                return true;
        }
        return false;
    }

    std::vector<MenuItemTemplate> block(const std::string& opening) {
        if (!isOpen())
            fail(opening);
        const Token open = current_;
        take();
        std::vector<MenuItemTemplate> items;
        while (!isClose()) {
            if (current_.kind == TokenKind::End)
                throw ResourceScriptError(open.line, open.column,
                                          "the block opened here is not closed with END or \"}\"");
            items.push_back(item());
        }
        take();
        return items;
    }

    MenuItemTemplate item() {
        if (isKeyword("MENUITEM")) {
            take();
            return menuItem();
        }
        if (isKeyword("POPUP")) {
            take();
            return popup();
        }
        fail("MENUITEM, POPUP, END or \"}\"");
    }

    // MENUITEM SEPARATOR | MENUITEM "text", id [[,] option]...
    MenuItemTemplate menuItem() {
        MenuItemTemplate item;
        if (isKeyword("SEPARATOR")) {
            take();
            item.flags = MF_SEPARATOR;
            return item;
        }
        if (current_.kind != TokenKind::String)
            fail("the text of a MENUITEM in double quotes, or SEPARATOR");
        item.text = current_.text;
        take();
        if (current_.kind != TokenKind::Comma)
            fail(R"("," and the command id after ")" + item.text + "\"");
        take();
        item.id = commandId();
        item.flags = options();
        return item;
    }

    // POPUP "text" [[,] option]... BEGIN items END
    MenuItemTemplate popup() {
        MenuItemTemplate item;
        if (current_.kind != TokenKind::String)
            fail("the text of a POPUP in double quotes");
        item.text = current_.text;
        take();
        item.flags = MF_POPUP | options();
        item.items = block(R"(BEGIN or "{" to open the POPUP ")" + item.text + "\"");
        return item;
    }

    unsigned commandId() {
        if (current_.kind != TokenKind::Number)
            fail("a command id (a number)");
        const std::optional<unsigned> id = number(current_.text);
        if (!id || *id > kLargestId)
            throw ResourceScriptError(current_.line, current_.column,
                                      "command id " + current_.text +
                                          " is not a number from 0 to 65535");
        take();
        return *id;
    }

    static std::optional<unsigned> number(const std::string& text) {
        unsigned long value = 0;
        size_t i = 0;
        int base = 10;
        if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
            base = 16;
            i = 2;
        }
        for (; i < text.size(); ++i) {
            const char c = upper(text[i]);
            int digit = 0;
            if (c >= '0' && c <= '9')
                digit = c - '0';
            else if (base == 16 && c >= 'A' && c <= 'F')
                digit = c - 'A' + 10;
            else
                return std::nullopt;
            value = value * static_cast<unsigned long>(base) + static_cast<unsigned long>(digit);
            if (value > kLargestId)
                return std::nullopt;
        }
        return static_cast<unsigned>(value);
    }

    // Options follow a comma or a blank: ", CHECKED GRAYED" and ", CHECKED, GRAYED".
    unsigned options() {
        unsigned flags = 0;
        while (true) {
            if (current_.kind == TokenKind::Comma) {
                take();
                if (!optionFlag())
                    fail("an option (CHECKED, GRAYED, INACTIVE, MENUBARBREAK, MENUBREAK, HELP)");
            }
            const std::optional<unsigned> flag = optionFlag();
            if (!flag)
                return flags;
            flags |= *flag;
            take();
        }
    }

    std::optional<unsigned> optionFlag() const {
        for (const Option& option : kItemOptions) {
            if (isKeyword(option.name))
                return option.flag;
        }
        return std::nullopt;
    }

    Tokenizer tokens_;
    Token current_;
};

} // namespace

std::vector<MenuTemplate> parseMenuScript(std::string_view script) {
    return Parser(script).script();
}

} // namespace fetchora::resources
