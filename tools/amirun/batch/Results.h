#pragma once

#include <cstddef>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace amirun {

// The results file of a batch shard: one JSON object per line, one line per finished run. A line
// is written with a single write(2) on a file opened for appending, so a killed run leaves at
// most one incomplete last line, which the next run removes before it appends.

struct ResultsError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The ids of the complete lines of `path` (none when it does not exist). A last line without its
// newline is cut off. Throws ResultsError, changing nothing, when a complete line is no result or
// belongs to another plan than `plan`: results of two plans never share a file.
std::set<std::string> RecoverResults(const std::string& path, const std::string& plan);

// The results file of one batch: opened once (never through a link, never a FIFO or device),
// locked against a second batch on the same file, read, repaired and appended to through that
// one descriptor.
class ResultsWriter {
public:
    explicit ResultsWriter(const std::string& path);  // throws ResultsError
    // RecoverResults on the open file.
    std::set<std::string> Recover(const std::string& plan);
    ~ResultsWriter();
    ResultsWriter(const ResultsWriter&) = delete;
    ResultsWriter& operator=(const ResultsWriter&) = delete;
    void Append(const std::string& line);  // `line` without its newline; thread-safe

private:
    int fd_ = -1;
    std::string path_;
};

// The complete lines of a results file, as text with their line numbers; `broken` counts the
// others.
struct ResultLine {
    std::size_t number = 0;
    std::string text;
};
std::vector<ResultLine> ReadResultLines(const std::string& path, std::size_t& broken);

}  // namespace amirun
