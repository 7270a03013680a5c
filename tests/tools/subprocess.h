#pragma once
// A child program with its standard output and error on pipes, for the tests
// of the command-line tools. A child still running at the end is killed.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

extern char** environ;

namespace tools_test {

class Subprocess {
public:
    explicit Subprocess(const std::vector<std::string>& argv) {
        int out[2], err[2];
        if (::pipe2(out, O_CLOEXEC) != 0) return;
        if (::pipe2(err, O_CLOEXEC) != 0) {
            ::close(out[0]);
            ::close(out[1]);
            return;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        if (::posix_spawn(&m_pid, args[0], &actions, nullptr, args.data(), environ) != 0) m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        ::close(err[1]);
        m_out = out[0];
        m_err = err[0];
    }
    ~Subprocess() {
        if (m_pid > 0 && !m_exited) {
            ::kill(m_pid, SIGKILL);
            int status;
            ::waitpid(m_pid, &status, 0);
        }
        if (m_out >= 0) ::close(m_out);
        if (m_err >= 0) ::close(m_err);
    }
    Subprocess(const Subprocess&) = delete;
    Subprocess& operator=(const Subprocess&) = delete;

    bool Started() const { return m_pid > 0; }
    pid_t Id() const { return m_pid; }
    void Signal(int signal) {
        if (m_pid > 0 && !m_exited) ::kill(m_pid, signal);
    }

    // The next line of standard output, without its line end.
    std::optional<std::string> ReadLine(int timeoutMs) {
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

    // Waits for the end: the exit status, or nullopt when the time ran out
    // (the child is killed then) or it died of a signal.
    std::optional<int> Wait(int timeoutMs) {
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
        int status = 0;
        while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
        }
        m_exited = true;
        if (killed || !WIFEXITED(status)) return std::nullopt;
        return WEXITSTATUS(status);
    }

    const std::string& Stdout() const { return m_stdout; }
    const std::string& Stderr() const { return m_stderr; }

private:
    // Reads what either pipe has; false at the deadline or when both closed.
    bool Pump(std::chrono::steady_clock::time_point end) {
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
    static void Drain(const pollfd& p, int& fd, std::string& into) {
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

    pid_t m_pid = -1;
    bool m_exited = false;
    int m_out = -1;
    int m_err = -1;
    std::string m_stdout;
    std::string m_stderr;
    std::size_t m_consumed = 0;
};

}  // namespace tools_test
