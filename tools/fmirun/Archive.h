// An .fmu archive, unpacked into a directory of its own that goes away with
// the object, and the parts of it that the master uses.
#pragma once

#include <string>

// The binaries directory of the platform this master runs on.
const char* platformName();

// The library's file name suffix on this platform.
const char* librarySuffix();

class TemporaryDirectory {
  public:
    TemporaryDirectory();
    ~TemporaryDirectory();
    TemporaryDirectory(const TemporaryDirectory&) = delete;
    TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;

    const std::string& path() const {
        return path_;
    }

  private:
    std::string path_;
};

// Unpacks every entry of the archive into `directory` and returns the text of
// its model description. Throws Failure (kExitModel) for a missing, unreadable
// or corrupt archive, an entry that would land outside the directory, and an
// archive without a model description at its root.
std::string unpackArchive(const std::string& archivePath, const std::string& directory);
