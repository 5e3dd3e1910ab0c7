#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "tools/amirun/check/Check.h"
#include "tools/amirun/io/Output.h"
#include "tools/amirun/io/Text.h"

namespace amirun {
namespace {

constexpr std::uintmax_t kLargest = std::uintmax_t{16} << 20;

enum class Reading { Read, TooLarge, Unreadable };

// The file's text, when it is a readable plain file of at most 16 MiB; otherwise the reason is
// reported.
Reading ReadBounded(const std::string& path, CheckReport& report, std::string& text) {
    namespace fs = std::filesystem;
    std::error_code error;
    if (!fs::is_regular_file(path, error)) {
        report.Add(1, path, 0, fs::exists(path, error) ? "not a plain file" : "no such file");
        return Reading::Unreadable;
    }
    const std::uintmax_t size = fs::file_size(path, error);
    if (error) {
        report.Add(1, path, 0, error.message());
        return Reading::Unreadable;
    }
    if (size > kLargest) {
        report.Add(2, path, 0, "the file has " + std::to_string(size) + " bytes");
        return Reading::TooLarge;  // judged unread: no model file is this large
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        report.Add(1, path, 0, "it cannot be opened");
        return Reading::Unreadable;
    }
    text.assign(std::istreambuf_iterator<char>(in), {});
    if (in.bad()) {
        report.Add(1, path, 0, "it could not be read whole");
        return Reading::Unreadable;
    }
    if (text.size() > kLargest) {  // it grew while being read
        report.Add(2, path, 0, "the file has more than " + std::to_string(kLargest) + " bytes");
        return Reading::TooLarge;
    }
    ProtectInput(path);  // also a file found through another one: --json may not replace it
    return Reading::Read;
}

// Whether `path` was checked already in this run: by its canonical name, and by its device and
// inode, so that links of any kind to one file are read once.
bool Seen(const std::string& path, std::set<std::string>& checked) {
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path canonical = fs::weakly_canonical(path, error);
    const bool named = !checked.insert(error ? path : canonical.string()).second;
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return named;
    const bool same =
        !checked.insert("inode " + std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino))
             .second;
    return named || same;
}

}  // namespace

bool CheckFile(const std::string& path, const std::string& as, CheckReport& report,
               std::set<std::string>& checked) {
    namespace fs = std::filesystem;
    if (Seen(path, checked)) return true;
    std::string kind = as.empty() ? Lower(fs::path(path).extension().string()) : "." + Lower(as);
    if (kind != ".ibs" && kind != ".pkg" && kind != ".ebd" && kind != ".ami") {
        report.Add(3, path, 0,
                   "'" + fs::path(path).extension().string() +
                       "' is not .ibs, .pkg, .ebd or .ami; say which with --as");
        return true;
    }
    std::string text;
    const Reading reading = ReadBounded(path, report, text);
    if (reading != Reading::Read) return reading != Reading::Unreadable;
    if (kind == ".pkg") CheckPackageText(text, path, report);
    if (kind == ".ebd") CheckBoardText(text, path, report);
    if (kind == ".ami") CheckAmiText(text, path, AmiReference{}, report);
    if (kind != ".ibs") return true;
    bool ok = true;
    for (const AmiReference& ami : CheckIbisText(text, path, report)) {
        if (Seen(ami.path, checked)) continue;
        std::string amiText;
        const Reading amiReading = ReadBounded(ami.path, report, amiText);
        ok = ok && amiReading != Reading::Unreadable;
        if (amiReading == Reading::Read) CheckAmiText(amiText, ami.path, ami, report);
    }
    return ok;
}

}  // namespace amirun
