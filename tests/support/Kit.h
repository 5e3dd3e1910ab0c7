#pragma once
// The kit's two libraries and their .ami files copied into a folder, as a plan or an .ibs file
// beside them expects (the amirun test programs define KT_AMI_DIR and KT_IBIS_DIR).
#include <filesystem>
#include <string>

inline void CopyKit(const std::filesystem::path& dir) {
    namespace fs = std::filesystem;
    for (const std::string model : {"Rx", "Tx"}) {
        const std::string name = "KT7MRL40562D9_" + model;
        fs::copy_file(fs::path(KT_AMI_DIR) / (name + "_x64.so"), dir / (name + "_x64.so"));
        fs::copy_file(fs::path(KT_IBIS_DIR) / (name + ".ami"), dir / (name + ".ami"));
    }
}
