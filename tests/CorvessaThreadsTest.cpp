// Many dual anti-roll bars stepped side by side on several threads at once:
// separate instances share nothing, so every value of every instance must be
// exactly what its own operands give.
#include <array>
#include <atomic>
#include <random>
#include <string>
#include <thread>

#include "SlaveTest.h"

namespace {

constexpr int kThreadCount = 4;
constexpr int kInstancesPerThread = 8;
constexpr int kStepCount = 200;
constexpr fmiReal kStepSize = 0.001;
// Enough to find the cause; the rest would only repeat it.
constexpr std::size_t kFailuresKeptPerThread = 5;

constexpr std::array<fmiValueReference, 4> kDisplacements = {2, 3, 4, 5};
constexpr std::array<fmiValueReference, 2> kRates = {0, 1};

// One instance and everything its master knows of it: its own random
// operands, and all ten values as they must read after each step.
struct Bar {
    std::string name;
    fmiComponent c = nullptr;
    std::mt19937_64 random;
    std::vector<fmiReal> expected;
};

fmiReal uniform(std::mt19937_64& random, fmiReal low, fmiReal high) {
    return low + (high - low) * static_cast<fmiReal>(random() >> 11) * 0x1p-53;
}

// One master thread: creates its instances, steps them in turn, checks each
// one after every step, then terminates and frees them. Failures are only
// collected here; the test asserts in its own thread.
void runMaster(int thread, const FmiFunctions& fmi, const ModelFacts& model,
               std::atomic<int>& ready, std::vector<std::string>& failures) {
    const auto fail = [&](const std::string& failure) {
        if (failures.size() < kFailuresKeptPerThread) {
            failures.push_back(failure);
        }
    };
    std::vector<Bar> bars(kInstancesPerThread);
    for (int i = 0; i < kInstancesPerThread; ++i) {
        Bar& bar = bars[i];
        bar.name = "thread" + std::to_string(thread) + "_bar" + std::to_string(i);
        bar.random.seed(static_cast<std::uint64_t>(thread * kInstancesPerThread + i + 1));
        bar.expected = model.freshValues();
    }

    // Start together, so that the threads really overlap.
    ++ready;
    while (ready.load() < kThreadCount) {
        std::this_thread::yield();
    }

    for (Bar& bar : bars) {
        bar.c = fmi.instantiateSlave(bar.name.c_str(), model.guid.c_str(), "file:///unused", "",
                                     0.0, fmiFalse, fmiFalse, recordingCallbacks(), fmiFalse);
        if (bar.c == nullptr || fmi.initializeSlave(bar.c, 0.0, fmiFalse, 0.0) != fmiOK) {
            fail(bar.name + ": cannot be created and initialized");
            return;
        }
    }
    std::vector<fmiValueReference> all(model.realCount());
    for (std::size_t i = 0; i < all.size(); ++i) {
        all[i] = static_cast<fmiValueReference>(i);
    }
    std::vector<fmiReal> values(all.size());
    for (int step = 0; step < kStepCount; ++step) {
        for (Bar& bar : bars) {
            const std::string where = bar.name + ", step " + std::to_string(step) + ": ";
            // The displacements change at every step, the rates now and then:
            // what is not set again must stay as it was.
            std::array<fmiReal, 4> displacements;
            for (std::size_t i = 0; i < displacements.size(); ++i) {
                displacements[i] = uniform(bar.random, -0.2, 0.2);
                bar.expected[kDisplacements[i]] = displacements[i];
            }
            if (fmi.setReal(bar.c, kDisplacements.data(), 4, displacements.data()) != fmiOK) {
                fail(where + "fmiSetReal of the displacements failed");
            }
            if (step % 50 == 0) {
                std::array<fmiReal, 2> rates;
                for (std::size_t i = 0; i < rates.size(); ++i) {
                    rates[i] = uniform(bar.random, 5000.0, 50000.0);
                    bar.expected[kRates[i]] = rates[i];
                }
                if (fmi.setReal(bar.c, kRates.data(), 2, rates.data()) != fmiOK) {
                    fail(where + "fmiSetReal of the rates failed");
                }
            }
            if (fmi.doStep(bar.c, step * kStepSize, kStepSize, fmiTrue) != fmiOK) {
                fail(where + "fmiDoStep failed");
            }
            model.equation(bar.expected);
            if (fmi.getReal(bar.c, all.data(), all.size(), values.data()) != fmiOK) {
                fail(where + "fmiGetReal failed");
            } else if (auto same = sameBits(bar.expected, values); !same) {
                fail(where + same.message());
            }
        }
    }
    for (const Bar& bar : bars) {
        if (fmi.terminateSlave(bar.c) != fmiOK) {
            fail(bar.name + ": fmiTerminateSlave failed");
        }
        fmi.freeSlaveInstance(bar.c);
    }
}

}  // namespace

using CorvessaThreads = SlaveTest;

TEST_F(CorvessaThreads, InstancesOnSeveralThreadsShareNothing) {
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
    // Logging was off and nothing was refused.
    EXPECT_TRUE(logs().empty());
}
