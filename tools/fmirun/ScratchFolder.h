// A temporary folder for the parts of an archive that must be files (the
// library, to be loaded, and the model description beside it), which nothing
// of a run outlives: its files go when the object goes or remove() is called,
// and when the program is ended by SIGINT (Ctrl-C), SIGTERM (kill, timeout),
// SIGHUP (a closed terminal), SIGPIPE (a reader that went away) or SIGQUIT.
// Only SIGKILL, which no program can catch, leaves it behind. One at a time.
#pragma once

#include <cstddef>
#include <string>

class ScratchFolder {
  public:
    // Throws Failure (kExitModel) when no folder can be made.
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::string& path() const {
        return path_;
    }

    // A file of the folder, written in pieces: `relative` may name
    // subfolders, which are made. Throws Failure (kExitModel) when the file
    // cannot be written.
    class File {
      public:
        File(File&& other) noexcept;
        ~File();
        File(const File&) = delete;
        File& operator=(const File&) = delete;
        File& operator=(File&&) = delete;
        void append(const char* bytes, std::size_t size);
        // Throws when the file cannot be completed.
        void close();

      private:
        friend class ScratchFolder;
        File(int descriptor, std::string path);
        int descriptor_;
        std::string path_;
    };
    File create(const std::string& relative);

    // Removes the folder and everything in it, now.
    void remove();

  private:
    void track(const std::string& path);

    std::string path_;
    bool removed_ = false;
};
