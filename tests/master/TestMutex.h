// A minimal mutex for the test master's process-wide recorders.
//
// Private to the test master's .cpp files: it is never included from a public header, so the
// Windows headers it needs do not leak into test code.
//
// std::mutex cannot be used directly: the default x86_64-w64-mingw32-g++ uses the "win32"
// thread model, whose libstdc++ has no std::mutex at all. The native lock works with either
// MinGW thread model.
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <mutex>
#endif

class TestMutex {
  public:
#ifdef _WIN32
    TestMutex() {
        InitializeCriticalSection(&section_);
    }
    ~TestMutex() {
        DeleteCriticalSection(&section_);
    }
    void lock() {
        EnterCriticalSection(&section_);
    }
    void unlock() {
        LeaveCriticalSection(&section_);
    }
#else
    TestMutex() = default;
    ~TestMutex() = default;
    void lock() {
        mutex_.lock();
    }
    void unlock() {
        mutex_.unlock();
    }
#endif

    TestMutex(const TestMutex&) = delete;
    TestMutex& operator=(const TestMutex&) = delete;

  private:
#ifdef _WIN32
    CRITICAL_SECTION section_;
#else
    std::mutex mutex_;
#endif
};

class TestLock {
  public:
    explicit TestLock(TestMutex& mutex) : mutex_(mutex) {
        mutex_.lock();
    }
    ~TestLock() {
        mutex_.unlock();
    }

    TestLock(const TestLock&) = delete;
    TestLock& operator=(const TestLock&) = delete;

  private:
    TestMutex& mutex_;
};
