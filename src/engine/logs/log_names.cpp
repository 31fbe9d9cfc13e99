#include "engine/logs/log_names.h"

namespace engine {
namespace {

// C0 controls, DEL and the C1 controls: never in a name we make, never raw
// in a message.
bool is_control(WCHAR b) {
    return b < 0x20 || (b >= 0x7F && b <= 0x9F);
}

bool is_forbidden(WCHAR b) {
    if (is_control(b))
        return true;
    switch (b) {
        case '\\':
        case '/':
        case ':':
        case '*':
        case '?':
        case '"':
        case '<':
        case '>':
        case '|':
            return true;
        default:
            return false;
    }
}

WCHAR upper(WCHAR b) {
    return b >= 'a' && b <= 'z' ? static_cast<WCHAR>(b - 32) : b;
}

bool base_is(const WCHAR* base, uint32_t length, const char* word) {
    uint32_t i = 0;
    for (; word[i] != 0; ++i) {
        if (i == length || upper(base[i]) != static_cast<WCHAR>(word[i]))
            return false;
    }
    return i == length;
}

// COM and LPT take a digit, or the superscripts ¹ ² ³ (which Windows also
// reserves), as their fourth character.
bool is_port_number(WCHAR b) {
    return (b >= '0' && b <= '9') || b == 0xB9 || b == 0xB2 || b == 0xB3;
}

// Windows reserves these names in every folder, with any extension: the part
// before the first dot decides.
bool is_device(const LogName& name) {
    const WCHAR* base = name.units;
    uint32_t length = 0;
    while (length < name.length && base[length] != '.')
        ++length;
    static const char* const WORDS[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (const char* word : WORDS) {
        if (base_is(base, length, word))
            return true;
    }
    return length == 4 && (base_is(base, 3, "COM") || base_is(base, 3, "LPT")) &&
           is_port_number(base[3]);
}

}  // namespace

LogName log_file_name(const char name11[11]) {
    char bytes[12];
    uint32_t length = 0;
    for (int i = 0; i < 8; ++i) {
        if (name11[i] != ' ')
            bytes[length++] = name11[i];
    }
    if (name11[8] != ' ') {
        bytes[length++] = '.';
        bytes[length++] = name11[8];
        for (int i = 9; i < 11; ++i) {
            if (name11[i] != ' ')
                bytes[length++] = name11[i];
        }
    }
    LogName name;
    if (length == 0)
        return name;
    const int made = sys::MultiByteToWideChar(CP_OEMCP, 0, bytes, static_cast<int>(length),
                                              name.units, static_cast<int>(length));
    if (made != static_cast<int>(length)) {
        // Without the code page, each byte stands for itself, and a byte
        // above ASCII for a character no name may hold.
        for (uint32_t i = 0; i < length; ++i) {
            const uint8_t b = static_cast<uint8_t>(bytes[i]);
            name.units[i] = b < 0x80 ? b : WCHAR{0x7F};
        }
    }
    name.length = length;
    return name;
}

LogName numbered_name(const LogName& name, uint32_t n) {
    uint32_t dot = name.length;
    for (uint32_t i = 0; i < name.length; ++i) {
        if (name.units[i] == '.') {
            dot = i;
            break;
        }
    }
    LogName numbered;
    for (uint32_t i = 0; i < dot; ++i)
        numbered.units[numbered.length++] = name.units[i];
    numbered.units[numbered.length++] = ' ';
    numbered.units[numbered.length++] = '(';
    if (n >= 10)
        numbered.units[numbered.length++] = static_cast<WCHAR>('0' + n / 10 % 10);
    numbered.units[numbered.length++] = static_cast<WCHAR>('0' + n % 10);
    numbered.units[numbered.length++] = ')';
    for (uint32_t i = dot; i < name.length; ++i)
        numbered.units[numbered.length++] = name.units[i];
    return numbered;
}

NameProblem name_problem(const LogName& name) {
    if (name.length == 0)
        return NameProblem::Empty;
    for (uint32_t i = 0; i < name.length; ++i) {
        if (is_forbidden(name.units[i]))
            return NameProblem::ForbiddenByte;
    }
    if (name.units[name.length - 1] == '.')
        return NameProblem::EndsWithDot;
    if (is_device(name))
        return NameProblem::DeviceName;
    return NameProblem::None;
}

const char* name_problem_text(NameProblem problem) {
    switch (problem) {
        case NameProblem::None:
            return "its name is fine";
        case NameProblem::Empty:
            return "it has no name";
        case NameProblem::EndsWithDot:
            return "its name ends with a dot";
        case NameProblem::ForbiddenByte:
            return "its name holds a character that file names cannot";
        case NameProblem::DeviceName:
            return "its name is a Windows device name";
    }
    return "";
}

void put_piece(text::TextWriter& out, const LogName& name) {
    for (uint32_t i = 0; i < name.length; ++i) {
        const WCHAR b = name.units[i];
        if (is_control(b)) {
            out.put_char('?');
        } else if (b < 0x80) {
            out.put_char(static_cast<char>(b));
        } else if (b < 0x800) {
            out.put_char(static_cast<char>(0xC0 | (b >> 6)));
            out.put_char(static_cast<char>(0x80 | (b & 0x3F)));
        } else if (b >= 0xD800 && b <= 0xDFFF) {
            out.put_char('?');  // the OEM code pages have no surrogates
        } else {
            out.put_char(static_cast<char>(0xE0 | (b >> 12)));
            out.put_char(static_cast<char>(0x80 | ((b >> 6) & 0x3F)));
            out.put_char(static_cast<char>(0x80 | (b & 0x3F)));
        }
    }
}

}  // namespace engine
