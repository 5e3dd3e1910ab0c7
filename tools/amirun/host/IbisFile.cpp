#include "tools/amirun/host/IbisFile.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tools/amirun/host/AmiFile.h"

namespace amirun {
namespace {

std::string Normalized(const std::string& keyword) {
    std::string out;
    for (char c : keyword)
        out += c == '_' ? ' ' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::vector<std::string> Tokens(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> tokens;
    for (std::string token; in >> token;) tokens.push_back(token);
    return tokens;
}

std::string Trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

}  // namespace

IbisFile ParseIbisFile(const std::string& text) {
    IbisFile ibis;
    std::istringstream in(text);
    char comment = '|';
    std::string section;  // the keyword whose data lines follow
    IbisModel* model = nullptr;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        ibis.longestLine = std::max(ibis.longestLine, line.size());
        const auto cut = line.find(comment);
        if (cut != std::string::npos) line.erase(cut);
        if (Trimmed(line).empty()) continue;
        std::string data = line;
        if (line[0] == '[') {
            const auto close = line.find(']');
            if (close == std::string::npos) throw AmiFileError("a keyword without ']': " + line);
            section = Normalized(line.substr(1, close - 1));
            ibis.keywords.push_back(section);
            data = Trimmed(line.substr(close + 1));
            if (section == "ibis ver") ibis.version = data;
            if (section == "file name") ibis.fileName = data;
            if (section == "component") ibis.component = data;
            if (section == "comment char" && !data.empty()) comment = data[0];
            if (section == "model") {
                ibis.models.push_back(IbisModel{data, "", {}});
                model = &ibis.models.back();
            }
            continue;
        }
        const std::vector<std::string> tokens = Tokens(data);
        if (model == nullptr || tokens.empty()) continue;
        if (section == "model" && Normalized(tokens[0]) == "model type" && tokens.size() > 1)
            model->type = tokens[1];
        if (section == "algorithmic model" && Normalized(tokens[0]) == "executable") {
            if (tokens.size() < 4)
                throw AmiFileError("model " + model->name +
                                   ": an Executable line needs a platform, a library and an "
                                   ".ami file");
            model->executables.push_back(IbisExecutable{tokens[1], tokens[2], tokens[3]});
        }
    }
    if (ibis.version.empty()) throw AmiFileError("no [IBIS Ver]: not an .ibs file");
    return ibis;
}

IbisFile ReadIbisFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw AmiFileError("cannot read " + path);
    std::ostringstream text;
    text << in.rdbuf();
    try {
        return ParseIbisFile(text.str());
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
