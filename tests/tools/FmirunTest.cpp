// The command-line master, run as a user runs it: its results against the
// force equations bit for bit, its messages and output, and its refusal of
// every kind of bad input with a message and the exit status of that kind.
#include <gtest/gtest.h>
#include <zip.h>
#include <pugixml.hpp>

#include <algorithm>
#include <array>
#include <cfenv>
#include <charconv>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <map>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "DemonstrationInputs.h"
#include "ModelFacts.h"
#include "PlotLayout.h"
#include "Process.h"
#include "ToolTest.h"

#if !defined(TOOL_TEST_FMIRUN) || !defined(TOOL_TEST_TERMINUS)
#error "TOOL_TEST_FMIRUN and TOOL_TEST_TERMINUS must name the master and the test-only model"
#endif

namespace {

enum Exit { kSuccess = 0, kSlaveFailed = 1, kUsage = 2, kInputFile = 3, kModel = 4, kOutput = 5 };

std::string text(double value) {
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

struct Csv {
    std::vector<std::string> header;
    std::vector<std::vector<double>> rows;
};

Csv parseCsv(const std::string& contents) {
    Csv csv;
    std::istringstream lines(contents);
    std::string line;
    while (std::getline(lines, line)) {
        std::vector<std::string> cells;
        std::istringstream fields(line);
        std::string cell;
        while (std::getline(fields, cell, ',')) {
            cells.push_back(cell);
        }
        if (csv.header.empty()) {
            csv.header = cells;
            continue;
        }
        std::vector<double> row;
        for (const std::string& value : cells) {
            row.push_back(std::strtod(value.c_str(), nullptr));
        }
        csv.rows.push_back(row);
    }
    return csv;
}

// Bit for bit; a NaN, whose payload a decimal text cannot carry, matches any NaN.
::testing::AssertionResult same(double expected, double actual) {
    if (bitsOf(expected) == bitsOf(actual) || (std::isnan(expected) && std::isnan(actual))) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure()
           << "expected " << text(expected) << ", got " << text(actual);
}

struct DescribedVariable {
    std::string name;
    std::string causality;
};

// A parameter is "internal" with variability "parameter" in 1.0, and of
// causality "parameter" in later versions.
bool isParameter(const DescribedVariable& variable) {
    return variable.causality == "internal" || variable.causality == "parameter";
}

// The variables of the description of a version, in order; 3.0's independent
// time, which the master never sets or reads, left out.
std::vector<DescribedVariable> describedVariables(const ModelVersion& version) {
    pugi::xml_document document;
    document.load_file((version.stageDir() + "/modelDescription.xml").c_str());
    std::vector<DescribedVariable> variables;
    for (const pugi::xml_node& node :
         document.document_element().child("ModelVariables").children()) {
        const std::string causality = node.attribute("causality").value();
        if (node.type() == pugi::node_element && causality != "independent") {
            variables.push_back({node.attribute("name").value(), causality});
        }
    }
    return variables;
}

// Every model in every version that the build packs.
std::vector<ModelVersion> packedModelVersions() {
    std::vector<ModelVersion> packed;
    for (const ModelVersion& version : builtModelVersions({1, 2, 3})) {
        if (version.packed()) {
            packed.push_back(version);
        }
    }
    return packed;
}

void writeZip(const std::string& path, const std::map<std::string, std::string>& entries) {
    int code = 0;
    zip_t* archive = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &code);
    ASSERT_NE(archive, nullptr);
    for (const auto& [name, contents] : entries) {
        zip_source_t* source = zip_source_buffer(archive, contents.data(), contents.size(), 0);
        ASSERT_GE(zip_file_add(archive, name.c_str(), source, 0), 0);
    }
    ASSERT_EQ(zip_close(archive), 0);
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
    const std::size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) {
        text.replace(at, from.size(), to);
    }
    return text;
}

// An SVG transform matrix(a b c d e f), as its six numbers.
using Transform = std::array<double, 6>;

// Where a node's own coordinates land in the picture: the matrix()
// transforms of the node and its ancestors, innermost first.
Transform transformOf(pugi::xml_node node) {
    Transform total = {1, 0, 0, 1, 0, 0};
    for (; node; node = node.parent()) {
        const std::string text = node.attribute("transform").value();
        if (text.rfind("matrix(", 0) != 0) {
            continue;
        }
        Transform outer{};
        std::istringstream numbers(text.substr(7));
        for (double& number : outer) {
            numbers >> number;
        }
        const Transform inner = total;
        total = {outer[0] * inner[0] + outer[2] * inner[1],
                 outer[1] * inner[0] + outer[3] * inner[1],
                 outer[0] * inner[2] + outer[2] * inner[3],
                 outer[1] * inner[2] + outer[3] * inner[3],
                 outer[0] * inner[4] + outer[2] * inner[5] + outer[4],
                 outer[1] * inner[4] + outer[3] * inner[5] + outer[5]};
    }
    return total;
}

// The points of the lines in one colour within a frame (the legend's sample
// of the line lies beside it), in the picture's coordinates and the order
// drawn; a long line comes in pieces that share their ends, which count once.
std::vector<std::array<double, 2>> linePoints(const pugi::xml_document& svg,
                                              const plot::layout::Colour& colour,
                                              const plot::layout::Frame& frame) {
    char stroke[8];
    std::snprintf(stroke, sizeof stroke, "#%02x%02x%02x", colour.red, colour.green, colour.blue);
    std::vector<std::array<double, 2>> points;
    for (const pugi::xpath_node& found : svg.select_nodes("//polyline")) {
        std::string drawn = found.node().attribute("stroke").value();
        std::transform(drawn.begin(), drawn.end(), drawn.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        if (drawn != stroke) {
            continue;
        }
        const Transform m = transformOf(found.node());
        std::istringstream pairs(found.node().attribute("points").value());
        double x = 0.0;
        double y = 0.0;
        char comma = 0;
        while (pairs >> x >> comma >> y) {
            const std::array<double, 2> point = {m[0] * x + m[2] * y + m[4],
                                                 m[1] * x + m[3] * y + m[5]};
            const bool inFrame = point[0] >= frame.left - 1 && point[0] <= frame.right + 1 &&
                                 point[1] >= frame.top - 1 && point[1] <= frame.bottom + 1;
            if (inFrame && (points.empty() || points.back() != point)) {
                points.push_back(point);
            }
        }
    }
    return points;
}

class Fmirun : public ::testing::Test {
  protected:
    // Other tests of this program load the travel stop's 1.0 library, which
    // sets flush-to-zero in the thread for good; the numbers fmirun writes
    // are read and compared here as any program reads them, subnormal ones
    // included.
    void SetUp() override {
        std::fesetenv(FE_DFL_ENV);
    }

    Finished run(const std::vector<std::string>& arguments) const {
        return runProgram(TOOL_TEST_FMIRUN, arguments, directory_.path());
    }

    std::string file(const std::string& name, const std::string& contents) const {
        const std::string path = directory_ / name;
        EXPECT_TRUE(writeFile(path, contents));
        return path;
    }

    static std::string archive(const std::string& model) {
        return binaryDir() + "/" + model + ".fmu";
    }
    static std::string library(const std::string& model) {
        return binaryDir() + "/" + model + ".so";
    }
    static std::string description(const std::string& model) {
        return readFile(binaryDir() + "/fmu/" + model + "/modelDescription.xml");
    }
    static std::string archive(const ModelVersion& version) {
        return binaryDir() + "/" + version.archiveName();
    }
    static std::string library(const ModelVersion& version) {
        return version.libraryIn(binaryDir(), ".so");
    }
    static std::string description(const ModelVersion& version) {
        return readFile(version.stageDir() + "/modelDescription.xml");
    }
    // The inputs a library needs, as it carries no demonstration of its own.
    static std::string demonstration(const ModelVersion& version) {
        return version.stageDir() + "/documentation/demonstration.csv";
    }

    // The version's description offering Model Exchange beside
    // co-simulation, from the same library.
    static std::string withModelExchange(const ModelVersion& version) {
        const std::string text = description(version);
        if (text.find("<ModelExchange") != std::string::npos) {
            return text;
        }
        return replaced(text, "<CoSimulation",
                        "<ModelExchange modelIdentifier=\"" + version.model + "\"/><CoSimulation");
    }

    // A refusal: the status of its kind, one message naming the problem, and
    // no results.
    void expectRefusal(const std::vector<std::string>& arguments, int status,
                       const std::vector<std::string>& messageParts) const {
        const Finished finished = run(arguments);
        EXPECT_EQ(finished.status, status) << finished.err;
        for (const std::string& part : messageParts) {
            EXPECT_NE(finished.err.find(part), std::string::npos)
                << "'" << part << "' not in: " << finished.err;
        }
        EXPECT_EQ(finished.out, "");
    }

    TemporaryDirectory directory_;
};

class FmirunModel : public Fmirun, public ::testing::WithParamInterface<ModelVersion> {};

}  // namespace

// With no inputs given, the archive's demonstration drives them.
TEST_P(FmirunModel, RunsTheArchivesDemonstration) {
    const ModelVersion& version = GetParam();
    const Finished finished = run({archive(version), "--output", "result.csv"});
    ASSERT_EQ(finished.status, kSuccess) << finished.err;
    EXPECT_EQ(finished.err, "") << "nothing to say on success, and no progress off a terminal";
    EXPECT_EQ(finished.out, "");
    const Csv csv = parseCsv(readFile(directory_ / "result.csv"));
    std::vector<std::string> header = {"time"};
    for (const DescribedVariable& variable : describedVariables(version)) {
        if (variable.causality == "output") {
            header.push_back(variable.name);
        }
    }
    EXPECT_EQ(csv.header, header);
    ASSERT_EQ(csv.rows.size(), 401U) << "from 0 to 4 every 0.01, both ends included";
    EXPECT_EQ(csv.rows[94][0], 0.94) << "communication points are the decimals of the interval";
    EXPECT_EQ(csv.rows.back()[0], 4.0);
    double peak = 0.0;
    for (const auto& row : csv.rows) {
        for (std::size_t i = 1; i < row.size(); ++i) {
            peak = std::max(peak, std::fabs(row[i]));
        }
    }
    EXPECT_GT(peak, 1000.0) << "the demonstration loads every model well beyond rest";

    // The inputs are the demonstration's table: at every communication
    // point that is one of its times, that row's values bit for bit (an
    // input's row holds what was set where its step began).
    const Csv table = parseCsv(readFile(demonstration(version)));
    std::string inputs;
    for (const DescribedVariable& variable : describedVariables(version)) {
        inputs += variable.causality == "input" ? (inputs.empty() ? "" : ",") + variable.name : "";
    }
    ASSERT_EQ(table.header, commaSeparated("time," + inputs));
    const Csv recorded = parseCsv(run({archive(version), "--output-variables", inputs}).out);
    std::size_t met = 0;
    for (std::size_t row = 1; row < recorded.rows.size(); ++row) {
        for (const std::vector<double>& given : table.rows) {
            const bool atRow = given[0] == recorded.rows[row - 1][0];
            met += atRow ? 1 : 0;
            for (std::size_t i = 1; atRow && i < given.size(); ++i) {
                EXPECT_EQ(bitsOf(recorded.rows[row][i]), bitsOf(given[i])) << table.header[i];
            }
        }
    }
    EXPECT_EQ(met, table.rows.size() - 1) << "every row but the one at the stop time";
}

