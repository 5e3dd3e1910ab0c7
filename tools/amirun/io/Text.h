#pragma once

#include <cctype>
#include <cmath>
#include <locale>
#include <sstream>
#include <string>

namespace amirun {

inline std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// A number with `digits` decimals, in the "C" locale.
inline std::string Fixed(double value, int digits) {
    std::ostringstream text;
    text.imbue(std::locale::classic());
    text << std::fixed;
    text.precision(digits);
    text << value;
    return text.str();
}

// One number in the "C" locale, all of the field; NaN and infinities are not numbers here.
inline bool FiniteNumber(const std::string& field, double& value) {
    std::istringstream in(field);
    in.imbue(std::locale::classic());
    return static_cast<bool>(in >> value) && in.eof() && std::isfinite(value);
}

// Text from files and models as a terminal may show it: control bytes (ESC, BEL, NUL, ...) as
// \xNN, so that no input moves the cursor, rings or rewrites the screen.
inline std::string Printable(const std::string& text) {
    static const char* hex = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f) {
            out += "\\x";
            out += hex[byte >> 4];
            out += hex[byte & 15];
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace amirun
