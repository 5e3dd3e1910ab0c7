#include "tools/amirun/io/Json.h"

#include <cmath>
#include <cstdio>
#include <iomanip>
#include <locale>
#include <sstream>

#include "tools/amirun/io/Output.h"

namespace amirun {
namespace {

// The length of the UTF-8 sequence at text[i], or 0 when it is not one.
std::size_t Utf8Length(const std::string& text, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    std::size_t length = lead < 0x80                   ? 1
                         : lead >= 0xC2 && lead < 0xE0 ? 2
                         : lead >= 0xE0 && lead < 0xF0 ? 3
                         : lead >= 0xF0 && lead < 0xF5 ? 4
                                                       : 0;
    if (length == 0 || i + length > text.size()) return 0;
    for (std::size_t k = 1; k < length; ++k)
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
    // Overlong forms, surrogates and code points above U+10FFFF are not UTF-8.
    if (length == 3 &&
        ((lead == 0xE0 && byte(i + 1) < 0xA0) || (lead == 0xED && byte(i + 1) >= 0xA0)))
        return 0;
    if (length == 4 &&
        ((lead == 0xF0 && byte(i + 1) < 0x90) || (lead == 0xF4 && byte(i + 1) >= 0x90)))
        return 0;
    return length;
}

std::string NumberText(double value) {
    if (!std::isfinite(value)) return "null";
    std::ostringstream text;
    text.imbue(std::locale::classic());
    text << std::setprecision(10) << value;
    return text.str();
}

}  // namespace

std::string JsonObject::Quoted(const std::string& text) {
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = Utf8Length(text, i);
        if (length == 0) {
            out += "\\ufffd";
            ++i;
            continue;
        }
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out.append(text, i, length);
        }
        i += length;
    }
    return out + "\"";
}

JsonObject& JsonObject::Add(const std::string& key, const std::string& json) {
    body_ += (body_.empty() ? "" : ",") + Quoted(key) + ":" + json;
    return *this;
}

JsonObject& JsonObject::Number(const std::string& key, double value) {
    return Add(key, NumberText(value));
}

JsonObject& JsonObject::Numbers(const std::string& key, const std::vector<double>& values) {
    std::string json = "[";
    for (std::size_t i = 0; i < values.size(); ++i) json += (i ? "," : "") + NumberText(values[i]);
    return Add(key, json + "]");
}

JsonObject& JsonObject::Text(const std::string& key, const std::string& value) {
    return Add(key, Quoted(value));
}

JsonObject& JsonObject::Texts(const std::string& key, const std::vector<std::string>& values) {
    std::string json = "[";
    for (std::size_t i = 0; i < values.size(); ++i) json += (i ? "," : "") + Quoted(values[i]);
    return Add(key, json + "]");
}

JsonObject& JsonObject::Bool(const std::string& key, bool value) {
    return Add(key, value ? "true" : "false");
}

JsonObject& JsonObject::Object(const std::string& key, const JsonObject& inner) {
    return Add(key, inner.Json());
}

JsonObject& JsonObject::Objects(const std::string& key, const std::vector<JsonObject>& inner) {
    std::string json = "[";
    for (std::size_t i = 0; i < inner.size(); ++i) json += (i ? "," : "") + inner[i].Json();
    return Add(key, json + "]");
}

void JsonObject::Write(const std::string& path) const {
    if (path.empty()) return;
    WriteTextFile(path, Json() + "\n");
}

}  // namespace amirun
