#include "ScratchFolder.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <system_error>
#include <utility>

#include "Failure.h"

namespace fs = std::filesystem;

namespace {

// What the signal handler removes, in the order of creation; it may only
// use what is safe in a handler, so the paths live in fixed arrays, each
// written before the count that makes the handler see it.
constexpr std::size_t kMaxTracked = 16;
constexpr std::size_t kMaxPath = 4096;
char trackedPaths[kMaxTracked][kMaxPath];
volatile std::sig_atomic_t trackedCount = 0;

constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGQUIT};
struct sigaction previousActions[std::size(kEndingSignals)];

void removeTracked() {
    for (std::sig_atomic_t i = trackedCount; i > 0; --i) {
        const char* path = trackedPaths[i - 1];
        if (unlink(path) != 0) {
            rmdir(path);
        }
    }
}

extern "C" void removeAndEnd(int signal) {
    removeTracked();
    trackedCount = 0;
    // Ends as the signal would have ended the program, for its parent to see.
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    sigaction(signal, &fallback, nullptr);
    raise(signal);
}

void installHandlers() {
    struct sigaction action {};
    action.sa_handler = removeAndEnd;
    sigemptyset(&action.sa_mask);
    for (const int signal : kEndingSignals) {
        sigaddset(&action.sa_mask, signal);
    }
    for (std::size_t i = 0; i < std::size(kEndingSignals); ++i) {
        sigaction(kEndingSignals[i], &action, &previousActions[i]);
    }
}

void restoreHandlers() {
    for (std::size_t i = 0; i < std::size(kEndingSignals); ++i) {
        sigaction(kEndingSignals[i], &previousActions[i], nullptr);
    }
}

// A temporary folder that cannot be made or written is the machine's
// trouble, as an output file is, not the model's.
[[noreturn]] void refuse(const std::string& message) {
    throw Failure(kExitOutputFile, message);
}

}  // namespace

ScratchFolder::ScratchFolder() {
    std::error_code error;
    fs::path base = fs::temp_directory_path(error);
    if (error) {
        base = "/tmp";
    }
    std::string pattern = (base / "fmirun.XXXXXX").string();
    if (pattern.size() >= kMaxPath) {
        refuse("the temporary folder's path is too long: " + base.string());
    }
    trackedCount = 0;
    installHandlers();
    // Tracked before it exists, so that no moment leaves it untracked.
    std::memcpy(trackedPaths[0], pattern.c_str(), pattern.size() + 1);
    if (mkdtemp(trackedPaths[0]) == nullptr) {
        restoreHandlers();
        refuse("cannot make a temporary folder in " + base.string() + ": " + errnoText() +
               " (TMPDIR names where; it must be a writable folder)");
    }
    std::atomic_signal_fence(std::memory_order_seq_cst);
    trackedCount = 1;
    path_ = trackedPaths[0];
}

ScratchFolder::~ScratchFolder() {
    remove();
}

void ScratchFolder::track(const std::string& path) {
    if (trackedCount >= static_cast<std::sig_atomic_t>(kMaxTracked) || path.size() >= kMaxPath) {
        throw Failure(kExitModel, "cannot unpack " + path + ": too deep or too long a path");
    }
    std::memcpy(trackedPaths[trackedCount], path.c_str(), path.size() + 1);
    std::atomic_signal_fence(std::memory_order_seq_cst);
    trackedCount = trackedCount + 1;
}

ScratchFolder::File ScratchFolder::create(const std::string& relative) {
    std::string path = path_;
    std::size_t start = 0;
    for (std::size_t slash = relative.find('/'); slash != std::string::npos;
         slash = relative.find('/', start)) {
        path += "/" + relative.substr(start, slash - start);
        start = slash + 1;
        track(path);
        if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
            refuse("cannot make " + path + ": " + errnoText());
        }
    }
    path += "/" + relative.substr(start);
    track(path);
    const int descriptor = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0700);
    if (descriptor < 0) {
        refuse("cannot write " + path + ": " + errnoText());
    }
    return File(descriptor, path);
}

void ScratchFolder::remove() {
    if (removed_) {
        return;
    }
    removed_ = true;
    removeTracked();
    trackedCount = 0;
    restoreHandlers();
}

ScratchFolder::File::File(int descriptor, std::string path)
    : descriptor_(descriptor), path_(std::move(path)) {}

ScratchFolder::File::File(File&& other) noexcept
    : descriptor_(other.descriptor_), path_(std::move(other.path_)) {
    other.descriptor_ = -1;
}

ScratchFolder::File::~File() {
    if (descriptor_ >= 0) {
        ::close(descriptor_);
    }
}

void ScratchFolder::File::append(const char* bytes, std::size_t size) {
    while (size > 0) {
        const ssize_t written = write(descriptor_, bytes, size);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            refuse("cannot write " + path_ + ": " + errnoText());
        }
        bytes += written;
        size -= static_cast<std::size_t>(written);
    }
}

void ScratchFolder::File::close() {
    const int descriptor = descriptor_;
    descriptor_ = -1;
    if (::close(descriptor) != 0) {
        refuse("cannot write " + path_ + ": " + errnoText());
    }
}
