#include "RecordingAllocator.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <map>
#include <set>

#include "TestMutex.h"

namespace {

struct Block {
    std::size_t bytes = 0;
    std::size_t request = 0;
    std::size_t epoch = 0;   // which reset period the request number belongs to
    std::size_t serial = 0;  // never reset: orders blocks across resets
    bool abandoned = false;
};

std::string hex(const void* pointer) {
    char buffer[2 + 2 * sizeof(void*) + 1];
    std::snprintf(buffer, sizeof buffer, "0x%llx",
                  static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(pointer)));
    return buffer;
}

}  // namespace

struct RecordingAllocator::State {
    mutable TestMutex mutex;

    std::vector<AllocationRequest> requests;
    std::vector<void*> frees;
    std::vector<std::string> problems;

    std::set<std::size_t> failingRequests;
    std::size_t failingFrom = 0;  // 0: none
    bool failZeroBytes = false;

    std::size_t epoch = 0;
    std::size_t serial = 0;
    std::map<void*, Block> live;
    // Blocks already reported as leaked: their eventual free is legitimate and stays quiet.
    std::set<void*> writtenOff;
    // Blocks freed and not handed out again, to tell a double free from a stray pointer.
    std::set<void*> freed;

    void resetLocked() {
        requests.clear();
        frees.clear();
        problems.clear();
        failingRequests.clear();
        failingFrom = 0;
        failZeroBytes = false;
        ++epoch;
    }

    void releaseAbandonedLocked() {
        for (auto it = live.begin(); it != live.end();) {
            if (it->second.abandoned) {
                std::free(it->first);
                freed.insert(it->first);
                it = live.erase(it);
            } else {
                ++it;
            }
        }
    }

    std::vector<std::pair<void*, Block>> liveInOrder() const {
        std::vector<std::pair<void*, Block>> blocks(live.begin(), live.end());
        std::sort(blocks.begin(), blocks.end(),
                  [](const auto& a, const auto& b) { return a.second.serial < b.second.serial; });
        return blocks;
    }
};

RecordingAllocator::RecordingAllocator() : state_(new State) {}

RecordingAllocator::~RecordingAllocator() = default;

RecordingAllocator& recordingAllocator() {
    // Deliberately never destroyed, like the blocks it tracks: a slave instance freed from a
    // static destructor still has an allocator to return its memory to.
    static RecordingAllocator* allocator = new RecordingAllocator;
    return *allocator;
}

void RecordingAllocator::reset() {
    TestLock lock(state_->mutex);
    state_->resetLocked();
}

std::vector<AllocationRequest> RecordingAllocator::requests() const {
    TestLock lock(state_->mutex);
    return state_->requests;
}

std::vector<void*> RecordingAllocator::frees() const {
    TestLock lock(state_->mutex);
    return state_->frees;
}

std::vector<LiveBlock> RecordingAllocator::liveBlocks() const {
    TestLock lock(state_->mutex);
    std::vector<LiveBlock> result;
    for (const auto& [pointer, block] : state_->liveInOrder()) {
        LiveBlock entry;
        entry.pointer = pointer;
        entry.bytes = block.bytes;
        entry.request = block.request;
        entry.abandoned = block.abandoned;
        result.push_back(entry);
    }
    return result;
}

std::vector<std::string> RecordingAllocator::problems() const {
    TestLock lock(state_->mutex);
    return state_->problems;
}

std::size_t RecordingAllocator::requestCount() const {
    TestLock lock(state_->mutex);
    return state_->requests.size();
}

void RecordingAllocator::failRequest(std::size_t k) {
    TestLock lock(state_->mutex);
    state_->failingRequests.insert(k);
}

void RecordingAllocator::failRequestsFrom(std::size_t k) {
    TestLock lock(state_->mutex);
    state_->failingFrom = k;
}

void RecordingAllocator::failZeroByteRequests(bool fail) {
    TestLock lock(state_->mutex);
    state_->failZeroBytes = fail;
}