TEST_P(FmirunModel, SummarisesThePeaks) {
    const ModelVersion& version = GetParam();
    const std::string& model = version.model;
    const Finished finished = run({archive(version), "-o", "result.csv", "--summary"});
    ASSERT_EQ(finished.status, kSuccess) << finished.err;
    EXPECT_NE(finished.err.find(model + " ("), std::string::npos) << finished.err;
    EXPECT_NE(finished.err.find("result.csv"), std::string::npos) << finished.err;
    for (const DescribedVariable& variable : describedVariables(version)) {
        if (variable.causality == "output") {
            EXPECT_NE(finished.err.find("  " + variable.name + " "), std::string::npos);
        }
    }
    EXPECT_NE(finished.err.find("peak"), std::string::npos);
}

// Every row after the first holds the outputs of one step: the force
// equations of the parameters and of the inputs at the step's start. The
// inputs sit exactly on the communication points, so no interpolation enters.
// Every variable is recorded, in the reverse of the description's order:
// parameters and inputs as the slave holds them, an input through the step
// that ends at the row's time.
TEST_P(FmirunModel, ResultsAreTheForceEquationsBitForBit) {
    const ModelVersion& version = GetParam();
    const std::string& model = version.model;
    const ModelFacts* facts = findModelFacts(model);
    ASSERT_NE(facts, nullptr);
    const std::vector<DescribedVariable> variables = describedVariables(version);
    ASSERT_EQ(variables.size(), facts->realCount());

    std::mt19937_64 engine(0xF0A5ULL + variables.size());
    // Finite only: fmirun refuses NaN and infinity wherever it reads a
    // number. The largest still drive the forces to infinity.
    const double specials[] = {0.0,
                               -0.0,
                               std::numeric_limits<double>::max(),
                               std::numeric_limits<double>::denorm_min(),
                               0.01,
                               0.03,
                               -0.055,
                               0.09,
                               std::nextafter(0.09, 1.0),
                               std::nextafter(-0.055, -1.0),
                               1e200,
                               -3e250};
    auto draw = [&]() -> double {
        switch (engine() % 4) {
            case 0:
                return specials[engine() % std::size(specials)];
            case 1:
                return static_cast<double>(static_cast<int>(engine() % 4001) - 2000) / 1000.0;
            default: {
                // Any double between 2^-10 and 2^20 in size, either sign.
                const std::uint64_t bits = (engine() % 2) << 63 | (1013 + engine() % 31) << 52 |
                                           (engine() & ((std::uint64_t{1} << 52) - 1));
                double value;
                std::memcpy(&value, &bits, sizeof value);
                return value;
            }
        }
    };

    std::vector<std::string> arguments = {archive(version), "-o", "result.csv"};
    std::vector<fmiReal> values(variables.size(), 0.0);
    for (std::size_t i = 0; i < variables.size(); ++i) {
        if (isParameter(variables[i])) {
            values[i] = draw();
            arguments.insert(arguments.end(),
                             {"--start-value", variables[i].name, text(values[i])});
        }
    }
    constexpr int kRows = 60;
    std::string inputs = "time";
    for (const DescribedVariable& variable : variables) {
        if (variable.causality == "input") {
            inputs += "," + variable.name;
        }
    }
    inputs += "\n";
    std::vector<std::vector<fmiReal>> expected;  // the outputs after each step
    for (int k = 0; k < kRows; ++k) {
        inputs += text(0.5 * k);
        for (std::size_t i = 0; i < variables.size(); ++i) {
            if (variables[i].causality == "input") {
                values[i] = draw();
                inputs += "," + text(values[i]);
            }
        }
        inputs += "\n";
        std::vector<fmiReal> after = values;
        facts->equation(after);
        expected.push_back(after);
    }
    file("inputs.csv", inputs);
    std::string recorded;
    std::vector<std::string> header = {"time"};
    for (std::size_t i = variables.size(); i-- > 0;) {
        recorded += (recorded.empty() ? "" : ",") + variables[i].name;
        header.push_back(variables[i].name);
    }
    arguments.insert(arguments.end(),
                     {"--input", "inputs.csv", "--interval", "0.5", "--start-time", "0",
                      "--stop-time", text(0.5 * (kRows - 1)), "--output-variables", recorded});
    const Finished finished = run(arguments);
    ASSERT_EQ(finished.status, kSuccess) << finished.err;
    // Model Exchange, in 2.0 and 3.0: each row is evaluated from the inputs
    // at its own time, with no step between them and the forces.
    const bool modelExchange = version.fmiVersion > 1;
    if (modelExchange) {
        arguments[0] = library(version);
        arguments[2] = "me.csv";
        arguments.insert(arguments.end(), {"--interface-type", "me", "-d",
                                           file("me.xml", withModelExchange(version))});
        const Finished evaluated = run(arguments);
        ASSERT_EQ(evaluated.status, kSuccess) << evaluated.err;
    }

    for (const std::string name : {"result.csv", "me.csv"}) {
        SCOPED_TRACE(name);
        const bool atOwnTime = name == "me.csv";
        if (atOwnTime && !modelExchange) {
            continue;
        }
        const Csv csv = parseCsv(readFile(directory_ / name));
        EXPECT_EQ(csv.header, header);
        ASSERT_EQ(csv.rows.size(), static_cast<std::size_t>(kRows));
        for (std::size_t row = 0; row < csv.rows.size(); ++row) {
            SCOPED_TRACE("row " + std::to_string(row));
            EXPECT_TRUE(same(0.5 * static_cast<double>(row), csv.rows[row][0]));
            for (std::size_t i = 0; i < variables.size(); ++i) {
                // Before the first step a 1.0 slave's outputs hold zero: it
                // computes only inside a step. Later versions compute them
                // when initialization ends, from the inputs at the start.
                const bool output = variables[i].causality == "output";
                const double want = atOwnTime ? expected[row][i]
                                    : row == 0
                                        ? (output && version.fmiVersion == 1 ? 0.0 : expected[0][i])
                                        : expected[row - 1][i];
                EXPECT_TRUE(same(want, csv.rows[row][variables.size() - i])) << variables[i].name;
            }
        }
    }
}

TEST_P(FmirunModel, RunsALibraryWithItsDescriptionAsTheArchive) {
    const ModelVersion& version = GetParam();
    const std::string xml = file("modelDescription.xml", description(version));
    // A library carries no demonstration: its inputs must be given.
    expectRefusal({library(version), "--model-description", xml}, kUsage,
                  {"no inputs: ", "; give the inputs with --input FILE\n"});
    const Finished fromLibrary =
        run({library(version), "--model-description", xml, "--input", demonstration(version)});
    ASSERT_EQ(fromLibrary.status, kSuccess) << fromLibrary.err;
    const Finished fromArchive = run({archive(version)});
    ASSERT_EQ(fromArchive.status, kSuccess) << fromArchive.err;
    EXPECT_EQ(fromLibrary.out, fromArchive.out) << "results go to standard output by default";
    EXPECT_EQ(fromArchive.out.rfind("time,", 0), 0U);
}

// Each case of a sweep is a single run with the case's start values, bit
// for bit, whichever thread runs it: the rows, each led by the case number,
// in one file, or each case's in a file of its own as a single run writes
// it. The last case's parameters are so small that the forces come out
// subnormal, which the travel stop flushes to zero: in the controls its 1.0
// library set in the thread that loaded it, not in those of the thread that
// runs the case.
TEST_P(FmirunModel, RunsEachCaseOfASweepAsASingleRun) {
    const ModelVersion& version = GetParam();
    const std::vector<std::string> span = {"--stop-time", "1.5", "--interval", "0.05"};
    std::vector<std::string> parameters;
    for (const DescribedVariable& variable : describedVariables(version)) {
        if (isParameter(variable)) {
            parameters.push_back(variable.name);
        }
    }
    ASSERT_FALSE(parameters.empty());
    std::string table;
    for (const std::string& name : parameters) {
        table += (table.empty() ? "" : ",") + name;
    }
    table += "\n";
    std::vector<std::vector<std::string>> cases;
    for (const double base : {25000.0, -0.07, 3e-310}) {
        std::vector<std::string> values;
        for (std::size_t i = 0; i < parameters.size(); ++i) {
            values.push_back(text(base * static_cast<double>(i + 1)));
            table += (i == 0 ? "" : ",") + values.back();
        }
        table += "\n";
        cases.push_back(values);
    }
    file("cases.csv", table);

    std::vector<std::string> sweep = {archive(version), "--sweep", "cases.csv", "--jobs", "2"};
    sweep.insert(sweep.end(), span.begin(), span.end());
    std::vector<std::string> combined = sweep;
    combined.insert(combined.end(), {"-o", "all.csv"});
    const Finished all = run(combined);
    ASSERT_EQ(all.status, kSuccess) << all.err;
    std::vector<std::string> perCase = sweep;
    perCase.insert(perCase.end(), {"--output-per-case", "-o", "case.csv"});
    const Finished each = run(perCase);
    ASSERT_EQ(each.status, kSuccess) << each.err;
    // Part of the table, numbered as in the whole: cases 2 and 3.
    std::vector<std::string> part = sweep;
    part.insert(part.end(), {"--cases", "2-10", "-o", "part.csv"});
    const Finished partly = run(part);
    ASSERT_EQ(partly.status, kSuccess) << partly.err;

    std::string expected;
    std::string expectedPart;
    for (std::size_t k = 1; k <= cases.size(); ++k) {
        SCOPED_TRACE("case " + std::to_string(k));
        std::vector<std::string> single = {archive(version), "-o", "single.csv", "--start-values"};
        for (std::size_t i = 0; i < parameters.size(); ++i) {
            single.insert(single.end(), {parameters[i], cases[k - 1][i]});
        }
        single.insert(single.end(), span.begin(), span.end());
        const Finished alone = run(single);
        ASSERT_EQ(alone.status, kSuccess) << alone.err;
        const std::string rows = readFile(directory_ / "single.csv");
        EXPECT_EQ(readFile(directory_ / ("case-" + std::to_string(k) + ".csv")), rows);
        std::istringstream lines(rows);
        std::string line;
        std::getline(lines, line);
        if (k == 1) {
            expected = "case," + line + "\n";
            expectedPart = expected;
        }
        while (std::getline(lines, line)) {
            expected += std::to_string(k) + "," + line + "\n";
            expectedPart += k > 1 ? std::to_string(k) + "," + line + "\n" : "";
        }
    }
    EXPECT_EQ(readFile(directory_ / "all.csv"), expected);
    EXPECT_EQ(readFile(directory_ / "part.csv"), expectedPart);
}

