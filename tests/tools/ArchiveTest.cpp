// The .fmu archives: exactly the expected entries, named as importers look
// for them, each holding what the build made for it.
#include <gtest/gtest.h>
#include <zip.h>
#include <pugixml.hpp>

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

// ELF class (1: 32-bit, 2: 64-bit) and machine (3: i386, 62: x86-64, 183: AArch64).
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

// What an archive of each FMI version holds besides its description and the
// picture on its page (kCharacteristic): the documentation page, and the
// binaries folders of the libraries built for
// 32-bit Linux, by this build (64-bit Linux) and for 64-bit Windows.
struct ArchiveLayout {
    std::string documentation;
    std::string linux32;
    std::string linux64;
    std::string win64;
};

const std::string kCharacteristic = "documentation/characteristic.svg";
const std::string kDemonstration = "documentation/demonstration.csv";
const std::string kDemonstrationTitle = "documentation/demonstration.txt";

const std::map<int, ArchiveLayout> kLayouts = {
    {1, {"documentation/_main.html", "linux32", "linux64", "win64"}},
    {2, {"documentation/index.html", "linux32", "linux64", "win64"}},
    {3, {"documentation/index.html", "x86-linux", "x86_64-linux", "x86_64-windows"}},
};

class Archive : public ::testing::TestWithParam<ModelVersion> {
  protected:
    void SetUp() override {
        if (!GetParam().packed()) {
            GTEST_SKIP() << "this build has no FMI " << GetParam().fmiVersion << " library of "
                         << GetParam().model;
        }
        std::string error;
        entries_ = readArchive(binaryDir() + "/" + GetParam().archiveName(), error);
        ASSERT_EQ(error, "");
    }

    const ArchiveLayout& layout() const {
        return kLayouts.at(GetParam().fmiVersion);
    }
    std::string linux32Entry() const {
        return "binaries/" + layout().linux32 + "/" + GetParam().model + ".so";
    }
    std::string linux64Entry() const {
        return "binaries/" + layout().linux64 + "/" + GetParam().model + ".so";
    }
    std::string win64Entry() const {
        return "binaries/" + layout().win64 + "/" + GetParam().model + ".dll";
    }
    // FMI 3.0 only.
    std::string aarch64Entry() const {
        return "binaries/aarch64-linux/" + GetParam().model + ".so";
    }

    std::string entry(const std::string& name) const {
        const auto found = entries_.find(name);
        return found == entries_.end() ? std::string() : found->second;
    }

    std::map<std::string, std::string> entries_;
};

}  // namespace

TEST_P(Archive, HasExactlyTheExpectedEntries) {
    // A 3.0 archive's source code is checked by building and testing it.
    std::set<std::string> names;
    for (const auto& [name, contents] : entries_) {
        if (GetParam().fmiVersion != 3 || name.rfind("sources/", 0) != 0) {
            names.insert(name);
        }
    }
    std::set<std::string> expected = {"modelDescription.xml", layout().documentation,
                                      kCharacteristic,        linux32Entry(),
                                      linux64Entry(),         win64Entry()};
    if (GetParam().fmiVersion == 3) {
        expected.insert(aarch64Entry());
        EXPECT_EQ(entries_.count("sources/buildDescription.xml"), 1U);
    }
    // Every model we archive is demonstrated.
    expected.insert(kDemonstration);
    expected.insert(kDemonstrationTitle);
    EXPECT_EQ(names, expected);
}

// The demonstration: a title of one line, and a table that any master's
// input-file reader takes: "time" and the description's inputs in its order,
// then rows of numbers from the default experiment's start to its stop.
TEST_P(Archive, CarriesADemonstrationOverTheDefaultExperiment) {
    const std::string title = entry(kDemonstrationTitle);
    EXPECT_GT(title.size(), 1U);
    EXPECT_EQ(title.find('\n'), title.size() - 1);
    pugi::xml_document description;
    ASSERT_TRUE(description.load_string(entry("modelDescription.xml").c_str()));
    std::string header = "time";
    for (const pugi::xpath_node& input : description.select_nodes("//*[@causality='input']")) {
        header += "," + std::string(input.node().attribute("name").value());
    }
    const std::string table = entry(kDemonstration);
    ASSERT_EQ(table.substr(0, header.size() + 1), header + "\n");
    const pugi::xml_node experiment = description.document_element().child("DefaultExperiment");
    const std::string start = experiment.attribute("startTime").value();
    const std::string stop = experiment.attribute("stopTime").value();
    EXPECT_EQ(table.substr(header.size() + 1, start.size() + 1), start + ",");
    EXPECT_NE(table.rfind("\n" + stop + ","), std::string::npos);
}

TEST_P(Archive, EntriesHoldWhatTheBuildMade) {
    const ModelVersion& packed = GetParam();
    const std::string stage = packed.stageDir();
    const std::string platforms = binaryDir() + "/platforms/";
    std::map<std::string, std::string> sources = {
        {"modelDescription.xml", stage + "/modelDescription.xml"},
        {layout().documentation, stage + "/" + layout().documentation},
        {kCharacteristic, stage + "/" + kCharacteristic},
        {kDemonstration, stage + "/" + kDemonstration},
        {kDemonstrationTitle, stage + "/" + kDemonstrationTitle},
        {linux32Entry(), packed.libraryIn(platforms + "linux32", ".so")},
        {linux64Entry(), packed.libraryIn(binaryDir(), ".so")},
        {win64Entry(), packed.libraryIn(platforms + "win64", ".dll")},
    };
    if (packed.fmiVersion == 3) {
        sources.emplace(aarch64Entry(), packed.libraryIn(platforms + "aarch64", ".so"));
    }
    for (const auto& [name, source] : sources) {
        SCOPED_TRACE(name);
        const std::string built = readFile(source);
        ASSERT_FALSE(built.empty()) << source;
        EXPECT_TRUE(entry(name) == built) << "differs from " << source;
    }
}

TEST_P(Archive, BinariesAreForTheirPlatforms) {
    EXPECT_TRUE(isElf(entry(linux32Entry()), 1, 3));
    EXPECT_TRUE(isElf(entry(linux64Entry()), 2, 62));
    EXPECT_TRUE(isPe64(entry(win64Entry())));
    if (GetParam().fmiVersion == 3) {
        EXPECT_TRUE(isElf(entry(aarch64Entry()), 2, 183));
    }
}

INSTANTIATE_TEST_SUITE_P(Models, Archive, ::testing::ValuesIn(builtModelVersions({1, 2, 3})),
                         [](const auto& packed) { return nameOf(packed.param); });
