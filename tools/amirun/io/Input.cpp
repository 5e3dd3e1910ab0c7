#include "tools/amirun/io/Input.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace amirun {

std::string ReadInputFile(const std::string& path, std::uintmax_t limit, bool noFollow,
                          const char* tooLarge) {
    const std::string large =
        path + ": " +
        (tooLarge != nullptr ? tooLarge : "larger than " + std::to_string(limit) + " bytes");
    const int fd =
        ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | (noFollow ? O_NOFOLLOW : 0));
    if (fd < 0)
        throw InputError("cannot read " + path + ": " +
                         (errno == ELOOP ? "it is a link" : std::strerror(errno)));
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))
        throw InputError("cannot read " + path + ": not a plain file");
    if (static_cast<std::uintmax_t>(info.st_size) > limit) throw InputError(large);
    std::string text;
    text.reserve(static_cast<std::size_t>(info.st_size));
    char buffer[1 << 16];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw InputError("cannot read " + path + ": " + std::strerror(errno));
        if (n == 0) break;
        text.append(buffer, static_cast<std::size_t>(n));
        if (text.size() > limit)  // it grew while being read
            throw InputError(large);
    }
    return text;
}

}  // namespace amirun