// The README's recipe for GNU parallel, run here on this machine: parts K/N
// of the table, each marked done when it succeeded, merged into the one file
// that a single process writes, byte for byte; with more parts than cases
// too; and a merge that refuses a part that did not succeed.
TEST_F(Fmirun, MergesTheSweepsPartsFromGnuParallelIntoOneProcesssFile) {
    file("cases.csv", "rate\n10000\n12000\n14000\n16000\n18000\n20000\n22000\n");
    const Finished one =
        run({archive("Halvorn"), "--sweep", "cases.csv", "--stop-time", "0.1", "-o", "one.csv"});
    ASSERT_EQ(one.status, kSuccess) << one.err;
    for (const std::string parts : {"3", "9"}) {
        SCOPED_TRACE(parts + " parts");
        const std::string recipe =
            "rm -f part-*; parallel --will-cite --halt now,fail=1 -j 2 '" TOOL_TEST_FMIRUN " " +
            archive("Halvorn") + " --sweep cases.csv --cases {}/" + parts +
            " --stop-time 0.1 --output part-{}.csv && touch part-{}.done' ::: $(seq " + parts +
            ") && " TOOL_TEST_MERGE " part " + parts + " > merged.csv";
        const Finished merged = runProgram("/bin/bash", {"-c", recipe}, directory_.path());
        ASSERT_EQ(merged.status, kSuccess) << merged.err;
        EXPECT_TRUE(readFile(directory_ / "merged.csv") == readFile(directory_ / "one.csv"));
    }
    std::filesystem::remove(directory_ / "part-2.done");
    const Finished refused = runProgram(TOOL_TEST_MERGE, {"part", "9"}, directory_.path());
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.out, "");
    EXPECT_NE(refused.err.find("1 of 9 parts missing or failed"), std::string::npos) << refused.err;
}

INSTANTIATE_TEST_SUITE_P(Models, FmirunModel, ::testing::ValuesIn(packedModelVersions()),
                         [](const auto& version) { return nameOf(version.param); });

// The forces of one build equal those of the others bit for bit after every
// step of each model's scenario: the rows' texts, each the shortest that
// reads back as the same double, are compared. The row of the start differs
// by design: 1.0 computes only inside a step, later versions when
// initialization ends. fmirun runs this platform's libraries only; the
// slaves' own tests compare every platform's 2.0 and 3.0 libraries with the
// 1.0 references.
TEST_F(Fmirun, GivesTheSameForcesAfterEveryStepInEveryVersion) {
    for (const std::string& model : builtModels()) {
        std::string reference;
        for (const ModelVersion& version : packedModelVersions()) {
            if (version.model != model) {
                continue;
            }
            SCOPED_TRACE(nameOf(version));
            const Finished finished = run({archive(version)});
            ASSERT_EQ(finished.status, kSuccess) << finished.err;
            // The header, then the row of the start.
            const std::size_t firstStep = finished.out.find('\n', finished.out.find('\n') + 1) + 1;
            ASSERT_NE(firstStep, 0U);
            const std::string steps = finished.out.substr(firstStep);
            EXPECT_EQ(std::count(steps.begin(), steps.end(), '\n'), 400);
            if (reference.empty()) {
                reference = steps;
            } else {
                EXPECT_TRUE(steps == reference) << "rows differ from those of the 1.0 build";
            }
        }
    }
}

TEST_F(Fmirun, InterpolatesInputsLinearlyAndHoldsTheEnds) {
    file("inputs.csv",
         "time,displacement1,displacement2\n"
         "1,0,0.1\n"
         "2,0.5,-0.3\n");
    // The names other command-line masters use for the input file, the
    // interval and start values; the last value given for a name holds.
    const Finished finished =
        run({archive("Halvorn"), "--input-file", "inputs.csv", "--start-time", "0", "--stop-time",
             "3", "--output-interval", "0.25", "-s", "rate", "2000", "--start-values", "rate",
             "3000", "rate", "1000"});
    ASSERT_EQ(finished.status, kSuccess) << finished.err;
    const Csv csv = parseCsv(finished.out);
    ASSERT_EQ(csv.rows.size(), 13U);
    for (std::size_t row = 1; row < csv.rows.size(); ++row) {
        const double t = 0.25 * static_cast<double>(row - 1);  // where the step began
        double d1 = 0.0;
        double d2 = 0.1;
        if (t >= 2.0) {
            d1 = 0.5;
            d2 = -0.3;
        } else if (t > 1.0) {
            const double fraction = (t - 1.0) / (2.0 - 1.0);
            d1 = 0.0 + (0.5 - 0.0) * fraction;
            d2 = 0.1 + (-0.3 - 0.1) * fraction;
        }
        SCOPED_TRACE("t = " + text(t));
        EXPECT_TRUE(same((d2 - d1) * 1000.0, csv.rows[row][1]));
        EXPECT_TRUE(same(-((d2 - d1) * 1000.0), csv.rows[row][2]));
    }
}

// The sine of the demonstrations (DemonstrationInputs.h): within 3 units in
// the last place of the exact one, exactly zero at half a turn; a roll is
// zero outside its period.
TEST(FmirunDemonstration, SineIsWithinThreeUnitsInTheLastPlace) {
    const long double twoPi = 6.283185307179586476925286766559L;
    for (int k = 0; k < 4000; ++k) {
        const double turns = k / 4000.0;
        const double got = demonstration::sineOfTurns(turns);
        const long double want =
            k == 2000 ? 0.0L : std::sin(twoPi * static_cast<long double>(turns));
        const double size = std::fabs(static_cast<double>(want));
        const double ulp = std::nextafter(size, 1.0) - size;
        EXPECT_LE(std::fabs(static_cast<double>(got - want)), 3.0 * ulp) << "turns " << turns;
    }
    EXPECT_EQ(bitsOf(demonstration::sineOfTurns(0.5)), bitsOf(0.0));
    for (const double t : {0.0, 0.5, 2.5, 3.0}) {
        EXPECT_EQ(bitsOf(demonstration::roll(t, 0.5, 2.0)), bitsOf(0.0)) << t;
    }
}

TEST_F(Fmirun, LastStepEndsAtTheStopTime) {
    const Finished finished = run({archive("Pendrake"), "--stop-time", "0.025"});
    ASSERT_EQ(finished.status, kSuccess) << finished.err;
    const Csv csv = parseCsv(finished.out);
    ASSERT_EQ(csv.rows.size(), 4U);
    EXPECT_EQ(csv.rows[1][0], 0.01);
    EXPECT_EQ(csv.rows[2][0], 0.02);
    EXPECT_EQ(csv.rows[3][0], 0.025);
}

namespace {

// Long enough to outlast the half second after which progress shows.
std::vector<std::string> longRun(const std::string& archive) {
    return {archive, "--stop-time", "20000", "--interval", "0.001", "-o", "/dev/null"};
}

}  // namespace

// Progress on a terminal, none elsewhere.
TEST_F(Fmirun, ShowsProgressOfLongRunsOnATerminalOnly) {
    const Finished elsewhere = run(longRun(archive("Halvorn")));
    ASSERT_EQ(elsewhere.status, kSuccess) << elsewhere.err;
    EXPECT_EQ(elsewhere.err, "");
    const Finished finished =
        runOnTerminal(TOOL_TEST_FMIRUN, longRun(archive("Halvorn")), directory_.path());
    ASSERT_EQ(finished.status, kSuccess) << finished.out;
    EXPECT_NE(finished.out.find("\r\033[Kfmirun: t = "), std::string::npos) << finished.out;
    EXPECT_NE(finished.out.find(" of 20000 ("), std::string::npos) << finished.out;
    // The last thing on the terminal: the progress line erased.
    ASSERT_GE(finished.out.size(), 4U);
    EXPECT_EQ(finished.out.substr(finished.out.size() - 4), "\r\033[K");
}

TEST_F(Fmirun, NeverMixesProgressWithResultsOnTheSameTerminal) {
    const Finished finished = runOnTerminal(
        TOOL_TEST_FMIRUN, {archive("Halvorn"), "--stop-time", "200", "--interval", "1e-4"},
        directory_.path());
    ASSERT_EQ(finished.status, kSuccess);
    EXPECT_EQ(finished.out.find("fmirun: t = "), std::string::npos);
    EXPECT_EQ(finished.out.find('\033'), std::string::npos);
    EXPECT_NE(finished.out.find("\r\n200,"), std::string::npos) << "every row arrived";
}

// Each version with its own calls, statuses and categories.
TEST_F(Fmirun, ShowsTheSlavesMessagesOfEveryVersion) {
    const std::map<int, std::vector<std::string>> expected = {
        {1,
         {"Halvorn [fmiOK, log] fmiInstantiateSlave: GUID={df6d0958-156a-469d-81e9-7eeddeec2de4}\n",
          "Halvorn [fmiOK, log] fmiInitializeSlave: toleranceControlled=0 relativeTolerance=0\n",
          // The slave names variables by value reference; the master puts in their names.
          "Halvorn [fmiOK, log] fmiSetReal: displacement1 = 0\n",
          "Halvorn [fmiOK, log] fmiDoStep: currentCommunicationPoint = 0, communicationStepSize = "
          "0.01, newStep = fmiTrue\n",
          "Halvorn [fmiOK, log] fmiDoStep: time event detected at 0.01\n",
          "Halvorn [fmiOK, log] fmiFreeSlaveInstance\n"}},
        {2,
         {"Halvorn [fmi2OK, logCalls] fmi2Instantiate: "
          "GUID={df6d0958-156a-469d-81e9-7eeddeec2de4}, resource location file:///",
          "Halvorn [fmi2OK, logCalls] fmi2SetDebugLogging: loggingOn=1, nCategories=0\n",
          "Halvorn [fmi2OK, logCalls] fmi2SetReal: displacement1 = 0\n",
          "Halvorn [fmi2OK, logCalls] fmi2ExitInitializationMode\n",
          "Halvorn [fmi2OK, logCalls] fmi2FreeInstance\n"}},
        {3,
         {"Halvorn [fmi3OK, logCalls] fmi3InstantiateCoSimulation: instanceName=Halvorn, "
          "instantiationToken={df6d0958-156a-469d-81e9-7eeddeec2de4}, resourcePath=/",
          "Halvorn [fmi3OK, logCalls] fmi3SetDebugLogging: loggingOn=1, nCategories=0\n",
          "Halvorn [fmi3OK, logCalls] fmi3SetFloat64: displacement2 = 0\n",
          "Halvorn [fmi3OK, logCalls] fmi3ExitInitializationMode\n",
          "Halvorn [fmi3OK, logCalls] fmi3FreeInstance\n"}},
    };
    for (const auto& [fmiVersion, lines] : expected) {
        const ModelVersion version{"Halvorn", fmiVersion};
        if (!version.packed()) {
            continue;
        }
        SCOPED_TRACE(nameOf(version));
        const Finished finished = run({archive(version), "--stop-time", "0.01", "--log"});
        ASSERT_EQ(finished.status, kSuccess) << finished.err;
        for (const std::string& line : lines) {
            EXPECT_NE(finished.err.find(line), std::string::npos) << line << "not in:\n"
                                                                  << finished.err;
        }
    }
}

