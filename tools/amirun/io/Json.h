#pragma once

#include <string>
#include <vector>

namespace amirun {

// The version of the layout of every JSON file amirun writes, its "schema" key. Keys are
// snake_case, units lower-case suffixes (_v, _ui, _ps, _hz, _s, _db); maps keyed by a model's
// parameter names or by channel names keep those names.
constexpr int kJsonSchema = 1;
// amirun's own version, as --version prints it and JSON files carry it.
inline constexpr char kAmirunVersion[] = "1.2.0";

// One JSON object, built key by key in order. Numbers that are not finite become null; text is
// escaped, and bytes that are not UTF-8 become U+FFFD, so the result is always valid JSON.
class JsonObject {
public:
    JsonObject& Number(const std::string& key, double value);
    JsonObject& Numbers(const std::string& key, const std::vector<double>& values);
    JsonObject& Text(const std::string& key, const std::string& value);
    JsonObject& Texts(const std::string& key, const std::vector<std::string>& values);
    JsonObject& Bool(const std::string& key, bool value);
    JsonObject& Object(const std::string& key, const JsonObject& inner);
    JsonObject& Objects(const std::string& key, const std::vector<JsonObject>& inner);
    std::string Json() const { return "{" + body_ + "}"; }
    // Written whole or not at all; nothing when path is empty.
    void Write(const std::string& path) const;

    static std::string Quoted(const std::string& text);

private:
    JsonObject& Add(const std::string& key, const std::string& json);
    std::string body_;
};

}  // namespace amirun
