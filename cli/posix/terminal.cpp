#include "../terminal.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <morvik/detail/wipe.h>

#include "../front.h"
#include <morvik/front/posix_output.h>

namespace morvik::cli {
namespace {

// Longer lines are read to their end and refused by the key's length check.
constexpr std::size_t kLongestLine = 4096;

class Terminal {
public:
    Terminal() {
        fd_ = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (fd_ < 0)
            throw Failure(Exit::Usage, std::string("--key-prompt: no terminal to read the key from (") +
                                           std::strerror(errno) + "); give --key-hex, --key or --key-file");
    }
    ~Terminal() {
        if (quiet_) ::tcsetattr(fd_, TCSADRAIN, &old_);
        RestoreTerminalOnSignal(-1, nullptr);
        ::close(fd_);
    }
    Terminal(const Terminal&) = delete;
    Terminal& operator=(const Terminal&) = delete;

    // Echo goes off before the first prompt shows and stays off until the
    // last line is read, so nothing typed after a prompt is ever shown or lost.
    void Quiet() {
        if (::tcgetattr(fd_, &old_) != 0) return;
        struct termios quiet = old_;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        quiet.c_lflag |= ECHONL | ICANON;
        RestoreTerminalOnSignal(fd_, &old_);
        quiet_ = ::tcsetattr(fd_, TCSAFLUSH, &quiet) == 0;  // what was typed before the prompt goes
    }

    std::string ReadLine(const char* prompt) {
        Say(prompt);
        std::string line;
        line.reserve(kLongestLine + 1);
        int error = 0;
        for (char c;;) {
            const ssize_t n = ::read(fd_, &c, 1);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) error = errno;
            if (n <= 0 || c == '\n') break;
            if (line.size() <= kLongestLine) line += c;
        }
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (error != 0) {
            detail::Wipe(line);
            throw Failure(Exit::Io, std::string("--key-prompt: cannot read the terminal: ") + std::strerror(error));
        }
        return line;
    }

    void Say(const char* text) {
        for (std::size_t left = std::strlen(text); left > 0;) {
            const ssize_t n = ::write(fd_, text, left);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            text += n;
            left -= static_cast<std::size_t>(n);
        }
    }

private:
    int            fd_ = -1;
    struct termios old_ {};
    bool           quiet_ = false;
};

}  // namespace

std::string PromptKey(bool confirm) {
    Terminal tty;
    tty.Quiet();
    return ConfirmedKey(confirm, [&](bool again) { return tty.ReadLine(again ? "Key again: " : "Key: "); });
}

}  // namespace morvik::cli
