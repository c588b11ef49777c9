// The engine's error texts, by code, and the ERegex exception that carries them.
#include "regex/regex.h"

namespace fetchora {

std::string regexErrorText(int code) {
    switch (code) {
    case 0:
        return "No errors";
    case 100:
        return "TRegex(comp): Null Argument";
    case 101:
        return "TRegex(comp): Regexp Too Big";
    case 102:
        return "TRegex(comp): ParseReg Too Many ()";
    case 103:
    case 104:
        return "TRegex(comp): ParseReg Unmatched ()";
    case 105:
        return "TRegex(comp): ParseReg Junk On End";
    case 106:
        return "TRegex(comp): *+ Operand Could Be Empty";
    case 107:
        return "TRegex(comp): Nested *?+";
    case 108:
        return "TRegex(comp): Bad Hex Digit";
    case 109:
        return "TRegex(comp): Invalid [] Range";
    case 110:
        return "TRegex(comp): Parse Atom Trailing \\";
    case 111:
        return "TRegex(comp): No Hex Code After \\x";
    case 112:
        return "TRegex(comp): Hex Code After \\x Is Too Big";
    case 113:
        return "TRegex(comp): Unmatched []";
    case 114:
        return "TRegex(comp): Internal Urp";
    case 115:
        return "TRegex(comp): ?+*{ Follows Nothing";
    case 116:
        return "TRegex(comp): Trailing \\";
    case 119:
        return "TRegex(comp): RarseAtom Internal Disaster";
    case 122:
        return "TRegex(comp): BRACES Argument Too Big";
    case 124:
        return "TRegex(comp): BRACE Min Param Greater then Max";
    case 125:
        return "TRegex(comp): Unclosed (?#Comment)";
    case 127:
        return "TRegex(comp): Urecognized Modifier";
    case 128:
        return "TRegex(comp): LinePairedSeparator must countain two different chars or no chars "
               "at all";
    case 1000:
        return "TRegex(exec): RegRepeat Called Inappropriately";
    case 1001:
        return "TRegex(exec): MatchPrim Memory Corruption";
    case 1002:
        return "TRegex(exec): MatchPrim Corrupted Pointers";
    case 1003:
        return "TRegex(exec): Not Assigned Expression Property";
    case 1004:
        return "TRegex(exec): Corrupted Program";
    case 1005:
        return "TRegex(exec): No Inpit String Specified";
    case 1006:
        return "TRegex(exec): Offset Must Be Greater Then 0";
    case 1007:
        return "TRegex(exec): ExecNext Without Exec[Pos]";
    case 1008:
        return "TRegex(exec): GetInputString Without InputString";
    case 1011:
        return "TRegex(dump): Corrupted Opcode";
    case 1014:
        return "TRegex(exec): Loop Stack Exceeded";
    case 1015:
        return "TRegex(exec): Loop Without LoopEntry !";
    case kRegexErrorStackExceeded:
        return "TRegex(exec): Backtracking Too Deep For The Matcher's Stack";
    case kRegexErrorStepLimit:
        return "TRegex(exec): Backtracking Step Limit Exceeded";
    default:
        return "Unknown error";
    }
}

namespace {

std::string regexMessage(int code, int position) {
    std::string message = regexErrorText(code);
    if (code < 1000)
        message += " (pos " + std::to_string(position) + ")";
    return message;
}

} // namespace

ERegex::ERegex(int code, int position)
    : Error(regexMessage(code, position)), Code(code), Position(code < 1000 ? position : 0) {}

} // namespace fetchora
