#include "Sweep.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>
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

// The text of errno, the same as strerror's but safe in any thread.
std::string errorText() {
    return std::generic_category().message(errno);
}

// What a case leaves for the thread that writes the cases in order.
struct CaseOutcome {
    std::string header;  // the rows' header, "time,...\n", once the run began
    std::string rows;    // each led by the case number, for the one file of all cases
    std::vector<std::string> summary;
    std::optional<Failure> failure;
};

// Rows written to memory, for the one file of all cases.
class MemoryFile {
  public:
    MemoryFile() : file_(open_memstream(&data_, &size_)) {}
    ~MemoryFile() {
        close();
        std::free(data_);
    }
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;

    std::FILE* file() const {
        return file_;
    }
    // Everything written; the file is closed.
    std::string_view close() {
        if (file_ != nullptr) {
            std::fclose(file_);
            file_ = nullptr;
        }
        return {data_, size_};
    }

  private:
    char* data_ = nullptr;
    std::size_t size_ = 0;
    std::FILE* file_;
};

// A case's own file, closed however the case ends.
struct CaseFile {
    std::FILE* file = nullptr;
    ~CaseFile() {
        if (file != nullptr) {
            std::fclose(file);
        }
    }
};

// A run's rows as they go into the one file of all cases: the header kept
// apart, every row led by the case number.
void keepRows(std::string_view text, std::size_t caseNumber, CaseOutcome& outcome) {
    const std::size_t headerEnd = text.find('\n');
    if (headerEnd == std::string_view::npos) {
        return;
    }
    outcome.header = std::string(text.substr(0, headerEnd + 1));
    text.remove_prefix(headerEnd + 1);
    const std::string lead = std::to_string(caseNumber) + ",";
    const auto rowCount = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
    outcome.rows.reserve(text.size() + rowCount * lead.size());
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::size_t length = end == std::string_view::npos ? text.size() : end + 1;
        outcome.rows += lead;
        outcome.rows.append(text.substr(0, length));
        text.remove_prefix(length);
    }
}

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
    std::optional<MemoryFile> memory;
    CaseFile caseFile;
    try {
        const std::unique_ptr<CoSimulationSlave> slave = sweep.loaded.another();
        slave->instantiate(settings.slaveLocation);
        slave->enterInitialization(sweep.grid.start(), sweep.grid.stop());
        slave->checkAgainstDescription();
        std::optional<CsvOutput> rows;
        if (settings.writeRows && settings.filePerCase) {
            const std::string name =
                caseFileName(settings.output, caseNumber, sweep.table.cases.size());
            caseFile.file = std::fopen(name.c_str(), "w");
            if (caseFile.file == nullptr) {
                throw Failure(kExitOutputFile, "cannot write " + name + ": " + errorText());
            }
            rows.emplace(caseFile.file, name);
        } else if (settings.writeRows) {
            memory.emplace();
            if (memory->file() == nullptr) {
                throw Failure(kExitOutputFile, "cannot hold the rows of a case: " + errorText());
            }
            rows.emplace(memory->file(), sweep.rowsName);
        }
        const RunResult result =
            run(*slave, inputs, sweep.grid, runSettings, rows ? &*rows : nullptr);
        if (settings.summary) {
            outcome.summary = summaryLines(
                sweep.model, inputs.origin,
                ", case " + std::to_string(caseNumber) + " (" +
                    caseValues(sweep.table, caseNumber) + ")",
                sweep.grid, result, rows ? "in " + rows->name() : std::string("not written"));
        }
    } catch (const Failure& failure) {
        outcome.failure = failure;
    } catch (const std::exception& error) {
        outcome.failure = Failure(kExitSlaveFailed, error.what());
    }
    if (memory) {
        keepRows(memory->close(), caseNumber, outcome);
    }
    return outcome;
}

// The one file of all cases: opened when the first rows arrive, so that a
// sweep refused before any case ran leaves an existing file as it was; its
// header is the rows' with the case column in front.
class CombinedRows {
  public:
    explicit CombinedRows(std::string output)
        : output_(std::move(output)), name_(output_.empty() ? "standard output" : output_) {}
    ~CombinedRows() {
        if (file_ != nullptr && file_ != stdout) {
            std::fclose(file_);
        }
    }
    CombinedRows(const CombinedRows&) = delete;
    CombinedRows& operator=(const CombinedRows&) = delete;

    const std::string& name() const {
        return name_;
    }
    void write(const CaseOutcome& outcome) {
        if (outcome.header.empty()) {
            return;
        }
        if (file_ == nullptr) {
            file_ = output_.empty() ? stdout : std::fopen(output_.c_str(), "w");
            if (file_ == nullptr) {
                throw Failure(kExitOutputFile, "cannot write " + name_ + ": " + errorText());
            }
            put("case," + outcome.header);
        }
        put(outcome.rows);
    }
    void finish() {
        if (file_ != nullptr && (std::fflush(file_) != 0 || std::ferror(file_) != 0)) {
            throw Failure(kExitOutputFile, "cannot write " + name_ + ": " + errorText());
        }
    }

  private:
    void put(const std::string& text) {
        if (std::fwrite(text.data(), 1, text.size(), file_) != text.size()) {
            throw Failure(kExitOutputFile, "cannot write " + name_ + ": " + errorText());
        }
    }

    std::string output_;
    std::string name_;
    std::FILE* file_ = nullptr;
};

// How many cases are done, at most ten times a second and only once the
// sweep has taken half a second, as a run shows its time.
class SweepProgress {
  public:
    SweepProgress(bool enabled, std::size_t count)
        : enabled_(enabled), count_(count), begin_(Clock::now()), next_(begin_) {}
    ~SweepProgress() {
        if (enabled_) {
            console::clearProgress();
        }
    }
    SweepProgress(const SweepProgress&) = delete;
    SweepProgress& operator=(const SweepProgress&) = delete;

    void update(std::size_t done) {
        if (!enabled_) {
            return;
        }
        const Clock::time_point now = Clock::now();
        if (now < next_ || now - begin_ < std::chrono::milliseconds(500)) {
            return;
        }
        next_ = now + std::chrono::milliseconds(100);
        console::progress("fmirun: " + std::to_string(done) + " of " + std::to_string(count_) +
                          " cases done");
    }

  private:
    using Clock = std::chrono::steady_clock;
    bool enabled_;
    std::size_t count_;
    Clock::time_point begin_;
    Clock::time_point next_;
};

}  // namespace

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
    std::vector<std::optional<CaseOutcome>> outcomes(count);
    std::size_t next = 0;
    std::size_t end = count;
    std::size_t written = 0;
    bool stop = false;
    const std::size_t ahead = 4 * threads;
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
                outcomes[index] = std::move(outcome);
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

    SweepProgress progress(settings.showProgress, count);
    for (std::size_t index = 0; index < count; ++index) {
        CaseOutcome outcome;
        {
            std::unique_lock<std::mutex> lock(mutex);
            changed.wait(lock, [&] { return outcomes[index].has_value(); });
            outcome = std::move(*outcomes[index]);
            outcomes[index].reset();
        }
        if (settings.writeRows && !settings.filePerCase) {
            combined.write(outcome);
        }
        for (const std::string& line : outcome.summary) {
            console::line(line);
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
        progress.update(index + 1);
    }
    combined.finish();
}