TEST_F(Fmirun, PrintsEveryFmiCallOfEveryVersion) {
    const std::map<int, std::vector<std::string>> expected = {
        {1,
         {"fmi: Corvessa_fmiGetVersion() -> \"1.0\"\n",
          "fmi: Corvessa_fmiGetTypesPlatform() -> \"standard32\"\n",
          "fmi: Corvessa_fmiInstantiateSlave(instanceName=\"Corvessa\", "
          "fmuGUID=\"{1a52f68c-d976-4fba-9cb9-51e50b2bb078}\", fmuLocation=\"file:///",
          "fmi: Corvessa_fmiSetReal(c, vr={1}, nvr=1, value={20000}) -> fmiOK\n",
          "fmi: Corvessa_fmiInitializeSlave(c, tStart=0, StopTimeDefined=fmiTrue, tStop=0.01) -> "
          "fmiOK\n",
          "fmi: Corvessa_fmiGetReal(c, vr={6, 7, 8, 9}, nvr=4, value) -> fmiOK, value={0, 0, 0, "
          "0}\n",
          "fmi: Corvessa_fmiDoStep(c, currentCommunicationPoint=0, communicationStepSize=0.01, "
          "newStep=fmiTrue) -> fmiOK\n",
          "fmi: Corvessa_fmiTerminateSlave(c) -> fmiOK\n",
          "fmi: Corvessa_fmiFreeSlaveInstance(c)\n"}},
        {2,
         {"fmi: fmi2GetVersion() -> \"2.0\"\n", "fmi: fmi2GetTypesPlatform() -> \"default\"\n",
          "fmi: fmi2Instantiate(instanceName=\"Corvessa\", fmuType=fmi2CoSimulation, "
          "fmuGUID=\"{1a52f68c-d976-4fba-9cb9-51e50b2bb078}\", fmuResourceLocation=\"file:///",
          "fmi: fmi2SetupExperiment(c, toleranceDefined=fmi2False, tolerance=0, startTime=0, "
          "stopTimeDefined=fmi2True, stopTime=0.01) -> fmi2OK\n",
          "fmi: fmi2EnterInitializationMode(c) -> fmi2OK\n",
          "fmi: fmi2SetReal(c, vr={1}, nvr=1, value={20000}) -> fmi2OK\n",
          "fmi: fmi2ExitInitializationMode(c) -> fmi2OK\n",
          "fmi: fmi2GetReal(c, vr={6, 7, 8, 9}, nvr=4, value) -> fmi2OK, value=",
          "fmi: fmi2DoStep(c, currentCommunicationPoint=0, communicationStepSize=0.01, "
          "noSetFMUStatePriorToCurrentPoint=fmi2True) -> fmi2OK\n",
          "fmi: fmi2Terminate(c) -> fmi2OK\n", "fmi: fmi2FreeInstance(c)\n"}},
        {3,
         {"fmi: fmi3GetVersion() -> \"3.0\"\n",
          "fmi: fmi3InstantiateCoSimulation(instanceName=\"Corvessa\", "
          "instantiationToken=\"{1a52f68c-d976-4fba-9cb9-51e50b2bb078}\", resourcePath=\"/",
          "eventModeUsed=fmi3False, earlyReturnAllowed=fmi3False",
          "fmi: fmi3EnterInitializationMode(instance, toleranceDefined=fmi3False, tolerance=0, "
          "startTime=0, stopTimeDefined=fmi3True, stopTime=0.01) -> fmi3OK\n",
          "fmi: fmi3SetFloat64(instance, valueReferences={1}, nValueReferences=1, "
          "values={20000}, nValues=1) -> fmi3OK\n",
          "fmi: fmi3ExitInitializationMode(instance) -> fmi3OK\n",
          "fmi: fmi3DoStep(instance, currentCommunicationPoint=0, communicationStepSize=0.01, "
          "noSetFMUStatePriorToCurrentPoint=fmi3True, ...) -> fmi3OK, "
          "eventHandlingNeeded=fmi3False, terminateSimulation=fmi3False, "
          "earlyReturn=fmi3False, lastSuccessfulTime=",
          "fmi: fmi3Terminate(instance) -> fmi3OK\n", "fmi: fmi3FreeInstance(instance)\n"}},
    };
    for (const auto& [fmiVersion, lines] : expected) {
        const ModelVersion version{"Corvessa", fmiVersion};
        if (!version.packed()) {
            continue;
        }
        SCOPED_TRACE(nameOf(version));
        const Finished finished =
            run({archive(version), "--stop-time", "0.01", "-s", "rate2", "2e4", "--log-fmi-calls"});
        ASSERT_EQ(finished.status, kSuccess) << finished.err;
        std::size_t from = 0;
        for (const std::string& line : lines) {
            const std::size_t at = finished.err.find(line, from);
            EXPECT_NE(at, std::string::npos) << line << "not in order in:\n" << finished.err;
            from = at == std::string::npos ? from : at;
        }
    }
}

// What other command-line masters' users type: each form gives the rows of
// fmirun's own, the step apart from the rows, the diagnostics in files.
TEST_F(Fmirun, TakesTheOptionsOfOtherMasters) {
    const std::string halvorn = archive("Halvorn");
    const std::vector<std::string> span = {"--stop-time", "1", "--start-value", "rate", "2e4"};
    const auto rows = [&](std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), halvorn);
        arguments.insert(arguments.end(), span.begin(), span.end());
        const Finished finished = run(arguments);
        EXPECT_EQ(finished.status, kSuccess) << finished.err;
        return finished.out;
    };
    const std::string both = rows({"--output-variables", "force2,displacement1"});
    for (const std::vector<std::string>& named :
         {std::vector<std::string>{"--output-variables", "force2", "displacement1"},
          {"--output-variables", "force2, displacement1"},
          {"--output-variable", "force2", "--output-variable", "displacement1", "-o", "-"},
          {"--output-variables", "force2,", "displacement1", "--early-return-allowed"}}) {
        EXPECT_EQ(rows(named), both) << named[1];
    }
    // A row every tenth step of 1 ms: those of a run at 1 ms, every tenth.
    const std::string fine = rows({"--interval", "0.001"});
    std::istringstream lines(fine);
    std::string line;
    std::string tenth;
    for (int k = -1; std::getline(lines, line); ++k) {
        tenth += k % 10 == 0 || k == -1 ? line + "\n" : "";
    }
    EXPECT_EQ(rows({"--step-size", "0.001", "--output-interval", "0.01"}), tenth);
    EXPECT_EQ(rows({"--step-size", "0.001"}), fine) << "a row per step by default";
    // The diagnostics in files of their own, stderr left to fmirun.
    const Finished logged = run({halvorn, "--stop-time", "0.01", "--logging-on", "--log-file",
                                 "slave.log", "--fmi-log-file", "calls.log"});
    ASSERT_EQ(logged.status, kSuccess) << logged.err;
    EXPECT_EQ(logged.err, "");
    EXPECT_NE(readFile(directory_ / "slave.log").find("Halvorn [fmiOK, log] fmiDoStep: "),
              std::string::npos);
    EXPECT_NE(readFile(directory_ / "calls.log").find("fmi: Halvorn_fmiDoStep(c, "),
              std::string::npos);
}

// A run cut in two at a saved FMU state gives the rows of the whole run.
TEST_F(Fmirun, ContinuesFromAnFmuStateSavedAtTheStopTime) {
    for (const int fmiVersion : {2, 3}) {
        const ModelVersion version{"Pendrake", fmiVersion};
        SCOPED_TRACE(nameOf(version));
        const Finished whole = run({archive(version), "-s", "upper_rate", "6e4"});
        const Finished first = run({archive(version), "-s", "upper_rate", "6e4", "--stop-time",
                                    "3.5", "--final-fmu-state-file", "state.bin", "-o", "-"});
        const Finished second = run({archive(version), "--initial-fmu-state-file", "state.bin",
                                     "--start-time", "3.5", "-o", "-"});
        ASSERT_EQ(second.status, kSuccess) << second.err;
        ASSERT_EQ(first.status, kSuccess) << first.err;
        const std::size_t at = whole.out.find("\n3.5,");
        ASSERT_NE(at, std::string::npos);
        EXPECT_EQ("time,force" + whole.out.substr(at), second.out);
        EXPECT_EQ(whole.out.substr(0, at + 1), first.out.substr(0, at + 1));
    }
}

TEST_F(Fmirun, ListsTheVariables) {
    const Finished finished = run({archive("Pendrake"), "--list-variables"});
    ASSERT_EQ(finished.status, kSuccess) << finished.err;
    for (const char* part :
         {"Pendrake (TravelStop)", "lower_limit", "parameter", "start -0.055 [m]", "displacement",
          "input", "force", "output", "[N]"}) {
        EXPECT_NE(finished.out.find(part), std::string::npos) << part;
    }
}

TEST_F(Fmirun, StopsWhenTheSlaveFailsAndShowsItsMessages) {
    // The test-only model requests termination once its input is non-zero,
    // and its step then returns fmiError.
    const std::string xml = file("terminus.xml", R"(<?xml version="1.0" encoding="UTF-8"?>
<fmiModelDescription fmiVersion="1.0" modelName="Terminus" modelIdentifier="Terminus"
  guid="{00000000-0000-4000-8000-000000000000}" numberOfContinuousStates="0"
  numberOfEventIndicators="0">
  <ModelVariables>
    <ScalarVariable name="request_termination" valueReference="0" causality="input">
      <Real start="0"/>
    </ScalarVariable>
    <ScalarVariable name="event_count" valueReference="1" causality="output"><Real/></ScalarVariable>
  </ModelVariables>
  <Implementation><CoSimulation_StandAlone><Capabilities/></CoSimulation_StandAlone></Implementation>
</fmiModelDescription>
)");
    file("inputs.csv", "time,request_termination\n0,0\n0.05,0\n0.06,1\n");
    const Finished finished = run({TOOL_TEST_TERMINUS, "-d", xml, "-i", "inputs.csv", "--stop-time",
                                   "1", "--output-file", "result.csv"});
    EXPECT_EQ(finished.status, kSlaveFailed);
    EXPECT_NE(finished.err.find("Terminus [fmiOK, log] fmiDoStep: model requested termination at "
                                "t=0.061\n"),
              std::string::npos)
        << finished.err;
    // The step size is 0.07 - 0.06, a little more than 0.01.
    EXPECT_NE(finished.err.find("fmirun: Terminus_fmiDoStep(c, currentCommunicationPoint=0.06, "
                                "communicationStepSize=0.010000000000000009, newStep=fmiTrue) "
                                "returned fmiError in the step from t = 0.06; the run stops "
                                "there\n"),
              std::string::npos)
        << finished.err;
    // The rows up to the failed step stay.
    const Csv csv = parseCsv(readFile(directory_ / "result.csv"));
    ASSERT_EQ(csv.rows.size(), 7U);
    EXPECT_EQ(csv.rows.back()[0], 0.06);
    EXPECT_EQ(csv.rows.back()[1], 60.0) << "ten time events in each of six steps";

    // A sweep stops at the first case that fails, however many run at once:
    // the cases before it stay, and its rows up to the failure.
    file("none.csv", "time\n0\n");
    file("cases.csv", "request_termination\n0\n0\n1\n0\n0\n0\n");
    const Finished sweep =
        run({TOOL_TEST_TERMINUS, "-d", xml, "-i", "none.csv", "--stop-time", "0.02", "--sweep",
             "cases.csv", "--jobs", "2", "-o", "cases-out.csv"});
    EXPECT_EQ(sweep.status, kSlaveFailed);
    EXPECT_NE(sweep.err.find("fmirun: case 3 (cases.csv line 4): Terminus_fmiDoStep(c, "
                             "currentCommunicationPoint=0, communicationStepSize=0.01, "
                             "newStep=fmiTrue) returned fmiError in the step from t = 0; the run "
                             "stops there; the sweep stops at this case\n"),
              std::string::npos)
        << sweep.err;
    EXPECT_EQ(readFile(directory_ / "cases-out.csv"),
              "case,time,event_count\n1,0,0\n1,0.01,10\n1,0.02,20\n2,0,0\n2,0.01,10\n2,0.02,20\n"
              "3,0,0\n");
}

