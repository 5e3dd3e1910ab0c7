#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace amirun {

// The one reader of IBIS keyword files (.ibs, .pkg, .ebd), for the host that loads a model and
// the checker alike: lines with the comment removed, split into fields, grouped under the
// keyword that precedes them. Keywords match as IBIS matches them: case, and blanks against
// underscores, do not matter, nor how many blanks there are.
struct KeywordRow {
    std::size_t line = 0;
    std::vector<std::string> fields;  // blank-separated; "a = b" stays three fields
};

struct KeywordSection {
    std::string name;     // normalized: lower case, underscores as blanks: "diff pin"
    std::string written;  // as in the file, brackets included
    std::size_t line = 0;
    std::string argument;  // the rest of the keyword's line, trimmed
    std::vector<KeywordRow> rows;
};

// What the reader itself could not take: the line and what was wrong there.
enum class KeywordProblem { NoClosingBracket, BadCommentChar };
struct KeywordFinding {
    KeywordProblem problem;
    std::size_t line = 0;
    std::string text;  // the keyword line's text, or the [Comment Char] argument
};

struct KeywordFile {
    std::string path;  // as given, for messages
    std::vector<KeywordSection> sections;
    std::vector<KeywordRow> beforeFirstKeyword;
    std::vector<KeywordFinding> findings;
};

// Reads `text` (the whole file). `rawLine`, when given, sees every line as it stands (its
// number from 1, the line feed removed), before anything is cut from it.
KeywordFile ReadKeywords(
    const std::string& text, const std::string& path,
    const std::function<void(std::size_t, const std::string&)>& rawLine = nullptr);

// "Diff_Pin" and "diff  pin" are the same keyword.
std::string NormalizeKeyword(const std::string& keyword);

std::vector<std::string> SplitFields(const std::string& text);  // at blanks and tabs

std::string TrimBlanks(const std::string& text);  // blanks, tabs and carriage returns

// The comment character that a [Comment Char] argument ("#_char") sets; 0 when it is none of
// the characters IBIS allows.
char CommentCharOf(const std::string& argument);

}  // namespace amirun
