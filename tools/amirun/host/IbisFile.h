#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace amirun {

// What amirun needs of an .ibs file: its header, its component, and each [Model] with the
// Executable lines of its [Algorithmic Model]. Keywords are matched as IBIS matches them: case
// and the choice between blank and underscore do not matter; text after the comment character
// is ignored.
struct IbisExecutable {
    std::string platform;  // Linux_gcc_64, Windows_gcc_64, ...
    std::string library;
    std::string amiFile;
};

struct IbisModel {
    std::string name;
    std::string type;  // Model_type
    std::vector<IbisExecutable> executables;
};

struct IbisFile {
    std::string version;   // [IBIS Ver]
    std::string fileName;  // [File Name]
    std::string component;
    std::vector<std::string> keywords;  // every keyword in order, normalized: "file name"
    std::vector<IbisModel> models;
    std::size_t longestLine = 0;
};

IbisFile ParseIbisFile(const std::string& text);  // throws AmiFileError
IbisFile ReadIbisFile(const std::string& path);   // throws AmiFileError

// The platform name of the Executable lines that this build of amirun can load.
const char* HostPlatform();

// The library and .ami file of `model` for `platform`, as absolute paths beside the .ibs file at
// `ibsPath`. Throws AmiFileError naming what is missing, or a file outside the .ibs file's folder
// (an absolute name, or one that climbs out with ..) unless `allowOutside`.
IbisExecutable FindExecutable(const IbisFile& ibis, const std::string& ibsPath,
                              const std::string& model, const std::string& platform,
                              bool allowOutside = false);

}  // namespace amirun
