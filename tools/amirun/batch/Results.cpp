#include "tools/amirun/batch/Results.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <nlohmann/json.hpp>
#include <sstream>

#include "tools/amirun/io/Input.h"

namespace amirun {
namespace {

std::mutex appendMutex;

bool IsResult(const std::string& line, std::string& id, std::string& plan) {
    const nlohmann::json parsed = nlohmann::json::parse(line, nullptr, false);
    if (parsed.is_discarded() || !parsed.is_object() || !parsed.contains("id") ||
        !parsed["id"].is_string() || !parsed.contains("plan") || !parsed["plan"].is_string())
        return false;
    id = parsed["id"].get<std::string>();
    plan = parsed["plan"].get<std::string>();
    return true;
}

// Results files hold a line of a few hundred bytes per run; no plan has this many runs.
constexpr std::uintmax_t kLargestResults = std::uintmax_t{1} << 30;

}  // namespace

std::vector<ResultLine> ReadResultLines(const std::string& path, std::size_t& broken) {
    const std::string text = ReadInputAs<ResultsError>(path, kLargestResults);
    std::vector<ResultLine> lines;
    broken = 0;
    std::size_t from = 0, number = 0;
    while (from < text.size()) {
        const std::size_t end = text.find('\n', from);
        std::string id, plan;
        ++number;
        if (end == std::string::npos) {  // a killed run's last line
            ++broken;
            break;
        }
        std::string line = text.substr(from, end - from);
        if (IsResult(line, id, plan))
            lines.push_back({number, std::move(line)});
        else if (!line.empty())
            ++broken;
        from = end + 1;
    }
    return lines;
}

std::set<std::string> RecoverResults(const std::string& path, const std::string& plan) {
    std::error_code error;
    if (!std::filesystem::exists(std::filesystem::symlink_status(path, error))) return {};
    return ResultsWriter(path).Recover(plan);
}

ResultsWriter::ResultsWriter(const std::string& path) : path_(path) {
    // Opened once, never through a link and never waiting on a FIFO; everything after is done
    // through this descriptor, so what was checked is what is read, cut and appended to.
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK,
                 0644);
    if (fd_ < 0)
        throw ResultsError("cannot open " + path + ": " +
                           (errno == ELOOP ? "it is a link" : std::strerror(errno)));
    struct stat info {};
    if (::fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd_);
        throw ResultsError(path + " is not a plain file");
    }
    // One batch per results file: a second one on the same shard would run everything again.
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd_);
        throw ResultsError(path + " is being written by another batch (it holds the file's lock)");
    }
}

ResultsWriter::~ResultsWriter() {
    if (fd_ >= 0) ::close(fd_);
}

std::set<std::string> ResultsWriter::Recover(const std::string& plan) {
    struct stat info {};
    if (::fstat(fd_, &info) != 0) throw ResultsError("cannot read " + path_);
    if (static_cast<std::uintmax_t>(info.st_size) > kLargestResults)
        throw ResultsError(path_ + ": larger than " + std::to_string(kLargestResults) + " bytes");
    std::string text(static_cast<std::size_t>(info.st_size), '\0');
    std::size_t got = 0;
    while (got < text.size()) {
        const ssize_t n = ::pread(fd_, &text[got], text.size() - got, off_t(got));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) throw ResultsError("cannot read " + path_);
        got += std::size_t(n);
    }
    std::set<std::string> done;
    std::size_t from = 0, good = 0;
    std::size_t number = 0;
    while (from < text.size()) {
        const std::size_t end = text.find('\n', from);
        std::string id, linePlan;
        ++number;
        if (end == std::string::npos) break;  // a killed run's last line: cut below
        if (!IsResult(text.substr(from, end - from), id, linePlan))
            throw ResultsError(path_ + ": line " + std::to_string(number) +
                               " is no result; the file is left as it is");
        if (linePlan != plan)
            throw ResultsError(path_ + " holds results of another plan (" + linePlan +
                               "); give this plan its own --out folder");
        done.insert(id);
        from = good = end + 1;
    }
    if (good < text.size() && ::ftruncate(fd_, off_t(good)) != 0)  // what a killed run left
        throw ResultsError("cannot repair " + path_ + ": " + std::strerror(errno));
    return done;
}

void ResultsWriter::Append(const std::string& line) {
    const std::string whole = line + "\n";
    std::lock_guard<std::mutex> lock(appendMutex);
    const ssize_t written = ::write(fd_, whole.data(), whole.size());
    if (written != static_cast<ssize_t>(whole.size()))
        throw ResultsError("cannot append to " + path_ + ": " +
                           (written < 0 ? std::strerror(errno) : "short write"));
}

}  // namespace amirun
