#pragma once

#include <atomic>
#include <cstddef>
#include <exception>
#include <functional>
#include <iostream>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "tools/amirun/io/Progress.h"

namespace amirun {

// Runs work(i) for every i below count on up to `jobs` threads (fewer when the system refuses
// some; with none, on this one), with a progress bar. The first failure, by index, is rethrown
// as it was thrown (so that its kind keeps its exit status) once all have finished, after a line
// on standard error that names(i) the work that failed.
inline void ParallelFor(std::size_t count, int jobs, const std::string& label,
                        const std::function<void(std::size_t)>& work,
                        const std::function<std::string(std::size_t)>& name) {
    std::vector<std::exception_ptr> errors(count);
    std::atomic<std::size_t> next{0}, done{0};
    Progress progress(label, count);
    auto worker = [&] {
        for (std::size_t i; (i = next++) < count;) {
            try {
                work(i);
            } catch (...) {
                errors[i] = std::current_exception();
            }
            progress.Update(++done);
        }
    };
    std::vector<std::thread> threads;
    for (int t = 0; t < jobs; ++t) {
        try {
            threads.emplace_back(worker);
        } catch (const std::system_error&) {
            std::cerr << "warning: " << t << " of " << jobs << " threads started\n";
            break;
        }
    }
    if (threads.empty()) worker();
    for (std::thread& thread : threads) thread.join();
    for (std::size_t i = 0; i < count; ++i) {
        if (errors[i] == nullptr) continue;
        std::cerr << "amirun: " << name(i) << " failed\n";
        std::rethrow_exception(errors[i]);
    }
}

}  // namespace amirun
