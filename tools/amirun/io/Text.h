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

// One number in the "C" locale, all of the field; NaN and infinities are not numbers here.
inline bool FiniteNumber(const std::string& field, double& value) {
    std::istringstream in(field);
    in.imbue(std::locale::classic());
    return static_cast<bool>(in >> value) && in.eof() && std::isfinite(value);
}

}  // namespace amirun
