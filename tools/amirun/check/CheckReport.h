#pragma once

#include <cstddef>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace amirun {

// The IBIS and AMI file checker's messages: every rule has a stable number and a severity, and
// every message names its rule, its file and its line (0: the file as a whole).
enum class Severity { Error, Warning, Caution, Note };

const char* SeverityName(Severity severity);  // "ERROR", "WARNING", "CAUTION", "NOTE"

struct CheckRule {
    int number;
    Severity severity;
    const char* summary;  // one line, as in the rule table of docs/check.md
};

// Every rule the checker applies, in number order.
const std::vector<CheckRule>& CheckRules();
const CheckRule& FindCheckRule(int number);  // throws std::out_of_range for an unknown number

struct CheckMessage {
    int rule = 0;
    Severity severity = Severity::Error;
    std::string file;
    std::size_t line = 0;
    std::string text;
};

// The messages of one run. At most kMessagesPerRule messages of one rule are kept per file; the
// rest are counted, so that a huge broken file gives a short report in bounded memory.
class CheckReport {
public:
    static constexpr std::size_t kMessagesPerRule = 20;

    void Add(int rule, const std::string& file, std::size_t line, const std::string& text);
    // A file was checked, by the rules named (its IBIS version).
    void Checked(const std::string& file, const std::string& rules);
    // From now on leaves out the messages of `ignored` rules, and those `accepted` holds (rule,
    // the file's name without its folder, and text; not the line, which moves when lines are
    // added above), counting both.
    using Accepted = std::set<std::tuple<int, std::string, std::string>>;
    void Filter(const std::set<int>& ignored, const Accepted& accepted);
    const std::vector<CheckMessage>& Messages() const { return messages_; }
    std::size_t Count(Severity severity) const;
    // Messages beyond the cap, by file and rule.
    std::map<std::pair<std::string, int>, std::size_t> Suppressed() const;
    // "file:line: ERROR 301: text" lines, then the suppressed counts and the summary line.
    std::string Text() const;
    std::string Json(const std::string& amirunVersion) const;

private:
    std::vector<CheckMessage> messages_;
    std::vector<std::pair<std::string, std::string>> files_;
    std::set<int> ignore_;
    Accepted accepted_;
    std::size_t ignored_ = 0, acceptedCount_ = 0;
    std::map<std::pair<std::string, int>, std::size_t> perRule_;
    std::map<Severity, std::size_t> counts_;
};

}  // namespace amirun
