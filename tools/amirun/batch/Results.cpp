#include "tools/amirun/batch/Results.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <nlohmann/json.hpp>
#include <sstream>

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

std::string ReadWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw ResultsError("cannot read " + path);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

}  // namespace

std::vector<std::string> ReadResultLines(const std::string& path, std::size_t& broken) {
    const std::string text = ReadWhole(path);
    std::vector<std::string> lines;
    broken = 0;
    std::size_t from = 0;
    while (from < text.size()) {
        const std::size_t end = text.find('\n', from);
        std::string id, plan;
        if (end == std::string::npos) {  // a killed run's last line
            ++broken;
            break;
        }
        const std::string line = text.substr(from, end - from);
        if (IsResult(line, id, plan))
            lines.push_back(line);
        else if (!line.empty())
            ++broken;
        from = end + 1;
    }
    return lines;
}

std::set<std::string> RecoverResults(const std::string& path, const std::string& plan) {
    std::set<std::string> done;
    if (!std::filesystem::exists(path)) return done;
    const std::string text = ReadWhole(path);
    std::size_t from = 0, good = 0;
    std::size_t number = 0;
    while (from < text.size()) {
        const std::size_t end = text.find('\n', from);
        std::string id, linePlan;
        ++number;
        if (end == std::string::npos) break;  // a killed run's last line: cut below
        if (!IsResult(text.substr(from, end - from), id, linePlan))
            throw ResultsError(path + ": line " + std::to_string(number) +
                               " is no result; the file is left as it is");
        if (linePlan != plan)
            throw ResultsError(path + " holds results of another plan (" + linePlan +
                               "); give this plan its own --out folder");
        done.insert(id);
        from = good = end + 1;
    }
    if (good < text.size()) {  // cut what a killed run left
        std::error_code error;
        std::filesystem::resize_file(path, good, error);
        if (error) throw ResultsError("cannot repair " + path + ": " + error.message());
    }
    return done;
}

ResultsWriter::ResultsWriter(const std::string& path) : path_(path) {
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd_ < 0) throw ResultsError("cannot open " + path + ": " + std::strerror(errno));
    struct stat info {};
    if (::fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd_);
        throw ResultsError(path + " is not a plain file");
    }
}

ResultsWriter::~ResultsWriter() {
    if (fd_ >= 0) ::close(fd_);
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
