// An output file that appears under its final name only when complete: it is
// written under a temporary name in the same directory and renamed into
// place by commit(). Anything else (an error, the destructor, a signal)
// removes the temporary file.
#pragma once

#include <string>
#include <sys/stat.h>

namespace vekdc {

class OutputFile {
  public:
    OutputFile() = default;
    ~OutputFile() { discard(); }
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Creates the temporary file for `final_path`. Returns 0 or an errno
    // value.
    int create(const std::string& final_path);
    int fd() const { return fd_; }
    const std::string& temp_path() const { return temp_; }

    // Gives the file the owner (where allowed), permission bits and times
    // of `like` (the input; null: 0666 less the umask), closes it and
    // renames it to the final name. Without `overwrite` an existing file of that name is left alone
    // and EEXIST returned. Returns 0 or an errno value; on failure the
    // temporary file is removed.
    int commit(const struct stat* like, bool overwrite);
    // Removes the temporary file, if any.
    void discard();

  private:
    int fd_ = -1;
    std::string final_;
    std::string temp_;
};

// Removes the temporary file of the OutputFile in progress when the process
// is stopped by SIGINT, SIGTERM or SIGHUP. Signals that were ignored stay
// ignored. SIGXFSZ is ignored, so that exceeding the file size limit is a
// write error like any other.
void install_output_cleanup();

}  // namespace vekdc
