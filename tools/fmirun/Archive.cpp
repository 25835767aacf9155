#include "Archive.h"

#include <zip.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <vector>

#include "Failure.h"

namespace fs = std::filesystem;

namespace {

// Far beyond any model description or slave library: an entry that claims
// more is damaged, or a zip bomb.
constexpr zip_uint64_t kLargestEntry = zip_uint64_t{1} << 30;

[[noreturn]] void refuse(const std::string& message) {
    throw Failure(kExitModel, message);
}

// Entry names are relative, "/"-separated paths; anything that could climb
// out of the directory, or that names it as a whole, is refused.
bool isSafeEntryName(const std::string& name) {
    if (name.empty() || name.front() == '/' || name.find('\\') != std::string::npos ||
        name.find(':') != std::string::npos) {
        return false;
    }
    std::size_t start = 0;
    while (start <= name.size()) {
        const std::size_t slash = std::min(name.find('/', start), name.size());
        const std::string part = name.substr(start, slash - start);
        if (part == "..") {
            return false;
        }
        start = slash + 1;
    }
    return true;
}

std::string zipErrorText(int code) {
    zip_error_t error;
    zip_error_init_with_code(&error, code);
    std::string text = zip_error_strerror(&error);
    zip_error_fini(&error);
    return text;
}

class OpenArchive {
  public:
    explicit OpenArchive(const std::string& path) {
        int code = 0;
        // No consistency check of the headers beyond what reading needs:
        // some zip writers leave harmless differences between local and
        // central headers. Every entry's checksum is still tested.
        archive_ = zip_open(path.c_str(), ZIP_RDONLY, &code);
        if (archive_ == nullptr) {
            refuse(path + " is not a valid FMU archive (a zip file): " + zipErrorText(code));
        }
    }
    ~OpenArchive() {
        zip_discard(archive_);
    }
    OpenArchive(const OpenArchive&) = delete;
    OpenArchive& operator=(const OpenArchive&) = delete;

    zip_t* get() const {
        return archive_;
    }

  private:
    zip_t* archive_;
};

}  // namespace

const char* platformName() {
#if defined(__linux__) && defined(__x86_64__)
    return "linux64";
#elif defined(__linux__) && defined(__i386__)
    return "linux32";
#else
#error "a platform this master does not know"
#endif
}

const char* librarySuffix() {
    return ".so";
}

TemporaryDirectory::TemporaryDirectory() {
    std::error_code error;
    fs::path base = fs::temp_directory_path(error);
    if (error) {
        base = "/tmp";
    }
    std::string pattern = (base / "fmirun.XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw Failure(kExitModel, "cannot make a temporary directory in " + base.string() + ": " +
                                      std::strerror(errno));
    }
    path_ = pattern;
}

TemporaryDirectory::~TemporaryDirectory() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

std::string unpackArchive(const std::string& archivePath, const std::string& directory) {
    std::error_code error;
    if (!fs::is_regular_file(archivePath, error)) {
        refuse("cannot open " + archivePath + ": " +
               (fs::exists(archivePath, error) ? "not a file" : "no such file"));
    }
    const OpenArchive archive(archivePath);
    std::string modelDescription;
    bool hasModelDescription = false;
    const zip_int64_t count = zip_get_num_entries(archive.get(), 0);
    for (zip_int64_t i = 0; i < count; ++i) {
        const auto index = static_cast<zip_uint64_t>(i);
        zip_stat_t stat;
        if (zip_stat_index(archive.get(), index, 0, &stat) != 0) {
            refuse(archivePath + " is corrupt: " + zip_strerror(archive.get()));
        }
        const std::string name = stat.name;
        if (!isSafeEntryName(name)) {
            refuse(archivePath + " has an entry named \"" + name +
                   "\", which would land outside the unpacked archive");
        }
        const fs::path target = fs::path(directory) / name;
        if (name.back() == '/') {
            fs::create_directories(target, error);
            continue;
        }
        if (stat.size > kLargestEntry) {
            refuse(archivePath + " is corrupt or not an FMU: entry " + name + " would unpack to " +
                   std::to_string(stat.size) + " bytes");
        }
        fs::create_directories(target.parent_path(), error);
        std::vector<char> contents(stat.size);
        zip_file_t* file = zip_fopen_index(archive.get(), index, 0);
        if (file == nullptr) {
            refuse(archivePath + " is corrupt: cannot read " + name + ": " +
                   zip_strerror(archive.get()));
        }
        const zip_int64_t read = zip_fread(file, contents.data(), contents.size());
        // The checksum is tested when the end is reached, which takes one
        // more read.
        char beyond = 0;
        const zip_int64_t end = read < 0 ? -1 : zip_fread(file, &beyond, 1);
        const std::string fileError = zip_file_strerror(file);
        zip_fclose(file);
        if (read < 0 || static_cast<zip_uint64_t>(read) != stat.size || end != 0) {
            refuse(archivePath + " is corrupt: cannot read " + name + ": " + fileError);
        }
        std::ofstream out(target, std::ios::binary);
        out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
        out.close();
        if (!out) {
            refuse("cannot unpack " + name + " of " + archivePath + " into " + directory);
        }
        if (name == "modelDescription.xml") {
            modelDescription.assign(contents.begin(), contents.end());
            hasModelDescription = true;
        }
    }
    if (!hasModelDescription) {
        refuse(archivePath + " has no modelDescription.xml at its root");
    }
    return modelDescription;
}
