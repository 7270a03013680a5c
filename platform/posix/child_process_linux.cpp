#include "platform/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/interrupt_source_linux.h"
#include "platform/poll_deadline.h"
#include "platform/system_error.h"

extern char** environ;

namespace platform {

struct ChildProcess::State {
    int pid = -1;
    int out = -1;
    int err = -1;
};

namespace {
void Close(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

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

// A pipe whose reading end never blocks: the parent reads only what is there.
bool OpenPipe(int ends[2], std::string* error) {
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        *error = StepErrorText("pipe", errno);
        return false;
    }
    ::fcntl(ends[0], F_SETFL, ::fcntl(ends[0], F_GETFL) | O_NONBLOCK);
    return true;
}

// Appends what the pipe has; false (and closed) once it has ended.
bool ReadPipe(int& fd, std::string* into) {
    if (fd < 0) return false;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            into->append(buffer, static_cast<std::size_t>(n));
            return true;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) return true;
        Close(fd);
        return false;
    }
}

ChildEnd EndOf(int status) {
    ChildEnd end;
    end.exited = WIFEXITED(status);
    end.code = end.exited ? WEXITSTATUS(status) : 0;
    end.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    return end;
}
}  // namespace

ChildProcess::ChildProcess() : m_state(std::make_unique<State>()) {}

ChildProcess::~ChildProcess() {
    if (m_state->pid > 0) {
        Kill();
        Close(m_state->out);
        Close(m_state->err);
        Wait();
    }
    Close(m_state->out);
    Close(m_state->err);
}

bool ChildProcess::Start(const std::vector<std::string>& argv, std::string* error, const ChildOptions& options) {
    if (m_state->pid > 0 || argv.empty()) {
        *error = "no program to start";
        return false;
    }
    const bool toFile = !options.outputFile.empty();
    int out[2] = {-1, -1};
    int err[2] = {-1, -1};
    if (!toFile && !OpenPipe(out, error)) return false;
    if (!toFile && options.errorsOnPipe && !OpenPipe(err, error)) {
        Close(out[0]);
        Close(out[1]);
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (toFile) {
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, options.outputFile.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    } else {
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        if (err[1] >= 0) posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    }
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);

    std::vector<std::string> args(argv);
    std::vector<std::string> env = Environment(options.environment);
    const auto argp = Pointers(args);
    const auto envp = Pointers(env);
    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, argp[0], &actions, &attributes, argp.data(), envp.data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    Close(out[1]);
    Close(err[1]);
    if (rc != 0) {
        Close(out[0]);
        Close(err[0]);
        *error = StepErrorText(argv[0], rc);
        return false;
    }
    m_state->pid = pid;
    m_state->out = out[0];
    m_state->err = err[0];
    return true;
}

int ChildProcess::Id() const { return m_state->pid; }
bool ChildProcess::HasOutput() const { return m_state->out >= 0; }
bool ChildProcess::HasErrors() const { return m_state->err >= 0; }

bool ChildProcess::ReadOutput(std::string* into) { return ReadPipe(m_state->out, into); }
bool ChildProcess::ReadErrors(std::string* into) { return ReadPipe(m_state->err, into); }

void ChildProcess::Interrupt() {
    if (m_state->pid > 0) ::kill(m_state->pid, SIGINT);
}

void ChildProcess::Terminate() {
    if (m_state->pid > 0) ::kill(m_state->pid, SIGTERM);
}

void ChildProcess::Kill() {
    if (m_state->pid > 0) ::kill(m_state->pid, SIGKILL);
}

ChildEnd ChildProcess::Wait() {
    if (m_state->pid <= 0) return {};
    int status = 0;
    while (::waitpid(m_state->pid, &status, 0) < 0 && errno == EINTR) {
    }
    m_state->pid = -1;
    return EndOf(status);
}

std::optional<ChildEnd> ChildProcess::TryWait() {
    if (m_state->pid <= 0) return std::nullopt;
    int status = 0;
    if (::waitpid(m_state->pid, &status, WNOHANG) != m_state->pid) return std::nullopt;
    m_state->pid = -1;
    return EndOf(status);
}

bool WaitForChildren(std::span<ChildProcess* const> children, InterruptSignals* interrupts,
                     std::int64_t timeoutMs, std::vector<std::size_t>* ready, bool* interrupted) {
    ready->clear();
    *interrupted = false;
    std::vector<pollfd> fds;
    std::vector<std::size_t> owners;
    for (std::size_t i = 0; i < children.size(); ++i) {
        for (const int fd : {children[i]->m_state->out, children[i]->m_state->err}) {
            if (fd < 0) continue;
            fds.push_back({fd, POLLIN, 0});
            owners.push_back(i);
        }
    }
    if (interrupts != nullptr) fds.push_back({interrupts->Pending().fd, POLLIN, 0});

    const Deadline deadline(timeoutMs);
    for (;;) {
        const int n = ::poll(fds.data(), fds.size(), deadline.RemainingPollMs());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        for (std::size_t i = 0; i < owners.size(); ++i)
            if (fds[i].revents != 0 && (ready->empty() || ready->back() != owners[i])) ready->push_back(owners[i]);
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
