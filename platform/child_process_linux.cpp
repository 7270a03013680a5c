#include "platform/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/poll_deadline.h"

extern char** environ;

namespace platform {

ChildProcess::~ChildProcess() {
    if (m_pid > 0) {
        Kill();
        CloseOutput();
        Wait();
    }
    CloseOutput();
}

void ChildProcess::CloseOutput() {
    if (m_out >= 0) ::close(m_out);
    m_out = -1;
}

bool ChildProcess::Start(const std::vector<std::string>& argv, std::string* error) {
    if (m_pid > 0 || argv.empty()) {
        *error = "no program to start";
        return false;
    }
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) {
        *error = std::string("pipe: ") + std::strerror(errno);
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);

    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, args[0], &actions, &attributes, args.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    if (rc != 0) {
        ::close(out[0]);
        *error = argv[0] + ": " + std::strerror(rc);
        return false;
    }
    m_pid = pid;
    m_out = out[0];
    return true;
}

bool ChildProcess::ReadOutput(std::string* into) {
    if (m_out < 0) return false;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(m_out, buffer, sizeof buffer);
        if (n > 0) {
            into->append(buffer, static_cast<std::size_t>(n));
            return true;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) return true;
        CloseOutput();
        return false;
    }
}

void ChildProcess::Interrupt() {
    if (m_pid > 0) ::kill(m_pid, SIGINT);
}

void ChildProcess::Kill() {
    if (m_pid > 0) ::kill(m_pid, SIGKILL);
}

ChildEnd ChildProcess::Wait() {
    ChildEnd end;
    if (m_pid <= 0) return end;
    int status = 0;
    while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
    }
    m_pid = -1;
    end.exited = WIFEXITED(status);
    end.code = end.exited ? WEXITSTATUS(status) : 0;
    end.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    return end;
}

bool WaitForChildren(std::span<ChildProcess* const> children, InterruptSignals* interrupts,
                     std::int64_t timeoutMs, std::vector<std::size_t>* ready, bool* interrupted) {
    ready->clear();
    *interrupted = false;
    std::vector<pollfd> fds;
    std::vector<std::size_t> owners;
    for (std::size_t i = 0; i < children.size(); ++i) {
        if (children[i]->m_out < 0) continue;
        fds.push_back({children[i]->m_out, POLLIN, 0});
        owners.push_back(i);
    }
    if (interrupts != nullptr) fds.push_back({interrupts->Descriptor(), POLLIN, 0});

    const Deadline deadline(timeoutMs);
    for (;;) {
        const int n = ::poll(fds.data(), fds.size(), deadline.RemainingPollMs());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        for (std::size_t i = 0; i < owners.size(); ++i)
            if (fds[i].revents != 0) ready->push_back(owners[i]);
        if (interrupts != nullptr && fds.back().revents != 0) *interrupted = true;
        return true;
    }
}

bool FollowParent(int parentId) {
    ::signal(SIGPIPE, SIG_IGN);
    if (::prctl(PR_SET_PDEATHSIG, SIGINT) != 0) return false;
    return ::getppid() == parentId;
}

int ProcessId() { return static_cast<int>(::getpid()); }

}  // namespace platform
