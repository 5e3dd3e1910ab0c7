// The installed model kit, read as a packaging auditor and a simulator would read it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/Files.h"
#include "tools/amirun/host/IbisFile.h"

namespace {

namespace fs = std::filesystem;

std::string Shell(const std::string& command) {
    std::string output;
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) return output;
    char buffer[4096];
    for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, n);
    pclose(pipe);
    return output;
}

// The kit as `cmake --install` lays it out, once for the suite.
class Kit : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // One per process: ctest runs the tests of this suite side by side.
        dir_ = new fs::path(fs::path(::testing::TempDir()) /
                            ("kt_kit_" + std::to_string(static_cast<long>(getpid()))));
        fs::remove_all(*dir_);
        log_ = new std::string(Shell("'" KT_CMAKE_COMMAND "' --install '" KT_BINARY_DIR
                                     "' --prefix '" +
                                     dir_->string() + "'"));
    }
    static void TearDownTestSuite() {
        fs::remove_all(*dir_);
        delete dir_;
        delete log_;
    }
    static fs::path* dir_;
    static std::string* log_;
};
fs::path* Kit::dir_ = nullptr;
std::string* Kit::log_ = nullptr;

const char* const kLibraries[] = {"KT7MRL40562D9_Rx_x64.so", "KT7MRL40562D9_Tx_x64.so"};

// In the style of auditwheel's manylinux2014 check: old glibc, a short list of system libraries,
// only the entry points exported, nothing of the build left inside.
TEST_F(Kit, LinuxLibrariesLoadOnGlibc217AndShowNothingButTheEntryPoints) {
#if defined(KT_SANITIZE)
    GTEST_SKIP() << "sanitized libraries use the sanitizer's and the system's runtime";
#endif
    const std::set<std::string> allowed{"libc.so.6", "libm.so.6", "libgcc_s.so.1",
                                        "libpthread.so.0", "ld-linux-x86-64.so.2"};
    for (const char* name : kLibraries) {
        SCOPED_TRACE(name);
        const fs::path library = *dir_ / name;
        ASSERT_TRUE(fs::exists(library)) << *log_;
        const std::string symbols = Shell("objdump -T '" + library.string() + "'");
        const std::regex version(R"(GLIBC_2\.([0-9]+))");
        int newest = 0;
        for (std::sregex_iterator m(symbols.begin(), symbols.end(), version), end; m != end; ++m)
            newest = std::max(newest, std::stoi((*m)[1]));
        EXPECT_GT(newest, 0) << symbols;
        EXPECT_LE(newest, 17) << symbols;

        std::istringstream lines(symbols);
        std::vector<std::string> exported;
        for (std::string line; std::getline(lines, line);) {
            if (line.find("*UND*") != std::string::npos || line.find(" g ") == std::string::npos)
                continue;
            exported.push_back(line.substr(line.find_last_of(' ') + 1));
        }
        for (const std::string& symbol : exported) EXPECT_EQ(0u, symbol.find("AMI_")) << symbol;
        EXPECT_NE(exported.end(), std::find(exported.begin(), exported.end(), "AMI_Init"));

        const std::string dynamic = Shell("readelf -d '" + library.string() + "'");
        const std::regex needed(R"(\(NEEDED\)\s+Shared library: \[([^\]]+)\])");
        for (std::sregex_iterator m(dynamic.begin(), dynamic.end(), needed), end; m != end; ++m)
            EXPECT_EQ(1u, allowed.count((*m)[1])) << (*m)[1];

        EXPECT_EQ(std::string::npos,
                  Shell("objdump -h '" + library.string() + "'").find(".debug_"));
        const std::string bytes = ReadBytes(library);
        EXPECT_EQ(std::string::npos, bytes.find(KT_SOURCE_DIR)) << "a build path is inside";
        EXPECT_EQ(std::string::npos, bytes.find(KT_BINARY_DIR)) << "a build path is inside";
    }
}

// The debug information is kept aside for support, not shipped.
TEST_F(Kit, DebugInformationStaysBesideTheBuild) {
    for (const char* name : kLibraries) {
        const fs::path debug =
            fs::path(KT_BINARY_DIR) / "ami" / "debug" / (std::string(name) + ".debug");
        ASSERT_TRUE(fs::exists(debug)) << debug;
        EXPECT_NE(std::string::npos,
                  Shell("objdump -h '" + debug.string() + "'").find(".debug_info"));
        EXPECT_FALSE(fs::exists(*dir_ / debug.filename()));
        EXPECT_NE(std::string::npos,
                  Shell("objdump -s -j .gnu_debuglink '" + (*dir_ / name).string() + "'")
                      .find("Contents of section .gnu_debuglink"));
    }
}

TEST_F(Kit, IbsFileIsCompleteAndNamesTheKitsFiles) {
    const fs::path path = *dir_ / "KT7MRL40562D9.ibs";
    const amirun::IbisFile ibis = amirun::ReadIbisFile(path.string());
    EXPECT_EQ(0u, ibis.version.find("7.")) << ibis.version;
    EXPECT_EQ(path.filename().string(), ibis.fileName);
    EXPECT_EQ("KT7MRL40562D9", ibis.component);
    EXPECT_LE(ibis.longestLine, 120u);
    for (const char* keyword :
         {"ibis ver", "file name", "file rev", "date", "source", "component", "manufacturer",
          "package", "pin", "diff pin", "model", "voltage range", "pulldown", "pullup", "ramp",
          "gnd clamp", "algorithmic model", "end algorithmic model", "end"})
        EXPECT_NE(ibis.keywords.end(),
                  std::find(ibis.keywords.begin(), ibis.keywords.end(), keyword))
            << keyword;
    ASSERT_EQ(2u, ibis.models.size());
    const bool windowsBuilt = fs::exists(KT_WINDOWS_BUILD_DIR "/ami/kit/KT7MRL40562D9_Rx_x64.dll");
    for (const amirun::IbisModel& model : ibis.models) {
        SCOPED_TRACE(model.name);
        EXPECT_EQ(model.name == "KT7MRL40562D9_Tx" ? "Output" : "Input", model.type);
        ASSERT_EQ(2u, model.executables.size());
        for (const amirun::IbisExecutable& e : model.executables) {
            if (e.platform == "Windows_gcc_64" && !windowsBuilt) {
                std::printf("skipped: the windows preset has not built %s\n", e.library.c_str());
                continue;
            }
            EXPECT_TRUE(fs::exists(*dir_ / e.library)) << e.library;
            EXPECT_TRUE(fs::exists(*dir_ / e.amiFile)) << e.amiFile;
        }
    }
}

}  // namespace
