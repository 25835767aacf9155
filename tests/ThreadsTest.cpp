// Many instances of the model under test, created, stepped, terminated and
// freed on several threads at once. Separate instances share nothing, so
// every value of every instance must be exactly what its own operands give
// through the model's equations, and every trace must carry its own
// instance. Run under ThreadSanitizer, this is also where a data race in the
// runtime would show.
#include <atomic>
#include <map>
#include <random>
#include <string>
#include <thread>

#include "SlaveTest.h"

namespace {

constexpr int kThreadCount = 4;
constexpr int kInstancesPerThread = 6;
// Each instance lives several lives, so that creation and release on one
// thread overlap with stepping on the others.
constexpr int kLives = 3;
constexpr int kStepsPerLife = 40;
constexpr fmiReal kStepSize = 0.001;
// Enough to find the cause; the rest would only repeat it.
constexpr std::size_t kFailuresKeptPerThread = 5;

fmiReal uniform(std::mt19937_64& random, fmiReal low, fmiReal high) {
    return low + (high - low) * static_cast<fmiReal>(random() >> 11) * 0x1p-53;
}

// One instance and all that its master knows of it.
struct Slave {
    std::string name;
    fmiComponent c = nullptr;
    fmiBoolean logging = fmiFalse;
    std::vector<fmiReal> expected;
};

// New operands for every real variable: a parameter (a variable with a
// start value) somewhere around its start value, anything else a
// displacement-sized number. Outputs are set too; the step overwrites them.
std::vector<fmiReal> operands(const ModelFacts& model, std::mt19937_64& random) {
    std::vector<fmiReal> values(model.realCount());
    for (std::size_t i = 0; i < values.size(); ++i) {
        const auto& start = model.startValues[i];
        values[i] = start ? *start * uniform(random, 0.5, 1.5) : uniform(random, -0.2, 0.2);
    }
    return values;
}

// One master thread: its instances through several whole lives. Failures are
// only collected here; the test asserts on its own thread.
void runMaster(int thread, const FmiFunctions& fmi, const ModelFacts& model,
               std::atomic<int>& ready, std::vector<std::string>& failures) {
    const auto fail = [&](const std::string& failure) {
        if (failures.size() < kFailuresKeptPerThread) {
            failures.push_back(failure);
        }
    };
    std::mt19937_64 random(static_cast<std::uint64_t>(thread) + 1);
    std::vector<fmiValueReference> all(model.realCount());
    for (std::size_t i = 0; i < all.size(); ++i) {
        all[i] = static_cast<fmiValueReference>(i);
    }
    std::vector<fmiReal> values(all.size());

    // Start together, so that the threads really overlap.
    ++ready;
    while (ready.load() < kThreadCount) {
        std::this_thread::yield();
    }

    for (int life = 0; life < kLives; ++life) {
        std::vector<Slave> slaves(kInstancesPerThread);
        for (int i = 0; i < kInstancesPerThread; ++i) {
            Slave& slave = slaves[i];
            slave.name = "thread" + std::to_string(thread) + "_life" + std::to_string(life) +
                         "_slave" + std::to_string(i);
            // One instance per thread traces, so that the logger is entered
            // from every thread at once.
            slave.logging = i == 0 ? fmiTrue : fmiFalse;
            slave.expected = model.freshValues();
            slave.c =
                fmi.instantiateSlave(slave.name.c_str(), model.guid.c_str(), "file:///unused", "",
                                     0.0, fmiFalse, fmiFalse, recordingCallbacks(), slave.logging);
            if (slave.c == nullptr || fmi.initializeSlave(slave.c, 0.0, fmiFalse, 0.0) != fmiOK) {
                fail(slave.name + ": cannot be created and initialized");
                return;
            }
        }
        for (int step = 0; step < kStepsPerLife; ++step) {
            for (Slave& slave : slaves) {
                const std::string where = slave.name + ", step " + std::to_string(step) + ": ";
                // Every few steps everything changes; in between only what
                // is not a parameter, and what is not set must stay.
                std::vector<fmiReal> next = operands(model, random);
                for (std::size_t i = 0; i < next.size(); ++i) {
                    if (step % 10 != 0 && model.startValues[i]) {
                        next[i] = slave.expected[i];
                    }
                }
                if (fmi.setReal(slave.c, all.data(), all.size(), next.data()) != fmiOK) {
                    fail(where + "fmiSetReal failed");
                }
                slave.expected = next;
                if (fmi.doStep(slave.c, step * kStepSize, kStepSize, fmiTrue) != fmiOK) {
                    fail(where + "fmiDoStep failed");
                }
                model.equation(slave.expected);
                if (fmi.getReal(slave.c, all.data(), all.size(), values.data()) != fmiOK) {
                    fail(where + "fmiGetReal failed");
                } else if (auto same = sameBits(slave.expected, values); !same) {
                    fail(where + same.message());
                }
            }
        }
        for (const Slave& slave : slaves) {
            if (fmi.terminateSlave(slave.c) != fmiOK) {
                fail(slave.name + ": fmiTerminateSlave failed");
            }
            fmi.freeSlaveInstance(slave.c);
        }
    }
}

}  // namespace

using Threads = SlaveTest;

TEST_F(Threads, InstancesOnSeveralThreadsShareNothing) {
    std::vector<std::vector<std::string>> failures(kThreadCount);
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreadCount; ++t) {
        threads.emplace_back(runMaster, t, std::cref(fmi()), std::cref(model()), std::ref(ready),
                             std::ref(failures[t]));
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    for (int t = 0; t < kThreadCount; ++t) {
        for (const std::string& failure : failures[t]) {
            ADD_FAILURE() << failure;
        }
    }
    // Only the tracing instances logged, each message under its own name and
    // instance name: the traces of instantiation and initialization, then per
    // step the nvr trace and one trace per element of fmiSetReal, the step
    // and its ten time events, one trace per element of fmiGetReal, and last
    // the traces of termination and release.
    const std::size_t perStep = 1 + model().realCount() + 1 + 10 + model().realCount();
    const std::size_t perLife = 2 + kStepsPerLife * perStep + 2;
    std::map<std::string, std::size_t> counts;
    for (const LogRecord& record : logs()) {
        EXPECT_EQ(record.status, fmiOK) << record.text;
        EXPECT_EQ(record.category, "log") << record.text;
        EXPECT_NE(record.instanceName.find("_slave0"), std::string::npos) << record.instanceName;
        ++counts[record.instanceName];
    }
    EXPECT_EQ(counts.size(), static_cast<std::size_t>(kThreadCount * kLives));
    for (const auto& [name, count] : counts) {
        EXPECT_EQ(count, perLife) << name;
    }
}
