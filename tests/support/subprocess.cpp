#include "support/subprocess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

extern char** environ;

namespace support {

namespace {

// This process's environment with `changes` applied, as posix_spawn takes it.
std::vector<std::string> Environment(const std::vector<std::string>& changes) {
    std::vector<std::string> entries;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry(*e);
        const std::string name = entry.substr(0, entry.find('=') + 1);
        bool replaced = false;
        for (const auto& change : changes) replaced = replaced || change.rfind(name, 0) == 0;
        if (!replaced) entries.push_back(entry);
    }
    entries.insert(entries.end(), changes.begin(), changes.end());
    return entries;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (auto& t : texts) pointers.push_back(t.data());
    pointers.push_back(nullptr);
    return pointers;
}

// Reads what the pipe has; closes it at its end.
void Drain(const pollfd& p, int& fd, std::string& into) {
    if (fd < 0 || p.revents == 0) return;
    char buffer[4096];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n > 0) {
        into.append(buffer, static_cast<std::size_t>(n));
    } else if (n == 0 || errno != EINTR) {
        ::close(fd);
        fd = -1;
    }
}

}  // namespace

Subprocess::Subprocess(const std::vector<std::string>& argv, const SpawnOptions& options) {
    const bool toFile = !options.outputFile.empty();
    int out[2] = {-1, -1}, err[2] = {-1, -1};
    if (!toFile) {
        if (::pipe2(out, O_CLOEXEC) != 0) return;
        if (::pipe2(err, O_CLOEXEC) != 0) {
            ::close(out[0]);
            ::close(out[1]);
            return;
        }
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (toFile) {
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, options.outputFile.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    } else {
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    }
    std::vector<std::string> args(argv);
    std::vector<std::string> env = Environment(options.environment);
    const auto argp = Pointers(args);
    const auto envp = Pointers(env);
    if (args.empty() || ::posix_spawn(&m_pid, argp[0], &actions, nullptr, argp.data(), envp.data()) != 0)
        m_pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    if (toFile) return;
    ::close(out[1]);
    ::close(err[1]);
    m_out = out[0];
    m_err = err[0];
}

Subprocess::~Subprocess() {
    if (m_pid > 0 && !m_exited) {
        ::kill(m_pid, SIGKILL);
        int status;
        ::waitpid(m_pid, &status, 0);
    }
    if (m_out >= 0) ::close(m_out);
    if (m_err >= 0) ::close(m_err);
}

void Subprocess::Signal(int signal) {
    if (m_pid > 0 && !m_exited) ::kill(m_pid, signal);
}

std::optional<std::string> Subprocess::ReadLine(int timeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const std::size_t newline = m_stdout.find('\n', m_consumed);
        if (newline != std::string::npos) {
            std::string line = m_stdout.substr(m_consumed, newline - m_consumed);
            m_consumed = newline + 1;
            return line;
        }
        if (!Pump(end)) return std::nullopt;
    }
}

std::optional<int> Subprocess::Wait(int timeoutMs) {
    if (m_pid <= 0) return std::nullopt;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    bool killed = false;
    while (m_out >= 0 || m_err >= 0) {
        if (!Pump(end)) {
            if (m_out >= 0 || m_err >= 0) {
                Signal(SIGKILL);
                killed = true;
            }
            break;
        }
    }
    if (!m_exited) {
        while (::waitpid(m_pid, &m_status, 0) < 0 && errno == EINTR) {
        }
        m_exited = true;
    }
    if (killed || !WIFEXITED(m_status)) return std::nullopt;
    return WEXITSTATUS(m_status);
}

std::optional<int> Subprocess::PollStatus() {
    if (m_pid <= 0) return std::nullopt;
    if (!m_exited && ::waitpid(m_pid, &m_status, WNOHANG) != m_pid) return std::nullopt;
    m_exited = true;
    return m_status;
}

// Reads what either pipe has; false at the deadline or when both closed.
bool Subprocess::Pump(std::chrono::steady_clock::time_point end) {
    if (m_out < 0 && m_err < 0) return false;
    pollfd fds[2] = {{m_out, POLLIN, 0}, {m_err, POLLIN, 0}};
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    const int n = ::poll(fds, 2, static_cast<int>(left.count()));
    if (n < 0 && errno == EINTR) return true;
    if (n <= 0) return false;
    Drain(fds[0], m_out, m_stdout);
    Drain(fds[1], m_err, m_stderr);
    return true;
}

}  // namespace support
