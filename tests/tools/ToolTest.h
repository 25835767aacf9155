// What the tests of the build-machine tools share: where the build put things,
// the models it built, and small file helpers.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <ostream>
#include <string>
#include <vector>

// Given by the build: the build directory and the models, comma-separated.
#ifndef TOOL_TEST_BINARY_DIR
#error "TOOL_TEST_BINARY_DIR must name the build directory"
#endif
#ifndef TOOL_TEST_MODELS
#error "TOOL_TEST_MODELS must list the models"
#endif
#ifndef TOOL_TEST_ARCHIVES
#error "TOOL_TEST_ARCHIVES must list the archives the build packs"
#endif

inline std::string binaryDir() {
    return TOOL_TEST_BINARY_DIR;
}

inline std::vector<std::string> commaSeparated(const std::string& list) {
    std::vector<std::string> items;
    std::size_t start = 0;
    while (start <= list.size()) {
        const std::size_t comma = std::min(list.find(',', start), list.size());
        if (comma > start) {
            items.push_back(list.substr(start, comma - start));
        }
        start = comma + 1;
    }
    return items;
}

inline std::vector<std::string> builtModels() {
    return commaSeparated(TOOL_TEST_MODELS);
}

// One model as an FMU of one FMI version: its description, documentation
// page and archive. Every version is described; an archive is packed only
// where the build has the model's library of that version.
struct ModelVersion {
    std::string model;
    int fmiVersion;

    // What the archive's and stage directory's names add to the identifier.
    std::string suffix() const {
        return fmiVersion == 1 ? "" : "-fmi" + std::to_string(fmiVersion);
    }
    std::string stageDir() const {
        return binaryDir() + "/fmu/" + model + suffix();
    }
    std::string archiveName() const {
        return model + suffix() + ".fmu";
    }
    // The library of this version in a build directory, with the
    // platform's extension.
    std::string libraryIn(const std::string& buildDir, const std::string& extension) const {
        const std::string folder = fmiVersion == 1 ? "" : "/fmi" + std::to_string(fmiVersion);
        return buildDir + folder + "/" + model + extension;
    }
    bool packed() const {
        const std::vector<std::string> archives = commaSeparated(TOOL_TEST_ARCHIVES);
        return std::find(archives.begin(), archives.end(), archiveName()) != archives.end();
    }
};

inline std::vector<ModelVersion> builtModelVersions(std::initializer_list<int> versions) {
    std::vector<ModelVersion> all;
    for (const std::string& model : builtModels()) {
        for (const int version : versions) {
            all.push_back({model, version});
        }
    }
    return all;
}

// A test's name: Halvorn_fmi1, Halvorn_fmi2, ...
inline std::string nameOf(const ModelVersion& version) {
    return version.model + "_fmi" + std::to_string(version.fmiVersion);
}

// How a failing test shows its parameter.
inline void PrintTo(const ModelVersion& version, std::ostream* out) {
    *out << nameOf(version);
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
