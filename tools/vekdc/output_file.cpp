#include "output_file.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace vekdc {

namespace {

// Characters of the final name that the temporary name repeats.
constexpr size_t kTempBaseMax = 128;

// The temporary file in progress, for the signal handler. Only one output
// is open at a time.
char g_temp_path[4096];
volatile std::sig_atomic_t g_temp_active = 0;

void set_active_temp(const std::string& path) {
    g_temp_active = 0;
    if (path.size() >= sizeof g_temp_path) return;  // cannot happen: mkstemp succeeded
    std::memcpy(g_temp_path, path.c_str(), path.size() + 1);
    g_temp_active = 1;
}

extern "C" void cleanup_on_signal(int sig) {
    if (g_temp_active) unlink(g_temp_path);
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

mode_t default_mode() {
    const mode_t mask = umask(022);
    umask(mask);
    return 0666 & ~mask;
}

int close_checked(int fd) {
    // A failed close may be the first report of a write error; EINTR leaves
    // the descriptor closed on Linux.
    if (close(fd) != 0 && errno != EINTR) return errno;
    return 0;
}

// Renames without replacing an existing target. Falls back to link+unlink
// where the file system has no RENAME_NOREPLACE.
int rename_noreplace(const char* from, const char* to) {
    if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return errno;
    if (link(from, to) != 0) return errno;
    unlink(from);
    return 0;
}

}  // namespace

int OutputFile::create(const std::string& final_path) {
    discard();
    final_ = final_path;
    const size_t slash = final_path.rfind('/');
    const std::string dir = slash == std::string::npos ? "" : final_path.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? final_path : final_path.substr(slash + 1);
    // A final name too long for a directory entry would only fail at the
    // rename, after all the work; a long one that fits must not fail for
    // its temporary name, which therefore keeps only the start of it.
    if (base.size() > NAME_MAX) return ENAMETOOLONG;
    std::string tmpl = dir + "." + base.substr(0, kTempBaseMax) + ".vekdc-XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    const int fd = mkostemp(buf.data(), O_CLOEXEC);
    if (fd < 0) return errno;
    fd_ = fd;
    temp_ = buf.data();
    set_active_temp(temp_);
    return 0;
}

int OutputFile::commit(const struct stat* like, bool overwrite) {
    int err = 0;
    const mode_t mode = like ? (like->st_mode & 0777) : default_mode();
    // The owner too, where allowed (as root, or the group for a member of
    // it); a refusal is no error. Before the mode, which a change of owner
    // may clear bits of.
    if (like && fchown(fd_, like->st_uid, like->st_gid) != 0 &&
        fchown(fd_, static_cast<uid_t>(-1), like->st_gid) != 0) {
        // Neither: the file keeps this process's owner and group.
    }
    if (fchmod(fd_, mode) != 0) err = errno;
    if (!err && like) {
        const timespec times[2] = {like->st_atim, like->st_mtim};
        futimens(fd_, times);  // times are a courtesy; a failure is not an error
    }
    const int close_err = close_checked(fd_);
    fd_ = -1;
    if (!err) err = close_err;
    if (!err) {
        if (overwrite) {
            if (std::rename(temp_.c_str(), final_.c_str()) != 0) err = errno;
        } else {
            err = rename_noreplace(temp_.c_str(), final_.c_str());
        }
    }
    if (err) {
        discard();
        return err;
    }
    g_temp_active = 0;
    temp_.clear();
    return 0;
}

void OutputFile::discard() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
    if (!temp_.empty()) {
        g_temp_active = 0;
        unlink(temp_.c_str());
        temp_.clear();
    }
}

void install_output_cleanup() {
    // Past the file size limit (ulimit -f) the default action of SIGXFSZ
    // would end the process on the spot; ignored, the write fails with
    // EFBIG and goes the ordinary way of a write error, temporary file
    // removed.
    std::signal(SIGXFSZ, SIG_IGN);
    for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction old;
        if (sigaction(sig, nullptr, &old) != 0 || old.sa_handler == SIG_IGN) continue;
        struct sigaction sa;
        std::memset(&sa, 0, sizeof sa);
        sa.sa_handler = cleanup_on_signal;
        sigemptyset(&sa.sa_mask);
        sigaction(sig, &sa, nullptr);
    }
}

}  // namespace vekdc
