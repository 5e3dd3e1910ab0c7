#pragma once
// The built amirun run as a user runs it, for the tests of its commands: a test case gets its
// own output folder, removed afterwards.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "tests/support/Files.h"

namespace {

namespace fs = std::filesystem;

struct Result {
    int status;
    std::string output;  // standard output and standard error
};

// Runs amirun through the shell: `before` runs first in the same shell (limits, traps), `wrapper`
// is a command amirun runs under.
Result Amirun(const std::string& arguments, const std::string& before = "",
              const std::string& wrapper = "") {
    // amirun leaves what it loaded in place at exit; leaks are the library tests' business.
    const std::string command = "bash -c \"" + before + "ASAN_OPTIONS=detect_leaks=0 exec " +
                                wrapper + "'" KT_AMIRUN "' " + arguments + "\" 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    Result result{-1, ""};
    if (pipe == nullptr) return result;
    char buffer[4096];
    for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        result.output.append(buffer, n);
    const int status = pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

class AmirunRun : public ::testing::Test {
protected:
    void SetUp() override {
        out_ = fs::path(::testing::TempDir()) /
               ("amirun_" +
                std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(out_);
    }
    void TearDown() override { fs::remove_all(out_); }
    std::string Out() const { return " --out '" + out_.string() + "'"; }
    bool Png(const std::string& name) const {
        const std::string bytes = ReadBytes(out_ / name);
        return bytes.size() > 1000 && bytes.compare(1, 3, "PNG") == 0;
    }
    fs::path out_;
};

const std::string kRx = "'" KT_AMI_DIR "/KT7MRL40562D9_Rx_x64.so'";
const std::string kTx = "'" KT_AMI_DIR "/KT7MRL40562D9_Tx_x64.so'";

}  // namespace
