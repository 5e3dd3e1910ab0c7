#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace amirun {

struct InputError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The whole of an input file, read through one descriptor opened without blocking and checked
// to be a plain file before anything is read: a FIFO, a device or a folder is refused at once,
// never waited on or read without end. A link to a plain file is followed, unless `noFollow`.
// At most `limit` bytes; a larger file is refused with `tooLarge` ("larger than N bytes" when
// null). Throws InputError naming the file.
std::string ReadInputFile(const std::string& path, std::uintmax_t limit, bool noFollow = false,
                          const char* tooLarge = nullptr);

// ReadInputFile, its refusal thrown as the caller's own error type (with `prefix` before it).
template <class Error>
std::string ReadInputAs(const std::string& path, std::uintmax_t limit,
                        const char* tooLarge = nullptr, const std::string& prefix = "") {
    try {
        return ReadInputFile(path, limit, false, tooLarge);
    } catch (const InputError& error) {
        throw Error(prefix + error.what());
    }
}

}  // namespace amirun
