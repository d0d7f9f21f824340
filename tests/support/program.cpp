#include "tests/support/program.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string_view>
#include <thread>

#include "tests/support/backends.h"

namespace kestrix::test {

namespace {

/// A file descriptor, closed when the object goes.
class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { Close(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    void Close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_;
};

std::string ReadUntilEnd(int fd) {
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        text.append(buffer, static_cast<size_t>(n));
    }
    return text;
}

}  // namespace

std::string ProgramPath() { return std::string(KESTRIX_BINARY_DIR) + "/bin/kestrix"; }

ProgramRun RunKestrix(const std::vector<std::string>& arguments, const ProgramOptions& options) {
    const std::string program = ProgramPath();
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    // The environment is made before the fork: the child only calls what is safe there.
    std::vector<char*> envp;
    for (char** e = environ; *e; ++e)
        if (!options.withoutHome || std::string_view(*e).rfind("KESTRIX_HOME=", 0) != 0) envp.push_back(*e);
    envp.push_back(nullptr);

    // Standard error goes into a file, so that neither stream can block the other.
    TempDir scratch;
    const std::string errFile = (scratch.path() / "stderr").string();
    int pipeEnds[2];
    ProgramRun run;
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0) return run;
    Fd readEnd(pipeEnds[0]), writeEnd(pipeEnds[1]);
    Fd errFd(::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(writeEnd.get(), STDOUT_FILENO);
        ::dup2(errFd.get(), STDERR_FILENO);
        if (!options.folder.empty() && ::chdir(options.folder.c_str()) != 0) ::_exit(126);
        ::execve(program.c_str(), argv.data(), envp.data());
        ::_exit(127);
    }
    writeEnd.Close();
    errFd.Close();
    if (child < 0) return run;
    run.out = ReadUntilEnd(readEnd.get());
    int raw = 0;
    while (::waitpid(child, &raw, 0) < 0 && errno == EINTR) {
    }
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    run.err = ReadAll(errFile);
    return run;
}

ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                      const std::vector<std::string>& environment, std::chrono::milliseconds timeout) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    auto nameOf = [](std::string_view variable) { return variable.substr(0, variable.find('=') + 1); };
    std::vector<char*> envp;
    for (char** e = environ; *e; ++e) {
        bool replaced = false;
        for (const std::string& v : environment) replaced = replaced || nameOf(v) == nameOf(*e);
        if (!replaced) envp.push_back(*e);
    }
    for (const std::string& v : environment) envp.push_back(const_cast<char*>(v.c_str()));
    envp.push_back(nullptr);

    // Both streams go into files: nothing blocks while the run is watched for its time.
    TempDir scratch;
    const std::string outFile = (scratch.path() / "stdout").string();
    const std::string errFile = (scratch.path() / "stderr").string();
    ProgramRun run;
    Fd out(::open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    Fd err(::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    const pid_t child = ::fork();
    if (child == 0) {
        ::setpgid(0, 0);  // a group of its own, so that whatever it starts can be ended with it
        ::dup2(out.get(), STDOUT_FILENO);
        ::dup2(err.get(), STDERR_FILENO);
        ::execvpe(program.c_str(), argv.data(), envp.data());
        ::_exit(127);
    }
    if (child < 0) return run;
    ::setpgid(child, child);
    int raw = 0;
    const bool ended = WaitUntil([&] { return ::waitpid(child, &raw, WNOHANG) == child; }, timeout);
    ::kill(-child, SIGKILL);
    if (!ended) {
        while (::waitpid(child, &raw, 0) < 0 && errno == EINTR) {
        }
        run.timedOut = true;
    }
    run.status = ended && WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    run.out = ReadAll(outFile);
    run.err = ReadAll(errFile);
    return run;
}

BackgroundKestrix::BackgroundKestrix(const std::vector<std::string>& arguments) {
    const std::string program = ProgramPath();
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const std::string outFile = (scratch_.path() / "output").string();
    Fd out(::open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    pid_ = ::fork();
    if (pid_ == 0) {
        ::dup2(out.get(), STDOUT_FILENO);
        ::dup2(out.get(), STDERR_FILENO);
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
}

BackgroundKestrix::~BackgroundKestrix() {
    if (pid_ > 0 && !status_) {
        ::kill(pid_, SIGKILL);
        int raw = 0;
        while (::waitpid(pid_, &raw, 0) < 0 && errno == EINTR) {
        }
    }
}

std::string BackgroundKestrix::Output() const { return ReadAll(scratch_.path() / "output"); }

bool BackgroundKestrix::WaitForOutput(const std::string& text, std::chrono::milliseconds timeout) const {
    return WaitUntil([&] { return Output().find(text) != std::string::npos; }, timeout);
}

void BackgroundKestrix::Signal(int signal) const {
    if (pid_ > 0 && !status_) ::kill(pid_, signal);
}

std::optional<int> BackgroundKestrix::WaitForExit(std::chrono::milliseconds timeout) {
    if (status_ || pid_ <= 0) return status_;
    WaitUntil(
        [&] {
            int raw = 0;
            if (::waitpid(pid_, &raw, WNOHANG) != pid_) return false;
            status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
            return true;
        },
        timeout);
    return status_;
}

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (condition()) return true;
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

}  // namespace kestrix::test
