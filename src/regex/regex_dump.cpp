// A readable listing of a compiled program, one node per line in the order of the bytes:
// "offset: NAME operand -> next". Tests compare it to check the emitted structure.
#include "regex/regex.h"
#include "regex/regex_program.h"

#include <cstring>

namespace fetchora::regex {

namespace {

const char* opName(std::uint8_t op) {
    switch (op) {
    case OpEnd:
        return "END";
    case OpBol:
        return "BOL";
    case OpEol:
        return "EOL";
    case OpAny:
        return "ANY";
    case OpBranch:
        return "BRANCH";
    case OpBack:
        return "BACK";
    case OpExactly:
        return "EXACTLY";
    case OpNothing:
        return "NOTHING";
    case OpStar:
        return "STAR";
    case OpPlus:
        return "PLUS";
    case OpDigit:
        return "DIGIT";
    case OpNotDigit:
        return "NOTDIGIT";
    case OpBraces:
        return "BRACES";
    case OpComment:
        return "COMMENT";
    case OpExactlyCI:
        return "EXACTLYCI";
    case OpLoopEntry:
        return "LOOPENTRY";
    case OpLoop:
        return "LOOP";
    case OpAnyOfTiny:
        return "ANYOFTINY";
    case OpAnyButTiny:
        return "ANYBUTTINY";
    case OpAnyOfFull:
        return "ANYOFFULL";
    case OpBackRef:
        return "BACKREF";
    case OpBackRefCI:
        return "BACKREFCI";
    case OpStarNG:
        return "STARNG";
    case OpPlusNG:
        return "PLUSNG";
    case OpBracesNG:
        return "BRACESNG";
    case OpLoopNG:
        return "LOOPNG";
    case OpBolML:
        return "BOLML";
    case OpEolML:
        return "EOLML";
    case OpAnyML:
        return "ANYML";
    default:
        return nullptr;
    }
}

void appendChar(std::string& out, unsigned char c) {
    static const char* const hex = "0123456789ABCDEF";
    if (c >= 33 && c < 127 && c != '\\' && c != '"' && c != '-' && c != ']') {
        out += static_cast<char>(c);
        return;
    }
    out += "\\x";
    out += hex[c >> 4];
    out += hex[c & 15];
}

// Members of a 32-byte set as ranges: "a-z_".
std::string setText(const std::uint8_t* bits) {
    std::string out;
    for (int c = 0; c < 256;) {
        if (!setHas(bits, static_cast<unsigned char>(c))) {
            ++c;
            continue;
        }
        int last = c;
        while (last + 1 < 256 && setHas(bits, static_cast<unsigned char>(last + 1)))
            ++last;
        appendChar(out, static_cast<unsigned char>(c));
        if (last > c) {
            if (last > c + 1)
                out += '-';
            appendChar(out, static_cast<unsigned char>(last));
        }
        c = last + 1;
    }
    return out;
}

} // namespace

std::string dumpProgram(const Program& program) {
    std::string out;
    int node = Program::kFirstNode;
    while (node + kNodeHeader <= program.size) {
        const std::uint8_t op = program.op(node);
        const std::uint8_t* operand = program.operand(node);
        std::string name;
        if (isOpen(op))
            name = "OPEN" + std::to_string(op - OpOpen + 1);
        else if (isClose(op))
            name = "CLOSE" + std::to_string(op - OpClose + 1);
        else if (const char* known = opName(op))
            name = known;
        else
            throw ERegex(1011, 0);

        out += std::to_string(node) + ": " + name;
        int operandSize = 0;
        switch (op) {
        case OpExactly:
        case OpExactlyCI: {
            const std::size_t n = std::strlen(reinterpret_cast<const char*>(operand));
            out += " \"";
            for (std::size_t i = 0; i < n; ++i)
                appendChar(out, operand[i]);
            out += '"';
            operandSize = static_cast<int>(n) + 1;
            break;
        }
        case OpBraces:
        case OpBracesNG:
            out += " {" + std::to_string(program.operandInt(node, 0)) + "," +
                   std::to_string(program.operandInt(node, 1)) + "}";
            operandSize = 8;
            break;
        case OpLoop:
        case OpLoopNG:
            out += " {" + std::to_string(program.operandInt(node, 0)) + "," +
                   std::to_string(program.operandInt(node, 1)) + "} body " +
                   std::to_string(node + program.operandInt(node, 2));
            operandSize = 12;
            break;
        case OpAnyOfTiny:
        case OpAnyButTiny:
            out += " [";
            for (int i = 0; i < 3; ++i)
                appendChar(out, operand[i]);
            out += ']';
            operandSize = 3;
            break;
        case OpAnyOfFull:
            out += " [" + setText(operand) + "]";
            operandSize = 32;
            break;
        case OpBackRef:
        case OpBackRefCI:
            out += " \\" + std::to_string(operand[0]);
            operandSize = 1;
            break;
        default:
            break;
        }
        const int next = program.next(node);
        if (next != -1)
            out += " -> " + std::to_string(next);
        out += '\n';
        node += kNodeHeader + operandSize;
    }
    return out;
}

} // namespace fetchora::regex
