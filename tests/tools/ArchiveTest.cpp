// The .fmu archives: exactly the expected entries, named as importers look
// for them, each holding what the build made for it.
#include <gtest/gtest.h>
#include <zip.h>

#include <cstdint>
#include <map>
#include <set>
#include <string>

#include "ToolTest.h"

namespace {

// Every entry of an archive by name, with its contents.
std::map<std::string, std::string> readArchive(const std::string& path, std::string& error) {
    std::map<std::string, std::string> entries;
    int code = 0;
    zip_t* archive = zip_open(path.c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &code);
    if (archive == nullptr) {
        zip_error_t zipError;
        zip_error_init_with_code(&zipError, code);
        error = zip_error_strerror(&zipError);
        zip_error_fini(&zipError);
        return entries;
    }
    const zip_int64_t count = zip_get_num_entries(archive, 0);
    for (zip_int64_t i = 0; i < count; ++i) {
        const auto index = static_cast<zip_uint64_t>(i);
        zip_stat_t stat;
        if (zip_stat_index(archive, index, 0, &stat) != 0) {
            error = zip_strerror(archive);
            break;
        }
        std::string contents(stat.size, '\0');
        zip_file_t* file = zip_fopen_index(archive, index, 0);
        const zip_int64_t read =
            file == nullptr ? -1 : zip_fread(file, contents.data(), contents.size());
        if (file != nullptr) {
            zip_fclose(file);
        }
        if (read != static_cast<zip_int64_t>(stat.size)) {
            error = std::string("cannot read ") + stat.name;
            break;
        }
        entries.emplace(stat.name, contents);
        if (entries.size() != index + 1) {
            error = std::string("two entries named ") + stat.name;
        }
    }
    zip_close(archive);
    return entries;
}

std::uint32_t littleEndian(const std::string& bytes, std::size_t offset, std::size_t size) {
    std::uint32_t value = 0;
    for (std::size_t i = size; i-- > 0;) {
        value = value << 8 | static_cast<unsigned char>(bytes.at(offset + i));
    }
    return value;
}

// ELF class (1: 32-bit, 2: 64-bit) and machine (3: i386, 62: x86-64).
bool isElf(const std::string& bytes, int elfClass, std::uint32_t machine) {
    return bytes.size() > 20 &&
           bytes.compare(0, 4,
                         "\x7f"
                         "ELF") == 0 &&
           bytes[4] == elfClass && littleEndian(bytes, 18, 2) == machine;
}

// A PE32+ image for x86-64.
bool isPe64(const std::string& bytes) {
    if (bytes.size() < 0x40 || bytes.compare(0, 2, "MZ") != 0) {
        return false;
    }
    const std::size_t pe = littleEndian(bytes, 0x3c, 4);
    return bytes.size() > pe + 26 && bytes.compare(pe, 4, std::string("PE\0\0", 4)) == 0 &&
           littleEndian(bytes, pe + 4, 2) == 0x8664 && littleEndian(bytes, pe + 24, 2) == 0x20b;
}

class Archive : public ::testing::TestWithParam<std::string> {
  protected:
    void SetUp() override {
        std::string error;
        entries_ = readArchive(binaryDir() + "/" + GetParam() + ".fmu", error);
        ASSERT_EQ(error, "");
    }

    std::string entry(const std::string& name) const {
        const auto found = entries_.find(name);
        return found == entries_.end() ? std::string() : found->second;
    }

    std::map<std::string, std::string> entries_;
};

}  // namespace

TEST_P(Archive, HasExactlyTheExpectedEntries) {
    const std::string& model = GetParam();
    std::set<std::string> names;
    for (const auto& [name, contents] : entries_) {
        names.insert(name);
    }
    EXPECT_EQ(names, (std::set<std::string>{"modelDescription.xml", "documentation/_main.html",
                                            "binaries/linux32/" + model + ".so",
                                            "binaries/linux64/" + model + ".so",
                                            "binaries/win64/" + model + ".dll"}));
}

TEST_P(Archive, EntriesHoldWhatTheBuildMade) {
    const std::string& model = GetParam();
    const std::string stage = binaryDir() + "/fmu/" + model;
    const std::string platforms = binaryDir() + "/platforms/";
    const std::map<std::string, std::string> sources = {
        {"modelDescription.xml", stage + "/modelDescription.xml"},
        {"documentation/_main.html", stage + "/documentation/_main.html"},
        {"binaries/linux32/" + model + ".so", platforms + "linux32/" + model + ".so"},
        {"binaries/linux64/" + model + ".so", binaryDir() + "/" + model + ".so"},
        {"binaries/win64/" + model + ".dll", platforms + "win64/" + model + ".dll"},
    };
    for (const auto& [name, source] : sources) {
        SCOPED_TRACE(name);
        const std::string built = readFile(source);
        ASSERT_FALSE(built.empty()) << source;
        EXPECT_TRUE(entry(name) == built) << "differs from " << source;
    }
}

TEST_P(Archive, BinariesAreForTheirPlatforms) {
    const std::string& model = GetParam();
    EXPECT_TRUE(isElf(entry("binaries/linux32/" + model + ".so"), 1, 3));
    EXPECT_TRUE(isElf(entry("binaries/linux64/" + model + ".so"), 2, 62));
    EXPECT_TRUE(isPe64(entry("binaries/win64/" + model + ".dll")));
}

INSTANTIATE_TEST_SUITE_P(Models, Archive, ::testing::ValuesIn(builtModels()),
                         [](const auto& model) { return model.param; });
