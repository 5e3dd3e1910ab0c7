#pragma once

#include <fstream>
#include <stdexcept>
#include <string>

namespace amirun {

struct OutputError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// A file written completely or not at all. The content goes to a temporary file in the same
// folder, which Commit renames over the target once it is written, flushed and checked; until
// then a previous file of that name stays as it was. Without a Commit the temporary is removed.
// Every write error throws OutputError naming the target.
class AtomicFile {
public:
    explicit AtomicFile(std::string path);
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    const std::string& Path() const { return path_; }
    const std::string& TemporaryPath() const { return temporary_; }
    // A text stream on the temporary file, in the "C" locale.
    std::ostream& Text();
    // Closes and checks the temporary file (it must not be empty) and renames it into place.
    void Commit();

private:
    std::string path_;
    std::string temporary_;
    std::ofstream text_;
    bool committed_ = false;
};

}  // namespace amirun