// The archive.

// Each file that is no archive fmirun can read: its name, its contents (none
// for a missing file) and the message.
TEST_F(Fmirun, RefusesFilesThatAreNoReadableArchive) {
    const std::string whole = readFile(archive("Halvorn"));
    // A byte in the middle of the model description's compressed data.
    std::string damaged = whole;
    damaged[30 + std::string("modelDescription.xml").size() + 200] ^= 0x55;
    const struct {
        std::string name;
        std::optional<std::string> contents;
        std::string message;
    } refusals[] = {
        {"missing.fmu", std::nullopt, "fmirun: cannot open missing.fmu: no such file\n"},
        {"garbage.fmu", "this is not a zip archive at all\n",
         "fmirun: garbage.fmu is not a valid FMU archive (a zip file): "},
        {"truncated.fmu", whole.substr(0, whole.size() / 2),
         "truncated.fmu is not a valid FMU archive"},
        {"damaged.fmu", damaged,
         "fmirun: damaged.fmu is corrupt: cannot read modelDescription.xml"},
    };
    for (const auto& refusal : refusals) {
        SCOPED_TRACE(refusal.name);
        if (refusal.contents) {
            file(refusal.name, *refusal.contents);
        }
        expectRefusal({refusal.name}, kModel, {refusal.message});
    }
}

TEST_F(Fmirun, RefusesAnArchiveWithoutALibraryForThisPlatform) {
    // Each version's folder of this platform; 3.0 names platforms otherwise.
    const std::map<int, std::string> platforms = {
        {1, "linux64"}, {2, "linux64"}, {3, "x86_64-linux"}};
    for (const auto& [fmiVersion, platform] : platforms) {
        const ModelVersion version{"Halvorn", fmiVersion};
        SCOPED_TRACE(nameOf(version));
        writeZip(directory_ / "windows.fmu", {{"modelDescription.xml", description(version)},
                                              {"binaries/win64/Halvorn.dll", "MZ"},
                                              {"binaries/linux64x/Halvorn.so", "x"}});
        expectRefusal({"windows.fmu"}, kModel,
                      {"fmirun: windows.fmu has no library for " + platform + " (binaries/" +
                       platform + "/Halvorn.so)\n"});
    }
}

// An archive without what a run needs, each refused with what it lacks: a
// description; 3.0's library where 1.0 and 2.0 keep theirs (fmirun looks in
// the description's version's folder only); a demonstration when no inputs
// are given (a usage error: --input mends it); and one with an entry that
// would land outside it.
TEST_F(Fmirun, RefusesAnArchiveWithoutWhatTheRunNeeds) {
    const std::string library1 = readFile(library("Halvorn"));
    const std::string library2 = readFile(library(ModelVersion{"Halvorn", 2}));
    const std::string description3 = description(ModelVersion{"Halvorn", 3});
    const std::vector<std::tuple<std::map<std::string, std::string>, int, std::string>> cases = {
        {{{"binaries/linux64/Halvorn.so", library1}},
         kModel,
         "fmirun: bare.fmu has no modelDescription.xml at its root\n"},
        {{{"modelDescription.xml", description3}, {"binaries/linux64/Halvorn.so", library2}},
         kModel,
         "fmirun: bare.fmu has no library for x86_64-linux (binaries/x86_64-linux/Halvorn.so)\n"},
        {{{"modelDescription.xml", description("Halvorn")},
          {"binaries/linux64/Halvorn.so", library1}},
         kUsage,
         "fmirun: no inputs: bare.fmu carries no demonstration (documentation/demonstration.csv); "
         "give the inputs with --input FILE\n"},
        {{{"modelDescription.xml", description("Halvorn")}, {"../escaped.txt", "x"}},
         kModel,
         "bare.fmu has an entry named \"../escaped.txt\", which would land outside"}};
    for (const auto& [entries, status, message] : cases) {
        writeZip(directory_ / "bare.fmu", entries);
        expectRefusal({"bare.fmu"}, status, {message});
    }
}

// The model description against the library.

TEST_F(Fmirun, RefusesAModelDescriptionThatIsNotXml) {
    const std::string xml = file("broken.xml", "<?xml version=\"1.0\"?>\n<fmiModelDescription\n");
    expectRefusal(
        {library("Halvorn"), "-d", xml}, kModel,
        {"fmirun: " + xml + ":2:21: not well-formed XML: Error parsing start element tag\n"});
}

TEST_F(Fmirun, RefusesAModelDescriptionOfAnotherVersion) {
    for (const char* other : {"1.1", "4.0", ""}) {
        SCOPED_TRACE(other);
        const std::string xml =
            file("other.xml", replaced(description("Halvorn"), "fmiVersion=\"1.0\"",
                                       "fmiVersion=\"" + std::string(other) + "\""));
        expectRefusal({library("Halvorn"), "-d", xml}, kModel,
                      {"fmiVersion is \"" + std::string(other) +
                       "\"; this master runs FMI 1.0, 2.0 and 3.0 slaves only"});
    }
}

// A description names the version of its library: another version's library
// is refused as such.
TEST_F(Fmirun, RefusesALibraryOfAnotherVersionThanItsDescription) {
    const std::string xml = file("v2.xml", description(ModelVersion{"Halvorn", 2}));
    expectRefusal({library("Halvorn"), "-d", xml}, kModel,
                  {" is an FMI 1.0 library, but its model description is of FMI 2.0: give the "
                   "description of the library's version\n"});
    const std::string xml3 = file("v3.xml", description(ModelVersion{"Halvorn", 3}));
    expectRefusal({library(ModelVersion{"Halvorn", 2}), "-d", xml3}, kModel,
                  {" is an FMI 2.0 library, but its model description is of FMI 3.0"});
    const std::string xml1 = file("v1.xml", description("Corvessa"));
    expectRefusal({library(ModelVersion{"Corvessa", 2}), "-d", xml1}, kModel,
                  {" is an FMI 2.0 library, but its model description is of FMI 1.0"});
}

TEST_F(Fmirun, RefusesTheDescriptionOfAnotherModel) {
    const std::string xml = file("corvessa.xml", description("Corvessa"));
    expectRefusal({library("Halvorn"), "-d", xml}, kModel,
                  {"does not export Corvessa_fmiGetVersion: the model description's "
                   "modelIdentifier \"Corvessa\" is not the library's\n"});
}

TEST_F(Fmirun, RefusesADescriptionWithAnotherTokenInEveryVersion) {
    const std::string right = "{df6d0958-156a-469d-81e9-7eeddeec2de4}";
    const std::string wrong = "{df6d0958-156a-469d-81e9-7eeddeec2de5}";
    const std::string refused =
        "fmirun: the library refused to instantiate the slave of the model description ";
    // The slave's message, shown, and the refusal.
    const std::map<int, std::vector<std::string>> refusals = {
        {1,
         {"Halvorn [fmiError, error] fmiInstantiateSlave: Wrong GUID " + wrong + ". Expected " +
              right + ".\n",
          refused + "(GUID " + wrong + ")\n"}},
        {2, {"Halvorn [fmi2Error, ", wrong, refused + "(GUID " + wrong + ")\n"}},
        {3, {"Halvorn [fmi3Error, ", wrong, refused + "(instantiation token " + wrong + ")\n"}}};
    for (const auto& [fmiVersion, messageParts] : refusals) {
        const ModelVersion version{"Halvorn", fmiVersion};
        SCOPED_TRACE(nameOf(version));
        const std::string xml = file("token.xml", replaced(description(version), right, wrong));
        expectRefusal({library(version), "-d", xml, "-i", demonstration(version)}, kModel,
                      messageParts);
    }
}

TEST_F(Fmirun, RefusesADescriptionWithMoreVariablesThanTheLibrary) {
    const std::string xml = file(
        "extra.xml",
        replaced(description("Halvorn"), "  </ModelVariables>",
                 "    <ScalarVariable name=\"force3\" valueReference=\"5\" causality=\"output\">"
                 "<Real/></ScalarVariable>\n  </ModelVariables>"));
    expectRefusal({library("Halvorn"), "-d", xml, "-i", demonstration({"Halvorn", 1})}, kModel,
                  {"Halvorn [fmiError, error] fmiGetReal: Illegal value reference 5.",
                   "fmirun: the library refuses value references that the model description "
                   "declares: they do not belong together\n"});
}

TEST_F(Fmirun, RefusesADescriptionWithOtherStartValuesInEveryVersion) {
    for (const int fmiVersion : {1, 2, 3}) {
        const ModelVersion version{"Halvorn", fmiVersion};
        SCOPED_TRACE(nameOf(version));
        const std::string xml =
            file("start.xml", replaced(description(version), "start=\"15000\"", "start=\"16000\""));
        expectRefusal({library(version), "-d", xml, "-i", demonstration(version)}, kModel,
                      {"fmirun: the start value of rate is 16000 in the model description but "
                       "15000 in the library: they do not belong together\n"});
    }
}

// Model Exchange without an integrator: a model with continuous states or
// event indicators is refused, and each interface only where offered.
TEST_F(Fmirun, RefusesModelExchangeItCannotRun) {
    const std::string onlyMe2 =
        replaced(description(ModelVersion{"Halvorn", 2}), "<CoSimulation", "<ModelExchange");
    const std::string onlyMe3 =
        replaced(description(ModelVersion{"Halvorn", 3}), "<CoSimulation", "<ModelExchange");
    const std::string refused = "fmirun runs Model Exchange only for models with none";
    const std::string indicators =
        file("indicators.xml",
             replaced(onlyMe2, "numberOfEventIndicators=\"0\"", "numberOfEventIndicators=\"2\""));
    expectRefusal({library(ModelVersion{"Halvorn", 2}), "-d", indicators}, kModel,
                  {"declares 0 continuous states and 2 event indicators: " + refused});
    const std::string states =
        file("states.xml", replaced(onlyMe3, "  </ModelStructure>",
                                    "<ContinuousStateDerivative valueReference=\"3\"/>"
                                    "</ModelStructure>"));
    expectRefusal({library(ModelVersion{"Halvorn", 3}), "-d", states}, kModel,
                  {"declares 1 continuous state and 0 event indicators: " + refused});
    const std::string onlyMe = file("me.xml", onlyMe3);
    expectRefusal({library(ModelVersion{"Halvorn", 3}), "-d", onlyMe, "--interface-type", "cs"},
                  kUsage, {"--interface-type cs: Halvorn offers Model Exchange only"});
}

TEST_F(Fmirun, RefusesAMissingLibrary) {
    const std::string xml = file("modelDescription.xml", description("Halvorn"));
    expectRefusal({"missing.so", "-d", xml}, kModel,
                  {"fmirun: cannot open missing.so: no such file\n"});
}

// The command line.

