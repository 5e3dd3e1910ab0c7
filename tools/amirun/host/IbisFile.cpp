#include "tools/amirun/host/IbisFile.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tools/amirun/host/AmiFile.h"
#include "tools/amirun/host/IbisKeywords.h"
#include "tools/amirun/io/Input.h"

namespace amirun {
IbisFile ParseIbisFile(const std::string& text) {
    IbisFile ibis;
    const KeywordFile file = ReadKeywords(text, "", [&](std::size_t, const std::string& raw) {
        std::size_t length = raw.size();
        if (length > 0 && raw.back() == '\r') --length;
        ibis.longestLine = std::max(ibis.longestLine, length);
    });
    for (const KeywordFinding& finding : file.findings)
        if (finding.problem == KeywordProblem::NoClosingBracket)
            throw AmiFileError("line " + std::to_string(finding.line) +
                               ": a keyword without ']': " + finding.text);
    for (const KeywordSection& section : file.sections) {
        ibis.keywords.push_back(section.name);
        if (section.name == "ibis ver") ibis.version = section.argument;
        if (section.name == "file name") ibis.fileName = section.argument;
        if (section.name == "component") ibis.component = section.argument;
        if (section.name == "model") ibis.models.push_back(IbisModel{section.argument, "", {}});
        if (ibis.models.empty()) continue;
        IbisModel& model = ibis.models.back();
        for (const KeywordRow& row : section.rows) {
            const std::string first = NormalizeKeyword(row.fields.front());
            if (section.name == "model" && first == "model type" && row.fields.size() > 1)
                model.type = row.fields[1];
            if (section.name == "algorithmic model" && first == "executable") {
                if (row.fields.size() < 4)
                    throw AmiFileError("line " + std::to_string(row.line) + ": model " +
                                       model.name +
                                       ": an Executable line needs a platform, a library and an "
                                       ".ami file");
                model.executables.push_back(
                    IbisExecutable{row.fields[1], row.fields[2], row.fields[3]});
            }
        }
    }
    if (ibis.version.empty()) throw AmiFileError("no [IBIS Ver]: not an .ibs file");
    return ibis;
}

IbisFile ReadIbisFile(const std::string& path) {
    // The checker's bound: no .ibs file is this large.
    const std::string text = ReadInputAs<AmiFileError>(path, std::uintmax_t{16} << 20);
    try {
        return ParseIbisFile(text);
    } catch (const AmiFileError& error) {
        throw AmiFileError(path + ": " + error.what());
    }
}

const char* HostPlatform() {
#if defined(_WIN32)
    return "Windows_gcc_64";
#else
    return "Linux_gcc_64";
#endif
}

namespace {

// A file an .ibs file names, kept inside the .ibs file's folder unless the user allows otherwise.
std::string Inside(const std::filesystem::path& dir, const std::string& name,
                   const std::string& ibsPath, bool allowOutside) {
    namespace fs = std::filesystem;
    const fs::path named(name);
    const fs::path joined = dir / named;
    if (!allowOutside) {
        bool climbs = named.is_absolute() || named.has_root_name();
        for (const fs::path& part : named) climbs = climbs || part == "..";
        std::error_code error;
        const fs::path real = fs::weakly_canonical(fs::absolute(joined), error);
        const fs::path home = fs::weakly_canonical(fs::absolute(dir.empty() ? "." : dir), error);
        const auto rest = std::mismatch(home.begin(), home.end(), real.begin(), real.end());
        if (climbs || error || rest.first != home.end())
            throw AmiFileError(ibsPath + ": '" + name +
                               "' lies outside the .ibs file's folder; amirun loads only files "
                               "beside it (--allow-outside to permit)");
    }
    return fs::absolute(joined).string();
}

}  // namespace

IbisExecutable FindExecutable(const IbisFile& ibis, const std::string& ibsPath,
                              const std::string& model, const std::string& platform,
                              bool allowOutside) {
    std::string known;
    for (const IbisModel& m : ibis.models) {
        known += (known.empty() ? "" : ", ") + m.name;
        if (m.name != model) continue;
        for (const IbisExecutable& e : m.executables) {
            if (e.platform != platform) continue;
            const std::filesystem::path dir = std::filesystem::path(ibsPath).parent_path();
            return IbisExecutable{e.platform, Inside(dir, e.library, ibsPath, allowOutside),
                                  Inside(dir, e.amiFile, ibsPath, allowOutside)};
        }
        throw AmiFileError(ibsPath + ": model " + model + " has no " + platform + " Executable");
    }
    throw AmiFileError(ibsPath + ": no [Model] " + model + "; it has " + known);
}

}  // namespace amirun
