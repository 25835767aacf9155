// What the tests of the build-machine tools share: where the build put things,
// the models it built, and small file helpers.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

// Given by the build: the build directory and the models, comma-separated.
#ifndef TOOL_TEST_BINARY_DIR
#error "TOOL_TEST_BINARY_DIR must name the build directory"
#endif
#ifndef TOOL_TEST_MODELS
#error "TOOL_TEST_MODELS must list the models"
#endif

inline std::string binaryDir() {
    return TOOL_TEST_BINARY_DIR;
}

inline std::vector<std::string> builtModels() {
    std::vector<std::string> models;
    std::string list = TOOL_TEST_MODELS;
    std::size_t start = 0;
    while (start <= list.size()) {
        const std::size_t comma = std::min(list.find(',', start), list.size());
        if (comma > start) {
            models.push_back(list.substr(start, comma - start));
        }
        start = comma + 1;
    }
    return models;
}

// The whole file as bytes; empty when it cannot be read.
std::string readFile(const std::string& path);
bool writeFile(const std::string& path, const std::string& contents);

inline std::uint64_t bitsOf(double value) {
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

// A directory of its own under the system's temporary directory, removed
// with everything in it when the object goes.
class TemporaryDirectory {
  public:
    TemporaryDirectory();
    ~TemporaryDirectory();
    TemporaryDirectory(const TemporaryDirectory&) = delete;
    TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;

    const std::string& path() const {
        return path_;
    }
    std::string operator/(const std::string& name) const {
        return path_ + "/" + name;
    }

  private:
    std::string path_;
};