// Each refusal of a command line for Halvorn's archive: the options after
// the archive, the status and the parts of the message.
TEST_F(Fmirun, RefusesBadCommandLines) {
    struct Refusal {
        std::vector<std::string> options;
        int status;
        std::vector<std::string> messageParts;
    };
    const std::vector<Refusal> refusals = {
        {{"--start-value", "rat", "1"},
         kUsage,
         {"fmirun: --start-value: Halvorn has no variable \"rat\"; its parameters are: "
          "rate; its inputs: displacement1, displacement2\n"}},
        {{"-s", "force1", "1"},
         kUsage,
         {"fmirun: --start-value: force1 is an output; only parameters and inputs can be set\n"}},
        {{"-s", "rate", "fast"},
         kUsage,
         {"fmirun: --start-value rate: \"fast\" is not a finite number\n"}},
        {{"--start-values", "rate", "1", "rate"},
         kUsage,
         {"fmirun: --start-values: needs NAME VALUE pairs; \"rate\" has no value\n"}},
        {{"-s", "displacement1", "0.1"},
         kUsage,
         {"fmirun: --start-value displacement1: the archive's demonstration \"roll manoeuvre\" "
          "sets this input at every step\n"}},
        {{"--interval", "0"}, kUsage, {"fmirun: --interval must be positive, not 0\n"}},
        {{"--interval", "-0.01"}, kUsage, {"fmirun: --interval must be positive, not -0.01\n"}},
        {{"--interval", "-0"}, kUsage, {"fmirun: --interval must be positive, not -0\n"}},
        {{"--interval", "often"},
         kUsage,
         {"fmirun: --interval needs a finite number, not \"often\"\n"}},
        {{"--start-time", "2", "--stop-time", "2"},
         kUsage,
         {"fmirun: the stop time 2 (--stop-time) is not after the start time 2 "
          "(--start-time)\n"}},
        {{"--start-time", "5"},
         kUsage,
         {"fmirun: the stop time 4 (" + archive("Halvorn") +
          ":modelDescription.xml's DefaultExperiment) is not after the start time 5 "
          "(--start-time)\n"}},
        {{"--output-variables", "force1,forse2"},
         kUsage,
         {"fmirun: --output-variables: Halvorn has no variable \"forse2\"; its variables are: "
          "rate, displacement1, displacement2, force1, force2\n"}},
        {{"--output-variables", "force1", "--output-variables", "rate,force1"},
         kUsage,
         {"fmirun: --output-variables: force1 is named twice\n"}},
        {{"--stepsize", "1"},
         kUsage,
         {"fmirun: unknown option --stepsize; did you mean --step-size?\n",
          "Run fmirun --help for the options.\n"}},
        {{"--summary", "--ouptut=x.csv"},
         kUsage,
         {"fmirun: unknown option --ouptut; did you mean --output?\n"}},
        {{"--step-size", "0.001", "--output-interval", "0.0025"},
         kUsage,
         {"fmirun: --output-interval 0.0025 is not a whole multiple of --step-size 0.001: the "
          "rows are written at communication points only\n"}},
        {{"--step-size", "0"}, kUsage, {"fmirun: --step-size must be positive, not 0\n"}},
        {{"--log-file", "missing/log.txt"},
         kOutput,
         {"fmirun: cannot write missing/log.txt: No such file or directory\n"}},
        {{"-o", "missing/result.csv"},
         kOutput,
         {"fmirun: cannot write missing/result.csv: No such file or directory\n"}},
        {{"--plot", "run.pdf"},
         kUsage,
         {"fmirun: --plot run.pdf: the name must end in .svg or .png\n"}},
        {{"--plot", "run.svg", "--stop-time", "1000", "--interval", "1e-4"},
         kUsage,
         {"fmirun: --plot run.svg: a picture takes at most 1000000 steps, this run has "
          "10000000; give a larger --interval, or draw the rows with a plotting program\n"}},
        {{"--plot", "run.svg", "--sweep", "rates.csv"},
         kUsage,
         {"fmirun: ", "--plot", "--sweep", "Run fmirun --help for the options.\n"}},
        {{"--plot", "missing/run.svg"},
         kOutput,
         {"fmirun: cannot write missing/run.svg: No such file or directory\n"}},
        {{"-i", "missing.csv"},
         kInputFile,
         {"fmirun: missing.csv: cannot read the input file: No such file or directory\n"}},
        {{"--sweep", "missing.csv"},
         kInputFile,
         {"fmirun: missing.csv: cannot read the sweep file: No such file or directory\n"}},
        {{"--sweep", "rates.csv", "--cases", "3-4"},
         kUsage,
         {"fmirun: --cases 3-4: rates.csv has 2 cases\n"}},
        {{"--sweep", "rates.csv", "--cases", "2-1"},
         kUsage,
         {"fmirun: --cases 2-1: the range ends before it begins\n"}},
        {{"--sweep", "rates.csv", "--cases", "0-1"},
         kUsage,
         {"fmirun: --cases needs a case number or a range FROM-TO of them, from 1, such as "
          "101-200, not \"0-1\"\n"}},
        {{"--sweep", "rates.csv", "--output-per-case"},
         kUsage,
         {"fmirun: --output-per-case requires --output\n", "Run fmirun --help for the options.\n"}},
        {{"--cases", "1"}, kUsage, {"fmirun: --cases requires --sweep"}},
        {{"--sweep", "rates.csv", "--cases", "3/2"},
         kUsage,
         {"fmirun: --cases 3/2: there is no part 3 of 2\n"}},
        {{"--sweep", "rates.csv", "--cases", "0/2"},
         kUsage,
         {"fmirun: --cases K/N needs part K of N parts, 1 <= K <= N, such as 3/20, not "
          "\"0/2\"\n"}},
        {{"--interface-type", "me"},
         kUsage,
         {"fmirun: --interface-type me: Halvorn is an FMI 1.0 co-simulation slave; fmirun runs "
          "Model Exchange for FMI 2.0 and 3.0 only\n"}},
        {{"--interface-type", "mx"}, kUsage, {"fmirun: --interface-type: mx not in {cs,me}"}},
        {{"--final-fmu-state-file", "state.bin"},
         kUsage,
         {"fmirun: --final-fmu-state-file: Halvorn is an FMI 1.0 slave, which has no FMU state; "
          "FMU state files are for FMI 2.0 and 3.0\n"}},
        {{"--sweep", "rates.csv", "--jobs", "0"}, kUsage, {"fmirun: --jobs: Value 0 not in range"}},
    };
    file("rates.csv", "rate\n10000\n20000\n");
    for (const Refusal& refusal : refusals) {
        std::vector<std::string> arguments = {archive("Halvorn")};
        arguments.insert(arguments.end(), refusal.options.begin(), refusal.options.end());
        SCOPED_TRACE(refusal.options.front() + " " + refusal.options.back());
        expectRefusal(arguments, refusal.status, refusal.messageParts);
    }
}

// One rule for every number fmirun reads: finite, or refused.
TEST_F(Fmirun, RefusesNumbersThatAreNotFiniteEverywhere) {
    for (const char* value : {"nan", "inf", "-infinity", "1e999"}) {
        SCOPED_TRACE(value);
        const std::string quoted = "\"" + std::string(value) + "\" is not a finite number";
        expectRefusal({archive("Halvorn"), "-s", "rate", value}, kUsage,
                      {"fmirun: --start-value rate: " + quoted + "\n"});
        expectRefusal({archive("Halvorn"), "--stop-time", value}, kUsage,
                      {"fmirun: --stop-time needs a finite number, not \"" + std::string(value)});
        file("inputs.csv", "time,displacement1\n0," + std::string(value) + "\n");
        expectRefusal({archive("Halvorn"), "-i", "inputs.csv"}, kInputFile,
                      {"fmirun: inputs.csv:2:2: " + quoted + "\n"});
        const std::string xml =
            file("start.xml", replaced(description("Halvorn"), "start=\"15000\"",
                                       "start=\"" + std::string(value) + "\""));
        expectRefusal(
            {library("Halvorn"), "-d", xml}, kModel,
            {"<Real> attribute start=\"" + std::string(value) + "\" is not a finite number"});
    }
}

// A description is the model's: a bad default experiment is a bad model.
TEST_F(Fmirun, RefusesABadDefaultExperimentAsABadModel) {
    const std::string before = "<DefaultExperiment startTime=\"0\" stopTime=\"4\"/>";
    ASSERT_NE(description("Halvorn").find(before), std::string::npos);
    for (const auto& [experiment, message] : std::map<std::string, std::string>{
             {"<DefaultExperiment startTime=\"5\" stopTime=\"4\"/>",
              "<DefaultExperiment> stopTime=\"4\" is not after its start time 5"},
             {"<DefaultExperiment stopTime=\"-1\"/>",
              "<DefaultExperiment> stopTime=\"-1\" is not after its start time 0"},
             {"<DefaultExperiment startTime=\"0\" stopTime=\"inf\"/>",
              "<DefaultExperiment> attribute stopTime=\"inf\" is not a finite number"}}) {
        SCOPED_TRACE(experiment);
        const std::string xml =
            file("experiment.xml", replaced(description("Halvorn"), before, experiment));
        expectRefusal({library("Halvorn"), "-d", xml}, kModel,
                      {"fmirun: " + xml + ": " + message + "\n"});
    }
}

// The README's rule, exactly: the start plus whole intervals, then the stop.
TEST_F(Fmirun, KeepsTheLastShortStepBeforeTheStopTime) {
    const Finished finished = run({archive("Halvorn"), "--stop-time", "1000.0000005", "--interval",
                                   ".001", "-o", "result.csv"});
    ASSERT_EQ(finished.status, kSuccess) << finished.err;
    const std::string rows = readFile(directory_ / "result.csv");
    EXPECT_NE(rows.find("\n999.999,0,-0\n1000,0,-0\n1000.0000005,0,-0\n"), std::string::npos)
        << rows.substr(rows.size() - std::min<std::size_t>(rows.size(), 200));
}

TEST_F(Fmirun, RefusesAnIntervalTooSmallToAdvanceTime) {
    expectRefusal({archive("Halvorn"), "--start-time", "1e17", "--stop-time",
                   "1.00000000000000016e17", "--interval", "1"},
                  kUsage,
                  {"fmirun: --interval 1 is too small to advance time: doubles near t = "
                   "100000000000000020 are 16 apart"});
}

// Loading the travel stop sets flush-to-zero in the thread; the master's own
// arithmetic must not follow it.
TEST_F(Fmirun, KeepsItsTimeGridWhateverTheSlaveDoesToFloatingPoint) {
    std::vector<std::string> times;
    for (const char* model : {"Halvorn", "Pendrake"}) {
        SCOPED_TRACE(model);
        const Finished finished =
            run({archive(model), "--stop-time", "1e-318", "--interval", "1e-320"});
        ASSERT_EQ(finished.status, kSuccess) << finished.err;
        std::string column;
        std::istringstream lines(finished.out);
        for (std::string line; std::getline(lines, line);) {
            column += line.substr(0, line.find(',')) + "\n";
        }
        times.push_back(column);
    }
    EXPECT_EQ(times[0], times[1]);
    EXPECT_EQ(std::count(times[1].begin(), times[1].end(), '\n'), 103);
    EXPECT_NE(times[1].find("\n1e-320\n2e-320\n"), std::string::npos) << times[1];
}

