// Password.cpp: reading a password from a file, a pipe or a terminal.
#include "Password.h"

#include "CFText.h"
#include "Command.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace netsetup {

namespace {

// The source as messages name it.
std::string SourceName(const std::string &source)
{
    return source == "-" ? std::string("standard input") : "the password file " + Quote(source);
}

// Reads up to the first line end from fd, a byte at a time from anything but
// a regular file, so that nothing after the line is taken from a pipe
// another reader shares. Failure on a read error or an over-long line.
std::string ReadLine(int fd, const std::string &source)
{
    struct stat about {};
    if (fstat(fd, &about) != 0)
        throw Failure("cannot read " + SourceName(source) + ": " + std::strerror(errno));
    if (S_ISDIR(about.st_mode))
        throw Failure("cannot read " + SourceName(source) + ": it is a folder");
    const size_t chunk = S_ISREG(about.st_mode) ? 256 : 1;
    std::string  line;
    char         buffer[256];
    for (;;) {
        ssize_t got = read(fd, buffer, chunk);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            int error = errno;
            Forget(&line);
            throw Failure("cannot read " + SourceName(source) + ": " + std::strerror(error));
        }
        if (got == 0) break;
        const char *end = static_cast<const char *>(std::memchr(buffer, '\n', size_t(got)));
        line.append(buffer, end != nullptr ? size_t(end - buffer) : size_t(got));
        std::memset(buffer, 0, sizeof buffer);
        if (line.size() > kMaxPasswordBytes) {
            Forget(&line);
            throw Failure("the password in " + SourceName(source) + " is longer than " +
                          std::to_string(kMaxPasswordBytes) + " bytes");
        }
        if (end != nullptr) break;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

// Asks on the terminal at fd, with echo off while the password is typed.
std::string ReadFromTerminal(int fd, const std::string &source)
{
    std::fputs("Password: ", stderr);
    std::fflush(stderr);
    termios saved{};
    bool    quiet = tcgetattr(fd, &saved) == 0;
    if (quiet) {
        termios silent = saved;
        silent.c_lflag &= ~tcflag_t(ECHO);
        quiet = tcsetattr(fd, TCSAFLUSH, &silent) == 0;
    }
    std::string line;
    try {
        line = ReadLine(fd, source);
    } catch (...) {
        if (quiet) tcsetattr(fd, TCSAFLUSH, &saved);
        std::fputs("\n", stderr);
        throw;
    }
    if (quiet) tcsetattr(fd, TCSAFLUSH, &saved);
    std::fputs("\n", stderr);
    return line;
}

} // namespace

void Forget(std::string *secret)
{
    volatile char *bytes = secret->data();
    for (size_t i = 0; i < secret->size(); i++)
        bytes[i] = 0;
    secret->clear();
}

std::string ReadPassword(const std::string &source)
{
    std::string password;
    if (source == "-") {
        password = isatty(0) ? ReadFromTerminal(0, source) : ReadLine(0, source);
    } else {
        int fd = open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
        if (fd < 0)
            throw Failure("cannot read " + SourceName(source) + ": " + std::strerror(errno));
        try {
            password = ReadLine(fd, source);
        } catch (...) {
            close(fd);
            throw;
        }
        close(fd);
    }
    std::string problem;
    if (password.empty())
        problem = "is empty";
    else if (!IsUtf8(password))
        problem = "is not UTF-8";
    for (unsigned char c : password)
        if (problem.empty() && (c < 0x20 || c == 0x7F)) problem = "holds a control character";
    if (!problem.empty()) {
        Forget(&password);
        throw Failure("the password in " + SourceName(source) + " " + problem);
    }
    return password;
}

} // namespace netsetup
