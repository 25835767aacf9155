#include "Sweep.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "Console.h"
#include "Failure.h"
#include "FloatingPoint.h"
#include "Numbers.h"
#include "Summary.h"

std::string caseFileName(const std::string& output, std::size_t caseNumber, std::size_t caseCount) {
    const std::filesystem::path path(output);
    std::string number = std::to_string(caseNumber);
    const std::size_t width = std::to_string(caseCount).size();
    number.insert(0, width - std::min(width, number.size()), '0');
    return (path.parent_path() / (path.stem().string() + "-" + number + path.extension().string()))
        .string();
}

namespace {

// A file for a case's rows until they are written out in order: unnamed, in
// the temporary folder, so that nothing is left of it however the sweep
// ends, and so that a long case's rows take disk rather than memory.
File unnamedFile() {
    std::error_code error;
    const std::filesystem::path folder = std::filesystem::temp_directory_path(error);
    if (!error) {
        const int descriptor = open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
        if (descriptor >= 0) {
            if (std::FILE* file = fdopen(descriptor, "w+")) {
                return File(file);
            }
            close(descriptor);
        }
    }
    return File(std::tmpfile());
}

// What a case leaves for the thread that writes the cases in order.
struct CaseOutcome {
    File rows;  // as a single run writes them, for the one file of all cases
    std::vector<std::string> summary;
    std::string summaryRows;  // for the summary file
    std::optional<Failure> failure;
};

// Everything the cases share.
struct Sweep {
    const CoSimulationSlave& loaded;
    const ModelDescription& model;
    const TimeGrid& grid;
    const RunSettings& common;
    const SweepTable& table;
    const SweepSettings& settings;
    std::string rowsName;  // the one file of all cases, for messages
};

// "rate=20000, lower_limit=-0.05": a case's values, for its summary.
std::string caseValues(const SweepTable& table, std::size_t caseNumber) {
    std::string text;
    for (std::size_t i = 0; i < table.variables.size(); ++i) {
        text += (i == 0 ? "" : ", ") + table.variables[i]->name + "=" +
                formatReal(table.cases[caseNumber - 1][i]);
    }
    return text;
}

// One case, as a single run of fmirun with the case's start values runs:
// instantiated, checked against the description, run. `inputs` are the
// thread's own.
CaseOutcome runCase(const Sweep& sweep, std::size_t caseNumber, const Inputs& inputs) {
    const SweepSettings& settings = sweep.settings;
    CaseOutcome outcome;
    RunSettings runSettings = sweep.common;
    runSettings.showProgress = false;
    const std::vector<fmiReal>& values = sweep.table.cases[caseNumber - 1];
    for (std::size_t i = 0; i < values.size(); ++i) {
        runSettings.startValues.emplace_back(sweep.table.variables[i], values[i]);
    }
    File rowsFile;
    try {
        const std::unique_ptr<CoSimulationSlave> slave = sweep.loaded.another();
        slave->instantiate(settings.slaveLocation);
        slave->enterInitialization(sweep.grid.start(), sweep.grid.stop());
        slave->checkAgainstDescription();
        std::optional<CsvOutput> rows;
        if (settings.writeRows && settings.filePerCase) {
            const std::string name =
                caseFileName(settings.output, caseNumber, sweep.table.cases.size());
            rowsFile = openOutputFile(name, "w");
            rows.emplace(rowsFile.get(), name);
        } else if (settings.writeRows) {
            rowsFile = unnamedFile();
            if (rowsFile == nullptr) {
                throw Failure(
                    kExitOutputFile,
                    "cannot make a temporary file for the rows of a case: " + errnoText());
            }
            rows.emplace(rowsFile.get(), sweep.rowsName);
        }
        const RunResult result =
            run(*slave, inputs, sweep.grid, runSettings, rows ? &*rows : nullptr);
        if (settings.summary) {
            outcome.summary = summaryLines(sweep.model, inputs.origin,
                                           ", case " + std::to_string(caseNumber) + " (" +
                                               caseValues(sweep.table, caseNumber) + ")",
                                           sweep.grid, result, rows ? &*rows : nullptr);
        }
        if (settings.summaryFile != nullptr) {
            std::string lead = std::to_string(caseNumber) + ",";
            for (const fmiReal value : values) {
                lead += formatReal(value) + ",";
            }
            outcome.summaryRows = summaryCsvRows(result, lead);
        }
    } catch (const Failure& failure) {
        outcome.failure = failure;
    } catch (const std::exception& error) {
        outcome.failure = Failure(kExitSlaveFailed, error.what());
    }
    if (settings.writeRows && !settings.filePerCase) {
        outcome.rows = std::move(rowsFile);
    }
    return outcome;
}

// The one file of all cases: opened when the first rows arrive, so that a
// sweep whose first case is refused before it runs leaves an existing file
// as it was; its header is the rows' with the case column in front.
class CombinedRows {
  public:
    explicit CombinedRows(std::string output)
        : output_(std::move(output)), name_(output_.empty() ? "standard output" : output_) {}

