// fmupack: writes an .fmu archive from files below one directory.
//
//   fmupack <archive> <directory> <entry>...
//
// Each entry is a path relative to the directory and becomes an archive entry
// of that name, in the order given: files only, no directory entries, "/" as
// the separator. Every entry's sizes and checksum stand in its local header
// (no trailing data descriptors), which the strictest readers demand. An
// existing archive is replaced.
#include <sys/stat.h>
#include <zip.h>

#include <cstdio>
#include <string>

namespace {

int fail(const std::string& message) {
    std::fprintf(stderr, "fmupack: %s\n", message.c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s <archive> <directory> <entry>...\n", argv[0]);
        return 2;
    }
    const std::string archivePath = argv[1];
    const std::string directory = argv[2];
    std::remove(archivePath.c_str());
    int code = 0;
    zip_t* archive = zip_open(archivePath.c_str(), ZIP_CREATE | ZIP_EXCL, &code);
    if (archive == nullptr) {
        zip_error_t error;
        zip_error_init_with_code(&error, code);
        const std::string text = zip_error_strerror(&error);
        zip_error_fini(&error);
        return fail("cannot create " + archivePath + ": " + text);
    }
    for (int i = 3; i < argc; ++i) {
        const std::string entry = argv[i];
        const std::string path = directory + "/" + entry;
        struct stat status {};
        if (entry.empty() || entry.front() == '/' || entry.compare(0, 2, "./") == 0 ||
            entry.find('\\') != std::string::npos || stat(path.c_str(), &status) != 0 ||
            !S_ISREG(status.st_mode)) {
            zip_discard(archive);
            return fail("not a file below " + directory + ": " + entry);
        }
        zip_source_t* source = zip_source_file(archive, path.c_str(), 0, -1);
        const zip_int64_t index =
            source == nullptr ? -1 : zip_file_add(archive, entry.c_str(), source, ZIP_FL_ENC_UTF_8);
        if (index < 0) {
            if (source != nullptr) {
                zip_source_free(source);
            }
            const std::string text = zip_strerror(archive);
            zip_discard(archive);
            return fail("cannot add " + entry + ": " + text);
        }
        // Unix permissions as the build left them, so that an unpacked
        // library is readable (and executable where the build made it so).
        zip_file_set_external_attributes(archive, static_cast<zip_uint64_t>(index), 0,
                                         ZIP_OPSYS_UNIX,
                                         static_cast<zip_uint32_t>(status.st_mode & 0777) << 16 |
                                             static_cast<zip_uint32_t>(S_IFREG) << 16);
    }
    if (zip_close(archive) != 0) {
        const std::string text = zip_strerror(archive);
        zip_discard(archive);
        return fail("cannot write " + archivePath + ": " + text);
    }
    return 0;
}
