#include "tools/amirun/Output.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <locale>

namespace amirun {

namespace fs = std::filesystem;

AtomicFile::AtomicFile(std::string path) : path_(std::move(path)) {
    const fs::path target(path_);
    // Hidden, and named after the process, so that concurrent runs never share one.
    temporary_ = (target.parent_path() / ("." + target.filename().string() + ".tmp" +
                                          std::to_string(static_cast<long>(getpid()))))
                     .string();
}

AtomicFile::~AtomicFile() {
    if (committed_) return;
    if (text_.is_open()) text_.close();
    std::remove(temporary_.c_str());
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
    if (std::rename(temporary_.c_str(), path_.c_str()) != 0)
        throw OutputError("cannot write " + path_ + ": " + std::strerror(errno));
    committed_ = true;
}

}  // namespace amirun
