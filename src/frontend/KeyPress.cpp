#include "frontend/KeyPress.h"

namespace korrin {

namespace {

constexpr unsigned char escapeByte = 0x1B;

unsigned char Byte(char c) { return static_cast<unsigned char>(c); }

// The number of bytes of a UTF-8 sequence that begins with lead; 1 for a byte that cannot begin
// one.
std::size_t Utf8SequenceLength(unsigned char lead) {
    if (lead >= 0xC2 && lead <= 0xDF) return 2;
    if (lead >= 0xE0 && lead <= 0xEF) return 3;
    if (lead >= 0xF0 && lead <= 0xF4) return 4;
    return 1;
}

// bytes begins with a character, not with ESC.
bool CharacterComplete(std::string_view bytes) {
    if (bytes.size() >= Utf8SequenceLength(Byte(bytes[0]))) return true;
    for (std::size_t i = 1; i < bytes.size(); ++i) {
        // Not a continuation byte: the sequence was broken off, nothing more belongs to it.
        if ((Byte(bytes[i]) & 0xC0) != 0x80) return true;
    }
    return false;
}

}  // namespace

bool KeyPressComplete(std::string_view bytes) {
    if (bytes.empty()) return false;
    if (bytes.size() >= longestKeySequence) return true;
    if (Byte(bytes[0]) != escapeByte) return CharacterComplete(bytes);
    if (bytes.size() == 1) return false;
    const unsigned char second = Byte(bytes[1]);
    if (second == '[') {
        if (bytes.size() == 2) return false;
        if (bytes[2] == '[') return bytes.size() >= 4;
        const unsigned char last = Byte(bytes.back());
        // A final byte ends the sequence; a byte outside the parameter range means it was none.
        return last >= 0x40 || last < 0x20;
    }
    if (second == 'O') return bytes.size() >= 3;
    // Alt with a key: ESC, then that key's own bytes (which may be a sequence again).
    return KeyPressComplete(bytes.substr(1));
}

std::string_view LastLine(std::string_view prompt) {
    const std::size_t lineFeed = prompt.rfind('\n');
    return lineFeed == std::string_view::npos ? prompt : prompt.substr(lineFeed + 1);
}

}  // namespace korrin
