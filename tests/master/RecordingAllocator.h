// A master-side allocator with calloc's semantics that records every request and free, can be
// told to fail, and checks the slave's frees against the blocks it handed out.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

struct AllocationRequest {
    std::size_t nobj = 0;
    std::size_t size = 0;
    void* result = nullptr;  // null when the request failed (injected or real)
};

struct LiveBlock {
    void* pointer = nullptr;
    std::size_t bytes = 0;    // nobj * size as requested (0 for a zero-byte request)
    std::size_t request = 0;  // 1-based number of the request, counted from its reset
    bool abandoned = false;
};

// The process-wide allocator behind recordingAllocate/recordingFree. Thread safe.
class RecordingAllocator {
  public:
    ~RecordingAllocator();
    RecordingAllocator(const RecordingAllocator&) = delete;
    RecordingAllocator& operator=(const RecordingAllocator&) = delete;

    // Clears the request and free logs, the problems, the request counter and the failure
    // settings. Live blocks are kept: they still belong to whoever holds them.
    void reset();

    std::vector<AllocationRequest> requests() const;
    std::vector<void*> frees() const;  // every pointer passed to free, in order, null included
    std::vector<LiveBlock> liveBlocks() const;  // in allocation order
    std::vector<std::string> problems() const;

    // The number of requests made since the last reset, failed ones included. Noting it before
    // and after a call identifies the requests that call made.
    std::size_t requestCount() const;

    // Makes the k-th request (1-based, counted from the last reset) fail. May be called for
    // several k.
    void failRequest(std::size_t k);
    // Makes the k-th and every later request fail.
    void failRequestsFrom(std::size_t k);
    // Makes every request for nobj * size == 0 bytes fail.
    void failZeroByteRequests(bool fail);

    // Marks a live block as deliberately leaked: it is left out of the leak report and really
    // freed by releaseAbandoned(). Returns false if the block is not live.
    bool abandon(void* block);
    // Abandons every live block made by the requests numbered after `before` and up to
    // `after`, two values of requestCount() taken around a call. Returns how many it abandoned.
    std::size_t abandonRequestsBetween(std::size_t before, std::size_t after);
    // Frees the abandoned blocks.
    void releaseAbandoned();

    // The problems, then one "leak of N bytes at 0x..." per live block that was not abandoned;
    // then releases the abandoned blocks and resets for the next test. A reported leak is not
    // reported again, and a later free of it is accepted silently.
    std::vector<std::string> endOfTestReport();

    // For recordingAllocate/recordingFree.
    void* allocate(std::size_t nobj, std::size_t size);
    void free(void* block);

  private:
    RecordingAllocator();
    friend RecordingAllocator& recordingAllocator();

    struct State;
    std::unique_ptr<State> state_;
};

RecordingAllocator& recordingAllocator();

extern "C" void* recordingAllocate(std::size_t nobj, std::size_t size);
extern "C" void recordingFree(void* obj);
