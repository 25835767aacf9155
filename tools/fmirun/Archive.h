// What a run needs of an .fmu archive: the text of its model description and
// the one library for this platform, read entry by entry as they are needed,
// streamed, with bounds on what they may unpack to. No other entry is read.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

// The binaries directory of the platform this master runs on, by FMI
// version: 3.0 names platforms otherwise than 1.0 and 2.0.
const char* platformName(int fmiVersion);

// The library's file name suffix on this platform.
const char* librarySuffix();

// Far beyond any model description or slave library: an entry that unpacks
// to more is damaged, or a zip bomb. Together they bound what a run unpacks.
constexpr std::size_t kLargestModelDescription = std::size_t{64} << 20;
constexpr std::size_t kLargestLibrary = std::size_t{512} << 20;

class FmuArchive {
  public:
    // Throws Failure (kExitModel) for a missing, unreadable or corrupt
    // archive, and for one with an entry whose name would land outside the
    // folder it is unpacked into.
    explicit FmuArchive(const std::string& path);
    // The same for an archive in memory, which must outlive the object;
    // `name` names it in messages.
    FmuArchive(const void* data, std::size_t size, const std::string& name);
    ~FmuArchive();
    FmuArchive(const FmuArchive&) = delete;
    FmuArchive& operator=(const FmuArchive&) = delete;

    // The model description at the archive's root. Throws Failure
    // (kExitModel) when there is none, it is damaged or larger than
    // kLargestModelDescription.
    std::string modelDescription() const;

    bool contains(const std::string& entry) const;

    // Hands the entry's bytes to `sink` in pieces as they are unpacked.
    // Throws Failure (kExitModel) when it is damaged or unpacks to more than
    // `largest` bytes, possibly after some pieces went to the sink.
    void unpack(const std::string& entry, std::size_t largest,
                const std::function<void(const char*, std::size_t)>& sink) const;

  private:
    struct Handle;
    std::string name_;
    std::unique_ptr<Handle> handle_;
};