bool RecordingAllocator::abandon(void* block) {
    TestLock lock(state_->mutex);
    const auto it = state_->live.find(block);
    if (it == state_->live.end()) {
        return false;
    }
    it->second.abandoned = true;
    return true;
}

std::size_t RecordingAllocator::abandonRequestsBetween(std::size_t before, std::size_t after) {
    TestLock lock(state_->mutex);
    std::size_t count = 0;
    for (auto& [pointer, block] : state_->live) {
        static_cast<void>(pointer);
        if (block.epoch == state_->epoch && block.request > before && block.request <= after &&
            !block.abandoned) {
            block.abandoned = true;
            ++count;
        }
    }
    return count;
}

void RecordingAllocator::releaseAbandoned() {
    TestLock lock(state_->mutex);
    state_->releaseAbandonedLocked();
}

std::vector<std::string> RecordingAllocator::endOfTestReport() {
    TestLock lock(state_->mutex);
    std::vector<std::string> report = state_->problems;
    for (const auto& [pointer, block] : state_->liveInOrder()) {
        if (!block.abandoned) {
            report.push_back("leak of " + std::to_string(block.bytes) + " bytes at " +
                             hex(pointer) + " (request " + std::to_string(block.request) + ")");
            state_->writtenOff.insert(pointer);
            state_->live.erase(pointer);
        }
    }
    state_->releaseAbandonedLocked();
    state_->resetLocked();
    return report;
}

void* RecordingAllocator::allocate(std::size_t nobj, std::size_t size) {
    TestLock lock(state_->mutex);
    State& s = *state_;
    const std::size_t number = s.requests.size() + 1;
    const bool overflows = size != 0 && nobj > std::numeric_limits<std::size_t>::max() / size;
    const std::size_t bytes = overflows ? 0 : nobj * size;

    bool fail = s.failingRequests.count(number) != 0 ||
                (s.failingFrom != 0 && number >= s.failingFrom) ||
                (!overflows && bytes == 0 && s.failZeroBytes);
    if (overflows) {
        // calloc fails these too; asking for one is a bug in the slave all the same.
        s.problems.push_back("request " + std::to_string(number) + " for " + std::to_string(nobj) +
                             " x " + std::to_string(size) + " bytes overflows");
        fail = true;
    }

    void* result = nullptr;
    if (!fail) {
        // A zero-byte request still gets a block of its own, so that the pointer is unique and
        // its free can be checked like any other.
        result = bytes == 0 ? std::calloc(1, 1) : std::calloc(nobj, size);
    }
    s.requests.push_back(AllocationRequest{nobj, size, result});
    if (result != nullptr) {
        Block block;
        block.bytes = bytes;
        block.request = number;
        block.epoch = s.epoch;
        block.serial = ++s.serial;
        s.live[result] = block;
        s.freed.erase(result);
        s.writtenOff.erase(result);
    }
    return result;
}

void RecordingAllocator::free(void* block) {
    TestLock lock(state_->mutex);
    State& s = *state_;
    s.frees.push_back(block);
    if (block == nullptr) {
        s.problems.push_back("free of null pointer");
        return;
    }
    const auto it = s.live.find(block);
    if (it != s.live.end()) {
        s.live.erase(it);
        s.freed.insert(block);
        std::free(block);
        return;
    }
    if (s.writtenOff.erase(block) != 0) {
        s.freed.insert(block);
        std::free(block);
        return;
    }
    if (s.freed.count(block) != 0) {
        s.problems.push_back("double free of " + hex(block));
    } else {
        s.problems.push_back("free of unknown pointer " + hex(block));
    }
}

extern "C" void* recordingAllocate(std::size_t nobj, std::size_t size) {
    return recordingAllocator().allocate(nobj, size);
}

extern "C" void recordingFree(void* obj) {
    recordingAllocator().free(obj);
}
