// Small fixtures shared by the unit tests: a private temp folder for the
// program's files, the console captured, and files read back as bytes.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>

#include <unistd.h>

// A fresh folder, used as the program's c:\temp while it lives.
class TempFolder {
public:
    TempFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "asioloop-test-XXXXXX").string();
        path_ = mkdtemp(pattern.data());
        setenv("ASIOLOOP_TEMP_DIR", path_.c_str(), 1);
    }
    ~TempFolder() {
        unsetenv("ASIOLOOP_TEMP_DIR");
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    std::filesystem::path file(const std::string& name) const { return std::filesystem::path(path_) / name; }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// Everything written to std::cout while it lives.
class CapturedConsole {
public:
    CapturedConsole() : previous_(std::cout.rdbuf(text_.rdbuf())) {}
    ~CapturedConsole() { std::cout.rdbuf(previous_); }
    CapturedConsole(const CapturedConsole&) = delete;
    CapturedConsole& operator=(const CapturedConsole&) = delete;
    std::string text() const { return text_.str(); }

private:
    std::ostringstream text_;
    std::streambuf* previous_;
};

inline std::string readFileBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