    const std::string& name() const {
        return name_;
    }
    // Adds a case's rows, as a single run wrote them to `rows`: the header
    // only before the first case's, every row led by the case number.
    void append(std::FILE* rows, std::size_t caseNumber) {
        std::rewind(rows);
        const std::string lead = std::to_string(caseNumber) + ",";
        std::string header;
        bool inHeader = true;
        bool atRowStart = false;
        std::vector<char> chunk(std::size_t{1} << 16);
        std::size_t got = 0;
        while ((got = std::fread(chunk.data(), 1, chunk.size(), rows)) > 0) {
            const char* at = chunk.data();
            const char* const end = at + got;
            while (at < end) {
                const auto* newline = static_cast<const char*>(
                    std::memchr(at, '\n', static_cast<std::size_t>(end - at)));
                const std::size_t length =
                    static_cast<std::size_t>((newline != nullptr ? newline + 1 : end) - at);
                if (inHeader) {
                    header.append(at, length);
                    inHeader = newline == nullptr;
                    atRowStart = !inHeader;
                    if (!inHeader && file_ == nullptr) {
                        open();
                        put("case," + header);
                    }
                } else {
                    if (atRowStart) {
                        put(lead);
                    }
                    put(at, length);
                    atRowStart = newline != nullptr;
                }
                at += length;
            }
        }
        if (std::ferror(rows) != 0) {
            throw Failure(kExitOutputFile, "cannot read back the rows of case " +
                                               std::to_string(caseNumber) + ": " + errnoText());
        }
    }
    void finish() {
        if (file_ != nullptr && (std::fflush(file_) != 0 || std::ferror(file_) != 0)) {
            throw Failure(kExitOutputFile, "cannot write " + name_ + ": " + errnoText());
        }
    }

  private:
    void open() {
        if (!output_.empty()) {
            owned_ = openOutputFile(output_, "w");
        }
        file_ = output_.empty() ? stdout : owned_.get();
    }
    void put(const std::string& text) {
        put(text.data(), text.size());
    }
    void put(const char* text, std::size_t size) {
        if (std::fwrite(text, 1, size, file_) != size) {
            throw Failure(kExitOutputFile, "cannot write " + name_ + ": " + errnoText());
        }
    }

    std::string output_;
    std::string name_;
    File owned_;  // the file named, not standard output
    std::FILE* file_ = nullptr;
};

}  // namespace

void writeSummaryRows(std::FILE* file, const std::string& rows) {
    if (std::fwrite(rows.data(), 1, rows.size(), file) != rows.size()) {
        throw Failure(kExitOutputFile, "cannot write the summary file: " + errnoText());
    }
}