// The input file and a sweep's table, each problem named by file, line and
// column.

TEST_F(Fmirun, RefusesMalformedInputFiles) {
    struct Case {
        const char* contents;
        const char* message;
        const char* option = "-i";
    };
    const Case cases[] = {
        {"", "inputs.csv: empty; expected a header \"time,<input>,...\" and rows of numbers"},
        {"time,displacement1\n", "inputs.csv: no rows of values after the header"},
        {"t,displacement1\n0,0\n", "inputs.csv:1:1: the first column must be \"time\", not \"t\""},
        {"time,displacement1,bogus\n0,0,0\n",
         "inputs.csv:1:3: unknown variable \"bogus\"; the inputs of Halvorn are: displacement1, "
         "displacement2"},
        {"time,rate\n0,1\n",
         "inputs.csv:1:2: \"rate\" is a parameter; set it with --start-value; the inputs are: "
         "displacement1, displacement2"},
        {"time,force1\n0,1\n",
         "inputs.csv:1:2: \"force1\" is an output, not an input; the inputs are: displacement1, "
         "displacement2"},
        {"time,displacement1,displacement1\n0,0,0\n",
         "inputs.csv:1:3: column \"displacement1\" appears twice"},
        {"time,displacement1\n0,0\n1,0.5x\n", "inputs.csv:3:2: \"0.5x\" is not a finite number"},
        {"time,displacement1\n0,0\n1,\n", "inputs.csv:3:2: empty field"},
        {"time,displacement1\n0,0\n1\n", "inputs.csv:3:2: 1 field, but the header has 2 columns"},
        {"time,displacement1\n0,0\n1,2,3\n",
         "inputs.csv:3:3: 3 fields, but the header has 2 columns (numbers with a decimal comma? "
         "write them with a decimal point)"},
        {"time,displacement1\n0,0\n\n1,0\n1,1\n1,2\n",
         "inputs.csv:6:1: time 1 a third time; a step change takes two rows of one time"},
        {"time;displacement1\n0;0,5\n",
         "inputs.csv:2:2: \"0,5\" has a decimal comma; write numbers with a decimal point (0.5)"},
        {"time [ms],displacement1\n0,0\n", "inputs.csv:1:1: \"time\" is in s, not in ms"},
        {"time,displacement1\n0,0\n1,0\n0.5,1\n",
         "inputs.csv:4:1: time 0.5 does not increase (the row before has 1)"},
        {"time,displacement1\nnan,0\n", "inputs.csv:2:1: \"nan\" is not a finite number"},
        {"time,displacement1\n0,\"0\n", "inputs.csv:2:2: a quoted field is not closed"},
        {"time,displacement1\n0,\"0\"1\n",
         "inputs.csv:2:2: text after the closing quote of a quoted field"},
        // A sweep's table, by the same rules.
        {"", "sweep.csv: empty; expected a header naming parameters, then a row of values per case",
         "--sweep"},
        {"rate\n", "sweep.csv: no cases after the header", "--sweep"},
        {"rate,bogus\n1,2\n",
         "sweep.csv:1:2: unknown variable \"bogus\"; the parameters of Halvorn are: rate; its "
         "inputs: displacement1, displacement2",
         "--sweep"},
        {"force1\n1\n",
         "sweep.csv:1:1: \"force1\" is an output; only parameters and inputs can be set",
         "--sweep"},
        {"rate,displacement2\n1,2\n",
         "sweep.csv:1:2: displacement2: the archive's demonstration \"roll manoeuvre\" sets this "
         "input at every step",
         "--sweep"},
        {"rate,\"rate\"\n1,2\n", "sweep.csv:1:2: column \"rate\" appears twice", "--sweep"},
        {"\xEF\xBB\xBFrate\r\n1\r\n1e999\r\n", "sweep.csv:3:1: \"1e999\" is not a finite number",
         "--sweep"},
        {"rate\n1\n2,3\n",
         "sweep.csv:3:2: 2 fields, but the header has 1 column (numbers with a decimal comma? "
         "write them with a decimal point)",
         "--sweep"},
        {"rate\n\"1\n", "sweep.csv:2:1: a quoted field is not closed", "--sweep"},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.contents);
        const std::string name = std::string(test.option) == "--sweep" ? "sweep.csv" : "inputs.csv";
        file(name, test.contents);
        expectRefusal({archive("Halvorn"), test.option, name}, kInputFile,
                      {"fmirun: " + std::string(test.message) + "\n"});
    }
}

TEST_F(Fmirun, AcceptsSpreadsheetHabitsInInputFiles) {
    // A byte-order mark, quoted names and numbers, spaces, CRLF line ends,
    // blank lines, a leading "+".
    file("inputs.csv",
         "\xEF\xBB\xBF\"time\", \"displacement2\"\r\n\r\n\"0\", \"+0.5\"\r\n1, 1e-1\r\n");
    const Finished finished =
        run({archive("Halvorn"), "-i", "inputs.csv", "--stop-time", "1", "--interval", "1"});
    ASSERT_EQ(finished.status, kSuccess) << finished.err;
    const Csv csv = parseCsv(finished.out);
    ASSERT_EQ(csv.rows.size(), 2U);
    EXPECT_TRUE(same(0.5 * 15000.0, csv.rows[1][1]));
    // Other tools' files: semicolons or tabs, units after the names, a time
    // twice for a step change (the row before up to it, the row after from
    // it on).
    for (const char* separator : {";", "\t"}) {
        SCOPED_TRACE(separator);
        const std::string s = separator;
        file("inputs.csv", "time [s]" + s + "displacement2 [m]\n0" + s + "0\n1" + s + "0\n1" + s +
                               "0.1\n2" + s + "0.1\n");
        const Finished stepped = run({archive("Halvorn"), "-i", "inputs.csv", "--stop-time", "2",
                                      "--interval", "0.5", "--output-variables", "force1"});
        ASSERT_EQ(stepped.status, kSuccess) << stepped.err;
        EXPECT_EQ(stepped.out, "time,force1\n0,0\n0.5,0\n1,0\n1.5," + text(0.1 * 15000.0) + "\n2," +
                                   text(0.1 * 15000.0) + "\n");
    }
}

// Nothing of a run outlives it: the unpacked library and description go as
// soon as the slave has started, and with the run when a signal ends it.

namespace {

bool isEmptyFolder(const std::string& path) {
    std::error_code error;
    return std::filesystem::is_empty(path, error) && !error;
}

// Waits until the run has written a row to `result`: it is then stepping.
bool waitForRows(const std::string& result) {
    for (int i = 0; i < 1000; ++i) {
        std::error_code error;
        if (std::filesystem::file_size(result, error) > 100 && !error) {
            return true;
        }
        usleep(10000);
    }
    return false;
}

}  // namespace

TEST_F(Fmirun, LeavesNothingInTheTemporaryFolderWhenEndedBySignal) {
    const std::string scratch = directory_ / "tmp";
    ASSERT_TRUE(std::filesystem::create_directory(scratch));
    const std::string result = directory_ / "result.csv";
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(strsignal(signal));
        const int pid = startProgram(
            TOOL_TEST_FMIRUN,
            {archive("Corvessa"), "--stop-time", "1e3", "--interval", "1e-4", "-o", result},
            directory_.path(), {"TMPDIR=" + scratch});
        ASSERT_GT(pid, 0);
        ASSERT_TRUE(waitForRows(result));
        EXPECT_TRUE(isEmptyFolder(scratch)) << "already gone while the run steps";
        kill(pid, signal);
        EXPECT_EQ(waitForProgram(pid), 128 + signal);
        EXPECT_TRUE(isEmptyFolder(scratch));
        std::filesystem::remove(result);
    }
}

TEST_F(Fmirun, LeavesNothingInTheTemporaryFolderWhenItsReaderGoes) {
    const std::string scratch = directory_ / "tmp";
    ASSERT_TRUE(std::filesystem::create_directory(scratch));
    int ends[2];
    ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);  // the program holds no read end
    const int pid = startProgram(TOOL_TEST_FMIRUN, {archive("Halvorn"), "--stop-time", "1e4"},
                                 directory_.path(), {"TMPDIR=" + scratch}, ends[1]);
    close(ends[1]);
    char line[64];
    EXPECT_GT(read(ends[0], line, sizeof line), 0);  // as `| head -1` reads
    close(ends[0]);
    EXPECT_EQ(waitForProgram(pid), 128 + SIGPIPE);
    EXPECT_TRUE(isEmptyFolder(scratch));
}

TEST_F(Fmirun, UnpacksOnlyWhatTheRunNeeds) {
    // An entry the run does not need is not read, however damaged or large:
    // only the description and this platform's library are.
    const std::string library = readFile(Fmirun::library("Halvorn"));
    const std::string zeros(std::size_t{64} << 20, '\0');
    writeZip(directory_ / "extra.fmu", {{"modelDescription.xml", description("Halvorn")},
                                        {"binaries/linux64/Halvorn.so", library},
                                        {"documentation/demonstration.csv",
                                         readFile(binaryDir() + "/fmu/Halvorn/documentation/"
                                                                "demonstration.csv")},
                                        {"documentation/a.bin", std::string(4096, 'x')},
                                        {"resources/zeros.bin", zeros}});
    std::string damaged = readFile(directory_ / "extra.fmu");
    const std::size_t data = damaged.find("documentation/a.bin") + 19;
    ASSERT_NE(data, std::string::npos + 19);
    damaged[data + 10] ^= 0x55;
    file("extra.fmu", damaged);
    const Finished finished = run({"extra.fmu", "--stop-time", "0.1", "--summary-only"});
    EXPECT_EQ(finished.status, kSuccess) << finished.err;
}

TEST_F(Fmirun, LeavesAnExistingOutputAsItWasWhenRefused) {
    const std::string guid = "{df6d0958-156a-469d-81e9-7eeddeec2de5}";
    const std::string xml =
        file("guid.xml",
             replaced(description("Halvorn"), "{df6d0958-156a-469d-81e9-7eeddeec2de4}", guid));
    file("bad.csv", "time,bogus\n0,0\n");
    const std::vector<std::vector<std::string>> refused = {
        {library("Halvorn"), "-d", xml},
        {archive("Halvorn"), "-i", "bad.csv"},
        {archive("Halvorn"), "--interval", "-1"},
        {archive("Halvorn"), "-s", "rate", "nan"},
    };
    for (std::vector<std::string> arguments : refused) {
        SCOPED_TRACE(arguments[1]);
        file("keep.csv", "time,force1,force2\n0,1,2\n");
        arguments.insert(arguments.end(), {"--output", "keep.csv"});
        const Finished finished = run(arguments);
        EXPECT_NE(finished.status, kSuccess);
        EXPECT_EQ(readFile(directory_ / "keep.csv"), "time,force1,force2\n0,1,2\n");
    }
}

