#pragma once

#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <iostream>
#include <mutex>
#include <string>

namespace amirun {

// A bar on standard error, only when it is a terminal; safe to update from several threads.
class Progress {
public:
    Progress(std::string label, std::size_t total)
        : label_(std::move(label)), total_(total), shown_(isatty(2) != 0 && total > 0) {}
    ~Progress() {
        if (shown_) std::cerr << "\r\033[K" << std::flush;
    }
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;
    void Update(std::size_t done) {
        if (!shown_) return;
        std::lock_guard<std::mutex> lock(mutex_);
        const std::size_t width = 40;
        done = std::min(done, total_);
        const std::size_t filled = width * done / total_;
        std::cerr << '\r' << label_ << " [" << std::string(filled, '#')
                  << std::string(width - filled, ' ') << "] " << 100 * done / total_ << '%'
                  << std::flush;
    }

private:
    std::string label_;
    std::size_t total_;
    bool shown_;
    std::mutex mutex_;
};

}  // namespace amirun