void runSweep(const CoSimulationSlave& loaded, const ModelDescription& model, const Inputs& inputs,
              const TimeGrid& grid, const RunSettings& common, const SweepTable& table,
              const SweepSettings& settings) {
    const std::size_t first = settings.firstCase;
    const std::size_t count = settings.lastCase - first + 1;
    const std::size_t threads =
        std::max<std::size_t>(1, std::min<std::size_t>(settings.jobs, count));
    CombinedRows combined(settings.output);
    const Sweep sweep{loaded, model, grid, common, table, settings, combined.name()};
    // Each thread reads its inputs from a table of its own.
    std::vector<Inputs> threadInputs(threads, inputs);
    for (Inputs& own : threadInputs) {
        own.at = inputs.at.copy();
    }

    // The threads take the cases in order and leave their outcomes; this one
    // writes them in order. Cases run at most a few ahead of the last one
    // written, so that the rows held back stay few; none starts after a case
    // that failed.
    std::mutex mutex;
    std::condition_variable changed;
    const std::size_t ahead = 4 * threads;
    // The outcome of case `index` waits in slot index % ahead: the case
    // `ahead` before it has been written by the time it may start.
    std::vector<std::optional<CaseOutcome>> outcomes(ahead);
    std::size_t next = 0;
    std::size_t end = count;
    std::size_t written = 0;
    bool stop = false;
    // The master's own arithmetic in every thread (the time grid, the
    // interpolated inputs, the peaks) in the controls of this one; the
    // slave's calls switch to the controls the library left when it was
    // loaded, as in a single run (CoSimulationSlave::another()).
    const FloatingPointControls master = currentFloatingPointControls();
    const auto work = [&](const Inputs& own) {
        setFloatingPointControls(master);
        for (;;) {
            std::size_t index = 0;
            {
                std::unique_lock<std::mutex> lock(mutex);
                changed.wait(lock, [&] { return stop || next >= end || next < written + ahead; });
                if (stop || next >= end) {
                    return;
                }
                index = next++;
            }
            CaseOutcome outcome = runCase(sweep, first + index, own);
            {
                const std::lock_guard<std::mutex> lock(mutex);
                if (outcome.failure) {
                    end = std::min(end, index + 1);
                }
                outcomes[index % ahead] = std::move(outcome);
            }
            changed.notify_all();
        }
    };
    std::vector<std::thread> workers;
    struct Joiner {
        std::vector<std::thread>& workers;
        std::mutex& mutex;
        std::condition_variable& changed;
        bool& stop;
        ~Joiner() {
            {
                const std::lock_guard<std::mutex> lock(mutex);
                stop = true;
            }
            changed.notify_all();
            for (std::thread& worker : workers) {
                worker.join();
            }
        }
    } joiner{workers, mutex, changed, stop};
    for (std::size_t t = 0; t < threads; ++t) {
        workers.emplace_back(work, std::cref(threadInputs[t]));
    }

    console::ProgressLine progress(settings.showProgress);
    for (std::size_t index = 0; index < count; ++index) {
        CaseOutcome outcome;
        {
            std::unique_lock<std::mutex> lock(mutex);
            std::optional<CaseOutcome>& slot = outcomes[index % ahead];
            changed.wait(lock, [&] { return slot.has_value(); });
            outcome = std::move(*slot);
            slot.reset();
        }
        if (outcome.rows != nullptr) {
            combined.append(outcome.rows.get(), first + index);
        }
        for (const std::string& line : outcome.summary) {
            console::line(line);
        }
        if (!outcome.summaryRows.empty()) {
            writeSummaryRows(settings.summaryFile, outcome.summaryRows);
        }
        if (outcome.failure) {
            const std::size_t caseNumber = first + index;
            try {
                combined.finish();
            } catch (const Failure&) {
                // The case's failure is the one to report.
            }
            throw Failure(outcome.failure->status(),
                          "case " + std::to_string(caseNumber) + " (" + table.origin + " line " +
                              std::to_string(table.lines[caseNumber - 1]) +
                              "): " + outcome.failure->what() + "; the sweep stops at this case");
        }
        {
            const std::lock_guard<std::mutex> lock(mutex);
            ++written;
        }
        changed.notify_all();
        if (progress.due()) {
            console::progress("fmirun: " + std::to_string(index + 1) + " of " +
                              std::to_string(count) + " cases done");
        }
    }
    combined.finish();
}
