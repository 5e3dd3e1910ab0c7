#include "tools/amirun/host/IbisKeywords.h"

#include <cctype>

namespace amirun {

std::vector<std::string> SplitFields(const std::string& text) {
    std::vector<std::string> fields;
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
        const std::size_t from = i;
        while (i < text.size() && !std::isspace(static_cast<unsigned char>(text[i]))) ++i;
        if (i > from) fields.push_back(text.substr(from, i - from));
    }
    return fields;
}

std::string TrimBlanks(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

std::string NormalizeKeyword(const std::string& keyword) {
    std::string out;
    for (char c : keyword) {
        const char d = c == '_' || c == '\t'
                           ? ' '
                           : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (d == ' ' && (out.empty() || out.back() == ' ')) continue;
        out += d;
    }
    while (!out.empty() && out.back() == ' ') out.pop_back();
    return out;
}

char CommentCharOf(const std::string& argument) {
    static const std::string allowed = "!\"#$%&'()*,:;<>?@\\^`{|}~";
    const std::string a = TrimBlanks(argument);
    if (a.size() == 6 && a.compare(1, 5, "_char") == 0 && allowed.find(a[0]) != std::string::npos)
        return a[0];
    return 0;
}

namespace {

// The text of a [Comment Char] line after its keyword, read before any comment is cut: the
// character it sets may be the one in force ("[Comment Char] |_char").
bool CommentCharArgument(const std::string& raw, std::string& argument) {
    if (raw.empty() || raw.front() != '[') return false;
    const std::size_t close = raw.find(']');
    if (close == std::string::npos || NormalizeKeyword(raw.substr(1, close - 1)) != "comment char")
        return false;
    const std::vector<std::string> fields = SplitFields(raw.substr(close + 1));
    argument = fields.empty() ? "" : fields.front();
    return true;
}

}  // namespace

KeywordFile ReadKeywords(const std::string& text, const std::string& path,
                         const std::function<void(std::size_t, const std::string&)>& rawLine) {
    KeywordFile file;
    file.path = path;
    char comment = '|';
    std::size_t number = 0;
    std::size_t from = 0;
    while (from < text.size()) {
        std::size_t end = text.find('\n', from);
        if (end == std::string::npos) end = text.size();
        const std::string raw = text.substr(from, end - from);
        from = end + 1;
        ++number;
        if (rawLine) rawLine(number, raw);
        std::string commentChar;
        const bool setsComment = CommentCharArgument(raw, commentChar);
        std::string line = raw;
        const std::size_t cut = line.find(comment);
        if (cut != std::string::npos) line.erase(cut);
        if (!line.empty() && line.front() == '[') {
            const std::size_t close = line.find(']');
            if (close == std::string::npos) {
                file.findings.push_back(
                    {KeywordProblem::NoClosingBracket, number, TrimBlanks(line)});
                continue;
            }
            KeywordSection section;
            section.written = line.substr(0, close + 1);
            section.name = NormalizeKeyword(line.substr(1, close - 1));
            section.line = number;
            section.argument = TrimBlanks(line.substr(close + 1));
            if (setsComment) {
                section.argument = commentChar;
                if (const char c = CommentCharOf(commentChar))
                    comment = c;
                else
                    file.findings.push_back({KeywordProblem::BadCommentChar, number, commentChar});
            }
            file.sections.push_back(std::move(section));
            continue;
        }
        KeywordRow row{number, SplitFields(line)};
        if (row.fields.empty()) continue;
        if (file.sections.empty())
            file.beforeFirstKeyword.push_back(std::move(row));
        else
            file.sections.back().rows.push_back(std::move(row));
    }
    return file;
}

}  // namespace amirun
