#pragma once

#include <unistd.h>

#include <cstdio>
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

// Captures file descriptor 2 for its scope. A model library carries its own C++ runtime and
// thus its own std::cerr, so its block messages are only seen at the descriptor.
class StderrFdCapture {
public:
    StderrFdCapture() : file_(std::tmpfile()), saved_(dup(2)) {
        std::fflush(stderr);
        if (file_ != nullptr) dup2(fileno(file_), 2);
    }
    ~StderrFdCapture() {
        Restore();
        if (file_ != nullptr) std::fclose(file_);
    }
    StderrFdCapture(const StderrFdCapture&) = delete;
    StderrFdCapture& operator=(const StderrFdCapture&) = delete;

    std::vector<std::string> Lines() {
        Restore();
        std::vector<std::string> lines;
        if (file_ == nullptr) return lines;
        std::rewind(file_);
        std::string line;
        for (int c; (c = std::fgetc(file_)) != EOF;) {
            if (c == '\n') {
                lines.push_back(line);
                line.clear();
            } else {
                line += static_cast<char>(c);
            }
        }
        return lines;
    }

private:
    void Restore() {
        if (saved_ >= 0) {
            std::fflush(stderr);
            dup2(saved_, 2);
            close(saved_);
            saved_ = -1;
        }
    }
    std::FILE* file_;
    int saved_;
};
