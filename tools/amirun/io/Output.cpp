#include "tools/amirun/io/Output.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iomanip>
#include <locale>
#include <mutex>

namespace amirun {

namespace fs = std::filesystem;

namespace {

// A temporary is ".<name>.amirun-<host>-<pid>.tmp": only amirun's own match, and on a shared
// folder only this host's, whose processes it can ask about.
constexpr char kTemporaryMark[] = ".amirun-";
constexpr char kTemporaryEnd[] = ".tmp";

// This host's name in letters, digits, '.' and '-'.
const std::string& HostName() {
    static const std::string name = [] {
        char buffer[256] = {};
        if (gethostname(buffer, sizeof buffer - 1) != 0) return std::string("localhost");
        std::string text;
        for (const char* c = buffer; *c != '\0'; ++c)
            text +=
                std::isalnum(static_cast<unsigned char>(*c)) || *c == '.' || *c == '-' ? *c : '_';
        return text.empty() ? std::string("localhost") : text;
    }();
    return name;
}

// Temporaries the signal handler may remove: fixed storage, since a handler may not allocate.
constexpr int kSlots = 64;
constexpr std::size_t kPathBytes = 4096;
char slotPaths[kSlots][kPathBytes];
std::atomic<bool> slotUsed[kSlots];

int TakeSlot(const std::string& path) {
    if (path.size() >= kPathBytes) return -1;
    for (int i = 0; i < kSlots; ++i) {
        bool expected = false;
        if (slotUsed[i].load() || !slotUsed[i].compare_exchange_strong(expected, true)) continue;
        std::memcpy(slotPaths[i], path.c_str(), path.size() + 1);
        return i;
    }
    return -1;
}

void FreeSlot(int slot) {
    if (slot >= 0) slotUsed[slot].store(false);
}

extern "C" void RemoveTemporariesAndDie(int signal) {
    for (int i = 0; i < kSlots; ++i)
        if (slotUsed[i].load()) unlink(slotPaths[i]);
    std::signal(signal, SIG_DFL);
    raise(signal);
}

std::mutex inputsMutex;
std::vector<fs::path> inputs;

}  // namespace

void ProtectInput(const std::string& path) {
    std::lock_guard<std::mutex> lock(inputsMutex);
    inputs.emplace_back(path);
}

void CheckOutputPath(const std::string& path) {
    if (std::any_of(path.begin(), path.end(),
                    [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; }))
        throw OutputError("refusing to write a file whose name holds control characters");
    std::error_code error;
    const fs::file_status status = fs::symlink_status(path, error);
    if (!error && fs::exists(status) && !fs::is_regular_file(status))
        throw OutputError("refusing to write " + path +
                          ": it exists and is not a plain file (a link, FIFO, device or folder)");
    std::lock_guard<std::mutex> lock(inputsMutex);
    for (const fs::path& input : inputs)
        if (fs::equivalent(input, path, error))
            throw OutputError("refusing to write " + path + ": it is an input of this run");
}

void InstallCleanup() {
    std::signal(SIGINT, RemoveTemporariesAndDie);
    std::signal(SIGTERM, RemoveTemporariesAndDie);
}

void RemoveStaleTemporaries(const std::string& folder) {
    const std::string mark = kTemporaryMark + HostName() + "-";
    const std::size_t endLength = std::strlen(kTemporaryEnd);
    std::error_code error;
    for (fs::directory_iterator entry(folder, error), end; !error && entry != end;
         entry.increment(error)) {
        const std::string name = entry->path().filename().string();
        const auto at = name.rfind(mark);
        if (name.empty() || name[0] != '.' || at == std::string::npos ||
            name.size() < at + mark.size() + endLength ||
            name.compare(name.size() - endLength, endLength, kTemporaryEnd) != 0)
            continue;
        const std::string digits =
            name.substr(at + mark.size(), name.size() - endLength - at - mark.size());
        if (digits.empty() || digits.size() > 9 ||
            !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
            continue;
        const pid_t pid = pid_t(std::stol(digits));
        if (pid == getpid() || (kill(pid, 0) != 0 && errno == ESRCH))
            if (entry->symlink_status(error).type() == fs::file_type::regular)
                fs::remove(entry->path(), error);
    }
}

AtomicFile::AtomicFile(std::string path) : path_(std::move(path)) {
    CheckOutputPath(path_);
    const fs::path target(path_);
    // Hidden, and named after the process, so that concurrent runs never share one.
    temporary_ =
        (target.parent_path() / ("." + target.filename().string() + kTemporaryMark + HostName() +
                                 "-" + std::to_string(static_cast<long>(getpid())) + kTemporaryEnd))
            .string();
    slot_ = TakeSlot(temporary_);
}

AtomicFile::~AtomicFile() {
    if (!committed_) {
        if (text_.is_open()) text_.close();
        std::remove(temporary_.c_str());
    }
    FreeSlot(slot_);
}

std::ostream& AtomicFile::Text() {
    if (!text_.is_open()) {
        text_.open(temporary_, std::ios::binary | std::ios::trunc);
        if (!text_) throw OutputError("cannot write " + path_ + ": " + std::strerror(errno));
        text_.imbue(std::locale::classic());
    }
    return text_;
}

void AtomicFile::Commit() {
    if (text_.is_open()) {
        text_.flush();
        const bool written = static_cast<bool>(text_);
        text_.close();
        if (!written || text_.fail())
            throw OutputError("cannot write " + path_ + " (is the disk full?)");
    }
    std::error_code error;
    const auto size = fs::file_size(temporary_, error);
    if (error || size == 0) throw OutputError("cannot write " + path_ + " (is the disk full?)");
    CheckOutputPath(path_);  // nothing replaced it with a link while we wrote
    if (std::rename(temporary_.c_str(), path_.c_str()) != 0)
        throw OutputError("cannot write " + path_ + ": " + std::strerror(errno));
    committed_ = true;
}

void WriteTextFile(const std::string& path, const std::string& text) {
    AtomicFile file(path);
    file.Text() << text;
    file.Commit();
}

void WriteCsv(const std::string& path, const std::vector<std::string>& header,
              const std::vector<const std::vector<double>*>& columns, std::size_t step) {
    AtomicFile file(path);
    std::ostream& out = file.Text();
    out << std::setprecision(10);
    for (std::size_t c = 0; c < header.size(); ++c) out << (c ? "," : "") << header[c];
    out << '\n';
    std::size_t rows = 0;
    for (const auto* column : columns) rows = std::max(rows, column->size());
    for (std::size_t r = 0; r < rows && out; r += std::max<std::size_t>(step, 1)) {
        for (std::size_t c = 0; c < columns.size(); ++c)
            out << (c ? "," : "") << (r < columns[c]->size() ? (*columns[c])[r] : 0.0);
        out << '\n';
    }
    file.Commit();
}

}  // namespace amirun
