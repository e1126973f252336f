#include <morvik/front/posix_output.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/random.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <optional>
#include <tuple>

#include <morvik/front/failure.h>
#include <morvik/front/keys.h>
#include <morvik/front/target.h>

namespace morvik::front {
namespace {

Failure IoFailure(const std::string& what, int error) { return Failure(Exit::Io, what + ": " + std::strerror(error), error); }
Failure IoFailure(const std::string& what) { return IoFailure(what, errno); }

bool g_closed[3];

// What a fatal signal must clean up. Changed only with every signal blocked,
// so the handler never sees it half written.
int              g_temp_dir = -1;
char             g_temp_name[NAME_MAX + 1];
int              g_tty_fd = -1;
struct termios   g_tty;

// Every signal whose default action ends the process (terminate or core dump),
// besides the real-time ones; SIGKILL and SIGSTOP cannot be caught.
constexpr int kFatal[] = {SIGHUP,  SIGINT,  SIGQUIT, SIGILL,  SIGTRAP,   SIGABRT, SIGBUS,  SIGFPE,
                          SIGUSR1, SIGSEGV, SIGUSR2, SIGPIPE, SIGALRM,   SIGTERM, SIGXCPU, SIGXFSZ,
                          SIGVTALRM, SIGPROF, SIGIO, SIGPWR, SIGSYS,
#ifdef SIGSTKFLT
                          SIGSTKFLT,
#endif
};

extern "C" void CleanUpAndDie(int sig) {
    DiscardPendingReplacement();
    if (g_tty_fd >= 0) ::tcsetattr(g_tty_fd, TCSANOW, &g_tty);
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    ::sigaction(sig, &dfl, nullptr);
    sigset_t just;
    sigemptyset(&just);
    sigaddset(&just, sig);
    ::sigprocmask(SIG_UNBLOCK, &just, nullptr);
    ::raise(sig);
}

class SignalsBlocked {
public:
    SignalsBlocked() {
        sigset_t all;
        sigfillset(&all);
        ::sigprocmask(SIG_BLOCK, &all, &old_);
    }
    ~SignalsBlocked() { ::sigprocmask(SIG_SETMASK, &old_, nullptr); }

private:
    sigset_t old_;
};

void ForgetTemp() {
    SignalsBlocked blocked;
    g_temp_dir = -1;
    g_temp_name[0] = '\0';
}

std::pair<std::string, std::string> Split(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return {"", path};
    return {path.substr(0, slash + 1), path.substr(slash + 1)};
}

bool AllDigits(std::string_view s) {
    if (s.empty() || s.size() > 9) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

// Skips "/N" at the front of `s`; false if it is not there.
bool SkipNumber(std::string_view& s, long* value) {
    if (s.empty() || s.front() != '/') return false;
    std::size_t n = 1;
    while (n < s.size() && s[n] >= '0' && s[n] <= '9') ++n;
    if (n == 1) return false;
    if (value) *value = std::strtol(std::string(s.substr(1, n - 1)).c_str(), nullptr, 10);
    s.remove_prefix(n);
    return true;
}

constexpr int kOtherProcess = -2;

// The descriptor that `path` names, judged by the directory it is in once
// that directory's own links are resolved: /dev/std*, and the entries of a
// /proc/PID/fd (which /dev/fd and /proc/self/fd lead to).
std::optional<int> DescriptorOf(const std::string& path) {
    const auto [dir, base] = Split(path);
    if (base.empty()) return std::nullopt;
    char* resolved = ::realpath(dir.empty() ? "." : dir.c_str(), nullptr);
    if (!resolved) return std::nullopt;
    const std::string real = resolved;
    std::free(resolved);
    if (real == "/dev") {
        if (base == "stdin") return 0;
        if (base == "stdout") return 1;
        if (base == "stderr") return 2;
        return std::nullopt;
    }
    if (!AllDigits(base)) return std::nullopt;
    std::string_view rest = real;
    long pid = 0;
    if (rest.substr(0, 5) != "/proc") return std::nullopt;
    rest.remove_prefix(5);
    if (!SkipNumber(rest, &pid)) return std::nullopt;
    if (rest.substr(0, 5) == "/task") {
        rest.remove_prefix(5);
        if (!SkipNumber(rest, nullptr)) return std::nullopt;
    }
    if (rest != "/fd") return std::nullopt;
    if (pid != ::getpid()) return kOtherProcess;
    return std::atoi(base.c_str());
}

// A link that another user planted in a shared folder such as /tmp: the
// folder is sticky and world-writable, and the link belongs neither to the
// one following it nor to the folder's owner. The kernel refuses to follow
// such a link when fs.protected_symlinks is on; links are resolved here (to
// rename onto their target), where the kernel never checks them, so the
// same rule is kept here whatever the machine's setting.
bool PlantedLink(const std::string& link, const struct stat& st) {
    const std::string dir = Split(link).first;
    struct stat folder {};
    if (::stat(dir.empty() ? "." : dir.c_str(), &folder) != 0) return false;
    constexpr mode_t kShared = S_ISVTX | S_IWOTH;
    return (folder.st_mode & kShared) == kShared && st.st_uid != ::geteuid() && st.st_uid != folder.st_uid;
}

std::string RandomSuffix() {
    static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    unsigned char bytes[6] = {};
    if (::getrandom(bytes, sizeof bytes, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof bytes)) {
        static unsigned long counter = 0;
        unsigned long x = static_cast<unsigned long>(::getpid()) * 2654435761ul ^ ++counter * 40503ul;
        for (auto& b : bytes) b = static_cast<unsigned char>(x >>= 5);
    }
    std::string s;
    for (unsigned char b : bytes) s += kAlphabet[b % (sizeof kAlphabet - 1)];
    return s;
}

}  // namespace

// ---- Standard descriptors and signals --------------------------------------

void DiscardPendingReplacement() noexcept {
    if (g_temp_dir >= 0 && g_temp_name[0] != '\0') ::unlinkat(g_temp_dir, g_temp_name, 0);
}

void HoldStandardDescriptors() noexcept {
    for (int fd = 0; fd < 3; ++fd) {
        if (::fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
        g_closed[fd] = true;
        const int null = ::open("/dev/null", O_RDWR);  // the lowest free number: fd itself
        if (null >= 0 && null != fd) {
            ::dup2(null, fd);
            ::close(null);
        }
    }
}

bool StandardDescriptorClosed(int fd) noexcept { return fd >= 0 && fd < 3 && g_closed[fd]; }

void CleanUpOnFatalSignals() noexcept {
    struct sigaction clean {};
    clean.sa_handler = CleanUpAndDie;
    sigfillset(&clean.sa_mask);
    const auto install = [&](int sig) {
        struct sigaction previous {};
        // Ignored stays ignored; a handler already there (a sanitizer's) stays too.
        if (::sigaction(sig, nullptr, &previous) == 0 && previous.sa_handler == SIG_DFL &&
            !(previous.sa_flags & SA_SIGINFO))
            ::sigaction(sig, &clean, nullptr);
    };
    for (int sig : kFatal) install(sig);
    for (int sig = SIGRTMIN; sig <= SIGRTMAX; ++sig) install(sig);
}

void RestoreTerminalOnSignal(int fd, const struct termios* settings) noexcept {
    SignalsBlocked blocked;
    if (settings) g_tty = *settings;
    g_tty_fd = settings ? fd : -1;
}

// ---- Where -o writes --------------------------------------------------------

Destination Resolve(const std::string& path) {
    const std::string name = Quoted(path);
    std::string at = path;
    for (int links = 0;; ++links) {
        Destination d;
        if (const auto fd = DescriptorOf(at)) {
            if (*fd == kOtherProcess) d.fd = ::open(at.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC | O_NOCTTY);
            else if (StandardDescriptorClosed(*fd)) errno = EBADF;
            else d.fd = ::fcntl(*fd, F_DUPFD_CLOEXEC, 3);
            if (d.fd < 0) throw IoFailure("cannot write " + name);
            struct stat st {};
            if (::fstat(d.fd, &st) == 0 && S_ISDIR(st.st_mode)) {
                ::close(d.fd);
                throw IoFailure("cannot write " + name, EISDIR);
            }
            return d;
        }
        struct stat st {};
        if (::lstat(at.c_str(), &st) != 0) {
            if (errno != ENOENT) throw IoFailure("cannot write " + name);
            if (at.back() == '/') throw IoFailure("cannot write " + name, EISDIR);
            std::tie(d.dir, d.base) = Split(at);
            return d;  // a new file, perhaps the target of a dangling link
        }
        if (S_ISLNK(st.st_mode)) {
            if (links == 40) throw IoFailure("cannot write " + name, ELOOP);
            if (PlantedLink(at, st))
                throw IoFailure("cannot write " + name + ": the symbolic link " + Quoted(at) +
                                    " is in a sticky world-writable folder and belongs to neither you nor the folder's owner",
                                EACCES);
            std::string target(PATH_MAX, '\0');
            const ssize_t n = ::readlink(at.c_str(), target.data(), target.size());
            if (n < 0) throw IoFailure("cannot write " + name);
            target.resize(static_cast<std::size_t>(n));
            at = target.front() == '/' ? target : Split(at).first + target;
            continue;
        }
        if (S_ISDIR(st.st_mode)) throw IoFailure("cannot write " + name, EISDIR);
        if (!S_ISREG(st.st_mode)) {
            d.fd = ::open(at.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
            if (d.fd < 0) throw IoFailure("cannot write " + name);
            return d;
        }
        // Renaming needs only the directory; the user must be allowed to
        // write the file itself too.
        if (::faccessat(AT_FDCWD, at.c_str(), W_OK, AT_EACCESS) != 0) throw IoFailure("cannot write " + name);
        std::tie(d.dir, d.base) = Split(at);
        d.exists = true;
        d.st = st;
        return d;
    }
}

// ---- Replacing a file -------------------------------------------------------

namespace {

// The first folder on the way to `dir` that does not exist: "a/b" of
// "a/b/c/"; "" if there is none.
std::string MissingFolder(const std::string& dir) {
    for (std::size_t end = dir.find('/', 1);; end = dir.find('/', end + 1)) {
        const std::string folder = dir.substr(0, end);
        struct stat st {};
        if (!folder.empty() && ::stat(folder.c_str(), &st) != 0 && errno == ENOENT) return folder;
        if (end == std::string::npos) return {};
    }
}

}  // namespace

Replacement::Replacement(const Destination& to, const std::string& name) : base_(to.base), name_(name) {
    const std::string beside = "cannot create a temporary file beside " + name;
    dir_ = ::open(to.dir.empty() ? "." : to.dir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (dir_ < 0 && errno == ENOENT) {
        // Through a link the folder is not the one the name shows.
        const std::string missing = MissingFolder(to.dir);
        if (!missing.empty())
            throw Failure(Exit::Io, "cannot write " + name + ": the folder " + Quoted(missing) + " does not exist", ENOENT);
    }
    if (dir_ < 0) throw IoFailure(beside);
    // The temporary name is at most as long as the longest name the file
    // system takes: a long target name is shortened in it.
    constexpr std::size_t kAdded = sizeof ".." - 1 + sizeof "morvik-XXXXXX" - 1;
    long longest = ::fpathconf(dir_, _PC_NAME_MAX);
    if (longest <= 0 || longest > NAME_MAX) longest = NAME_MAX;
    std::string stem = base_;
    if (stem.size() + kAdded > static_cast<std::size_t>(longest))
        stem.resize(static_cast<std::size_t>(longest) > kAdded ? static_cast<std::size_t>(longest) - kAdded : 1);
    for (int attempt = 0;; ++attempt) {
        temp_ = "." + stem + ".morvik-" + RandomSuffix();
        int error = 0;
        {
            // No signal may come between creating the file and learning its name.
            SignalsBlocked blocked;
            // A new file gets 0666 less the umask (or the folder's default
            // ACL) from the kernel, as any program's new file; asking for
            // the umask would set it, for that instant, for every thread.
            // A replacement starts private and takes the old file's mode.
            fd_ = ::openat(dir_, temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY,
                           to.exists ? 0600 : 0666);
            error = errno;
            if (fd_ >= 0) {
                g_temp_dir = dir_;
                std::memcpy(g_temp_name, temp_.c_str(), std::min(temp_.size() + 1, sizeof g_temp_name));
                g_temp_name[NAME_MAX] = '\0';
            }
        }
        if (fd_ >= 0) break;
        if (error != EEXIST || attempt == 100) {
            temp_.clear();
            ::close(dir_);
            dir_ = -1;
            throw IoFailure(beside, error);
        }
    }
    if (to.exists) {
        struct stat mine {};
        ::fstat(fd_, &mine);
        if ((mine.st_uid != to.st.st_uid || mine.st_gid != to.st.st_gid) &&
            ::fchown(fd_, to.st.st_uid, to.st.st_gid) != 0) {
            const int error = errno;
            Discard();
            throw IoFailure("cannot replace " + name + " keeping its owner and group", error);
        }
        if (::fchmod(fd_, to.st.st_mode & 01777) != 0) {
            const int error = errno;
            Discard();
            throw IoFailure("cannot set the mode of the temporary file beside " + name, error);
        }
    }
}

Replacement::~Replacement() { Discard(); }

void Replacement::Discard() noexcept {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    if (!temp_.empty()) {
        ::unlinkat(dir_, temp_.c_str(), 0);
        ForgetTemp();
        temp_.clear();
    }
    if (dir_ >= 0) ::close(dir_);
    dir_ = -1;
}

void Replacement::Commit() {
    const int fd = fd_;
    fd_ = -1;
    int error = ::fsync(fd) == 0 ? 0 : errno;
    if (::close(fd) != 0 && error == 0) error = errno;
    if (error != 0) {
        Discard();
        throw IoFailure("cannot write " + name_, error);
    }
    {
        SignalsBlocked blocked;
        if (::renameat(dir_, temp_.c_str(), dir_, base_.c_str()) == 0) {
            g_temp_dir = -1;
            g_temp_name[0] = '\0';
            temp_.clear();
        } else {
            error = errno;
        }
    }
    if (error != 0) {
        Discard();
        throw IoFailure("cannot replace " + name_, error);
    }
    Discard();
}

}  // namespace morvik::front
