#include "Archive.h"

#include <zip.h>

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "Failure.h"

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kPieceSize = 64 * 1024;

[[noreturn]] void refuse(const std::string& message) {
    throw Failure(kExitModel, message);
}

// Entry names are relative, "/"-separated paths; anything that could climb
// out of the folder an archive is unpacked into, or that names it as a whole,
// marks the archive as hostile, whether or not the run needs that entry.
bool isSafeEntryName(const std::string& name) {
    if (name.empty() || name.front() == '/' || name.find('\\') != std::string::npos ||
        name.find(':') != std::string::npos) {
        return false;
    }
    std::size_t start = 0;
    while (start <= name.size()) {
        const std::size_t slash = std::min(name.find('/', start), name.size());
        if (name.compare(start, slash - start, "..") == 0) {
            return false;
        }
        start = slash + 1;
    }
    return true;
}

std::string zipErrorText(zip_error_t* error) {
    return zip_error_strerror(error);
}

struct OpenedFile {
    zip_file_t* file;
    ~OpenedFile() {
        if (file != nullptr) {
            zip_fclose(file);
        }
    }
};

}  // namespace

struct FmuArchive::Handle {
    zip_t* archive = nullptr;
    ~Handle() {
        if (archive != nullptr) {
            zip_discard(archive);
        }
    }
};

const char* platformName(int fmiVersion) {
#if defined(__linux__) && defined(__x86_64__)
    return fmiVersion < 3 ? "linux64" : "x86_64-linux";
#elif defined(__linux__) && defined(__i386__)
    return fmiVersion < 3 ? "linux32" : "x86-linux";
#elif defined(__linux__) && defined(__aarch64__)
    // FMI 1.0 and 2.0 name no ARM platform; importers look in linux64 there.
    return fmiVersion < 3 ? "linux64" : "aarch64-linux";
#else
#error "a platform this master does not know"
#endif
}

const char* librarySuffix() {
    return ".so";
}

namespace {

// Opens the archive from `source`, which it then owns, and checks the entry
// names of its central directory (no entry is unpacked for that).
zip_t* openArchive(zip_source_t* source, const std::string& name) {
    zip_error_t error;
    zip_error_init(&error);
    // No consistency check of the headers beyond what reading needs: some zip
    // writers leave harmless differences between local and central headers.
    // Every entry that is read has its checksum tested.
    zip_t* archive = zip_open_from_source(source, ZIP_RDONLY, &error);
    if (archive == nullptr) {
        const std::string text = zipErrorText(&error);
        zip_error_fini(&error);
        zip_source_free(source);
        refuse(name + " is not a valid FMU archive (a zip file): " + text);
    }
    zip_error_fini(&error);
    const zip_int64_t count = zip_get_num_entries(archive, 0);
    for (zip_int64_t i = 0; i < count; ++i) {
        const char* entry = zip_get_name(archive, static_cast<zip_uint64_t>(i), 0);
        if (entry == nullptr || !isSafeEntryName(entry)) {
            const std::string shown = entry == nullptr ? "" : entry;
            zip_discard(archive);
            refuse(name + " has an entry named \"" + shown +
                   "\", which would land outside the unpacked archive");
        }
    }
    return archive;
}

}  // namespace

FmuArchive::FmuArchive(const std::string& path) : name_(path), handle_(std::make_unique<Handle>()) {
    std::error_code error;
    if (!fs::is_regular_file(path, error)) {
        refuse("cannot open " + path + ": " +
               (fs::exists(path, error) ? "not a file" : "no such file"));
    }
    zip_error_t zipError;
    zip_error_init(&zipError);
    zip_source_t* source = zip_source_file_create(path.c_str(), 0, -1, &zipError);
    if (source == nullptr) {
        const std::string text = zipErrorText(&zipError);
        zip_error_fini(&zipError);
        refuse("cannot open " + path + ": " + text);
    }
    zip_error_fini(&zipError);
    handle_->archive = openArchive(source, name_);
}

FmuArchive::FmuArchive(const void* data, std::size_t size, const std::string& name)
    : name_(name), handle_(std::make_unique<Handle>()) {
    zip_error_t zipError;
    zip_error_init(&zipError);
    zip_source_t* source = zip_source_buffer_create(data, size, 0, &zipError);
    zip_error_fini(&zipError);
    if (source == nullptr) {
        refuse("cannot read " + name + " from memory");
    }
    handle_->archive = openArchive(source, name_);
}

FmuArchive::~FmuArchive() = default;

bool FmuArchive::contains(const std::string& entry) const {
    return zip_name_locate(handle_->archive, entry.c_str(), 0) >= 0;
}

void FmuArchive::unpack(const std::string& entry, std::size_t largest,
                        const std::function<void(const char*, std::size_t)>& sink) const {
    const zip_int64_t index = zip_name_locate(handle_->archive, entry.c_str(), 0);
    if (index < 0) {
        refuse(name_ + " has no " + entry);
    }
    const OpenedFile opened{zip_fopen_index(handle_->archive, static_cast<zip_uint64_t>(index), 0)};
    if (opened.file == nullptr) {
        refuse(name_ + " is corrupt: cannot read " + entry + ": " + zip_strerror(handle_->archive));
    }
    // The size in the headers may lie: what counts is what unpacks. The
    // checksum is tested when the end is reached.
    char piece[kPieceSize];
    std::size_t total = 0;
    for (;;) {
        const zip_int64_t read = zip_fread(opened.file, piece, sizeof piece);
        if (read < 0) {
            refuse(name_ + " is corrupt: cannot read " + entry + ": " +
                   zip_file_strerror(opened.file));
        }
        if (read == 0) {
            return;
        }
        total += static_cast<std::size_t>(read);
        if (total > largest) {
            refuse(name_ + " is corrupt or not an FMU: " + entry + " unpacks to more than " +
                   std::to_string(largest) + " bytes");
        }
        sink(piece, static_cast<std::size_t>(read));
    }
}

std::string FmuArchive::modelDescription() const {
    const std::string entry = "modelDescription.xml";
    if (!contains(entry)) {
        refuse(name_ + " has no modelDescription.xml at its root");
    }
    std::string text;
    unpack(entry, kLargestModelDescription,
           [&text](const char* bytes, std::size_t size) { text.append(bytes, size); });
    return text;
}
