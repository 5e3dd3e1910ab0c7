#pragma once

#include <cstddef>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace amirun {

struct OutputError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// A file written completely or not at all. The content goes to a hidden temporary file in the
// same folder, which Commit renames over the target once it is written, flushed and checked;
// until then a previous file of that name stays as it was. Without a Commit the temporary is
// removed, also when SIGINT or SIGTERM ends the process. A target that exists but is not a plain
// file (a link, FIFO, device or folder), that is one of the run's inputs, or whose name holds
// control characters is refused. Every write error throws OutputError naming the target.
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
    int slot_ = -1;  // in the table of temporaries the signal handler removes
    bool committed_ = false;
};

// `text` as the whole of the file at `path`, through an AtomicFile.
void WriteTextFile(const std::string& path, const std::string& text);

// A file the run reads (channel, .ami, .ibs, library): no output may replace it.
void ProtectInput(const std::string& path);

// Throws OutputError when `path` may not be written (see AtomicFile).
void CheckOutputPath(const std::string& path);

// SIGINT and SIGTERM remove the temporaries of unfinished files, then end the process as the
// signal would have.
void InstallCleanup();

// Removes the hidden temporaries that killed runs left in `folder` (their process is gone).
void RemoveStaleTemporaries(const std::string& folder);

// A CSV file: a header line and columns of numbers, every `step`-th row.
void WriteCsv(const std::string& path, const std::vector<std::string>& header,
              const std::vector<const std::vector<double>*>& columns, std::size_t step = 1);

}  // namespace amirun