TEST_F(Fmirun, SaysThatALibraryNeedsItsModelDescription) {
    expectRefusal({library("Corvessa")}, kUsage,
                  {"fmirun: " + library("Corvessa") +
                   " is a slave library, not an .fmu archive: give its model description too, "
                   "with --model-description modelDescription.xml\n"});
    // The other way round, and a temporary folder that cannot be made: the
    // machine's trouble, as an unwritable output file is.
    expectRefusal({archive("Corvessa"), "-d", "modelDescription.xml"}, kUsage,
                  {"fmirun: " + archive("Corvessa") +
                   " is an .fmu archive, not a slave library: run it without "
                   "--model-description, which only a library needs\n"});
    const int pid =
        startProgram(TOOL_TEST_FMIRUN, {archive("Corvessa")}, directory_.path(), {"TMPDIR=/proc"});
    EXPECT_EQ(waitForProgram(pid), kOutput);
}

TEST_F(Fmirun, GivesTheSlaveAnAbsoluteLocationForADescriptionWithoutFolder) {
    file("modelDescription.xml", description("Halvorn"));
    const Finished finished =
        run({library("Halvorn"), "-d", "modelDescription.xml", "-i", demonstration({"Halvorn", 1}),
             "--stop-time", "0.01", "--log-fmi-calls"});
    ASSERT_EQ(finished.status, kSuccess) << finished.err;
    const std::string folder = std::filesystem::canonical(directory_.path()).string();
    EXPECT_NE(finished.err.find("fmuLocation=\"file://" + folder + "\""), std::string::npos)
        << finished.err;
}

// 2.0 wants the URL of the resources folder, 3.0 its path with a trailing
// separator.
TEST_F(Fmirun, GivesLaterVersionsTheirResourcesFolder) {
    const std::string folder = std::filesystem::canonical(directory_.path()).string();
    const std::map<int, std::string> locations = {
        {2, "fmuResourceLocation=\"file://" + folder + "/resources\""},
        {3, "resourcePath=\"" + folder + "/resources/\""}};
    for (const auto& [fmiVersion, location] : locations) {
        const ModelVersion version{"Halvorn", fmiVersion};
        SCOPED_TRACE(nameOf(version));
        file("modelDescription.xml", description(version));
        const Finished finished =
            run({library(version), "-d", "modelDescription.xml", "-i", demonstration(version),
                 "--stop-time", "0.01", "--log-fmi-calls"});
        ASSERT_EQ(finished.status, kSuccess) << finished.err;
        EXPECT_NE(finished.err.find(location), std::string::npos) << finished.err;
    }
}

TEST_F(Fmirun, SaysItsVersionAndExplainsItselfInItsHelp) {
    const Finished version = run({"--version"});
    EXPECT_EQ(version.status, kSuccess);
    EXPECT_EQ(version.out.rfind("fmirun ", 0), 0U) << version.out;
    // One version for the program and the archives it comes with.
    for (const ModelVersion& packed : packedModelVersions()) {
        pugi::xml_document document;
        document.load_string(description(packed).c_str());
        const std::string number = document.document_element().attribute("version").value();
        EXPECT_EQ(version.out.rfind("fmirun " + number + " ", 0), 0U) << nameOf(packed);
        EXPECT_NE(std::string(document.document_element().attribute("generationTool").value())
                      .find(number),
                  std::string::npos);
    }
    const Finished help = run({"--help"});
    EXPECT_EQ(help.status, kSuccess);
    for (const char* part :
         {"--summary-only", "--version", "Exit statuses:", "  0  the run completed",
          "  5  the output file cannot be written", "time,<input>,<input>,...", "byte-order mark",
          "NaN and infinity are refused", "FMI 1.0, 2.0 or 3.0", "binaries/x86_64-linux",
          "Inputs and start values:", "-o,--output,--output-file", "For example,"}) {
        EXPECT_NE(help.out.find(part), std::string::npos) << part;
    }
}

TEST_F(Fmirun, WritesNoRowsForASummaryOnly) {
    const Finished finished =
        run({archive("Pendrake"), "--summary-only", "--summary-file", "summary.csv"});
    ASSERT_EQ(finished.status, kSuccess) << finished.err;
    EXPECT_EQ(finished.out, "");
    EXPECT_NE(finished.err.find("Pendrake (the archive's demonstration \"sweep through both "
                                "limits\"): 400 steps from t = 0 to 4, outputs not written\n"),
              std::string::npos)
        << finished.err;
    EXPECT_NE(finished.err.find("  force "), std::string::npos) << finished.err;
    // The same as a table: a row per variable, in a sweep per case as well.
    EXPECT_EQ(readFile(directory_ / "summary.csv"),
              "variable,peak,peak_time,min,min_time,max,max_time\n"
              "force,-3000,3.01,-3000,3.01,2250.0000000000005,1.01\n");
    file("rates.csv", "upper_rate\n50000\n1e5\n");
    const Finished sweep = run({archive("Pendrake"), "--summary-only", "--sweep", "rates.csv",
                                "--summary-file", "summary.csv"});
    ASSERT_EQ(sweep.status, kSuccess) << sweep.err;
    EXPECT_EQ(readFile(directory_ / "summary.csv"),
              "case,upper_rate,variable,peak,peak_time,min,min_time,max,max_time\n"
              "1,50000,force,-3000,3.01,-3000,3.01,2250.0000000000005,1.01\n"
              "2,1e+05,force,-6000,3.01,-6000,3.01,2250.0000000000005,1.01\n");
}

// The picture of a run: well-formed SVG naming the model and the run's
// settings, whose curves pass through every recorded value as its axes map
// them, the same whether the rows are written or not; PNG by its name.
// A picture of the longest run is reduced to its columns of pixels, every
// peak kept: a spike of the force that lasts one step of 10^6 still reaches
// its height, and the SVG stays small.
TEST_F(Fmirun, DrawsEveryPeakOfALongRunInASmallPicture) {
    file("spike.csv", "time,displacement\n0,0\n2,0\n2.000004,0.2\n2.000008,0\n");
    const Finished finished = run({archive("Pendrake"), "-i", "spike.csv", "--interval", "4e-6",
                                   "--summary-only", "--plot", "spike.svg"});
    ASSERT_EQ(finished.status, kSuccess) << finished.err;
    const std::string svg = readFile(directory_ / "spike.svg");
    EXPECT_LT(svg.size(), 1000000U);
    pugi::xml_document picture;
    ASSERT_TRUE(picture.load_string(svg.c_str()));
    const plot::layout::Frame frame = plot::layout::frame(0);
    const auto points = linePoints(picture, plot::layout::kCurveColours[0], frame);
    double top = frame.bottom;
    for (const auto& point : points) {
        top = std::min(top, point[1]);
    }
    // The force of 0.2 m, the highest value, is the frame's top less the
    // twentieth of the range that the axis adds.
    const auto [yFrom, yTo] = plot::layout::span(0.0, (0.2 - 0.09) * 50000.0);
    EXPECT_NEAR(top,
                frame.bottom -
                    ((0.2 - 0.09) * 50000.0 - yFrom) / (yTo - yFrom) * (frame.bottom - frame.top),
                0.1);
}

TEST_F(Fmirun, PlotsTheRecordedValuesWithOrWithoutRows) {
    const std::vector<std::string> settings = {"-s", "rate", "20000", "--plot"};
    std::vector<std::string> arguments = {archive("Halvorn"), "-o", "result.csv"};
    arguments.insert(arguments.end(), settings.begin(), settings.end());
    arguments.push_back("run.svg");
    const Finished written = run(arguments);
    ASSERT_EQ(written.status, kSuccess) << written.err;
    EXPECT_EQ(written.err, "");
    for (const std::string name : {"summary.svg", "summary.png"}) {
        arguments = {archive("Halvorn"), "--summary-only"};
        arguments.insert(arguments.end(), settings.begin(), settings.end());
        arguments.push_back(name);
        const Finished summary = run(arguments);
        ASSERT_EQ(summary.status, kSuccess) << summary.err;
    }
    const std::string svg = readFile(directory_ / "run.svg");
    EXPECT_TRUE(svg == readFile(directory_ / "summary.svg"));
    EXPECT_EQ(readFile(directory_ / "summary.png").substr(0, 8), "\x89PNG\r\n\x1a\n");

    pugi::xml_document picture;
    const pugi::xml_parse_result parsed = picture.load_string(svg.c_str());
    ASSERT_TRUE(parsed) << parsed.description() << " at byte " << parsed.offset;
    const auto textsOf = [this](const std::string& name) {
        pugi::xml_document document;
        EXPECT_TRUE(document.load_file((directory_ / name).c_str())) << name;
        std::string texts = "\n";
        for (const pugi::xpath_node& text : document.select_nodes("//tspan")) {
            texts += std::string(text.node().text().get()) + "\n";
        }
        return texts;
    };
    // A panel per unit: the travel stop's limits share one with its
    // displacement, its rates have their own.
    const Finished units = run({archive("Pendrake"), "--summary-only", "--plot", "units.svg",
                                "--output-variables", "lower_limit,lower_rate,displacement,force"});
    ASSERT_EQ(units.status, kSuccess) << units.err;
    for (const auto& [name, part] : std::vector<std::pair<std::string, std::string>>{
             {"run.svg", "Halvorn (AntiRollBar), FMI 1.0\n"},
             {"run.svg",
              "t = 0 to 4 every 0.01, inputs: the archive's demonstration \"roll manoeuvre\"\n"},
             {"run.svg", "start values: rate = 20000\n"},
             {"run.svg", "\nforce1\nforce2\n"},
             {"run.svg", "\ntime [s]\n"},
             {"run.svg", "\noutputs [N]\n"},
             {"units.svg", "\nparameters, inputs [m]\n"},
             {"units.svg", "\nparameters [N/m]\n"}}) {
        EXPECT_NE(textsOf(name).find(part), std::string::npos) << part << " not in " << name;
    }
    const Csv csv = parseCsv(readFile(directory_ / "result.csv"));
    ASSERT_EQ(csv.header, (std::vector<std::string>{"time", "force1", "force2"}));
    double least = std::numeric_limits<double>::infinity();
    double most = -least;
    for (const std::vector<double>& row : csv.rows) {
        least = std::min({least, row[1], row[2]});
        most = std::max({most, row[1], row[2]});
    }
    // The forces share one panel: both are outputs.
    const auto [tFrom, tTo] = plot::layout::abscissaSpan(csv.rows.front()[0], csv.rows.back()[0]);
    const auto [yFrom, yTo] = plot::layout::span(least, most);
    const plot::layout::Frame frame = plot::layout::frame(0);
    for (std::size_t column = 1; column <= 2; ++column) {
        SCOPED_TRACE(csv.header[column]);
        const auto points = linePoints(picture, plot::layout::kCurveColours[column - 1], frame);
        ASSERT_EQ(points.size(), csv.rows.size());
        for (std::size_t row = 0; row < csv.rows.size(); ++row) {
            const double t = csv.rows[row][0];
            const double y = csv.rows[row][column];
            // PLplot draws on a grid finer than a tenth of a pixel.
            EXPECT_NEAR(points[row][0],
                        frame.left + (t - tFrom) / (tTo - tFrom) * (frame.right - frame.left), 0.1)
                << "t = " << t;
            EXPECT_NEAR(points[row][1],
                        frame.bottom - (y - yFrom) / (yTo - yFrom) * (frame.bottom - frame.top),
                        0.1)
                << "t = " << t;
        }
    }
}
