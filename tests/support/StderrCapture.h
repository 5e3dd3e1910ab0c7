#pragma once

#include <iostream>
#include <sstream>
#include <string>
#include <vector>

// Swaps std::cerr's buffer for its scope, so that block messages can be compared line by line.
class StderrCapture {
public:
    StderrCapture() : saved_(std::cerr.rdbuf(captured_.rdbuf())) {}
    ~StderrCapture() { std::cerr.rdbuf(saved_); }
    StderrCapture(const StderrCapture&) = delete;
    StderrCapture& operator=(const StderrCapture&) = delete;

    std::string Text() const { return captured_.str(); }

    std::vector<std::string> Lines() const {
        std::vector<std::string> lines;
        std::istringstream in(captured_.str());
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }

private:
    std::ostringstream captured_;
    std::streambuf* saved_;
};
