#pragma once
// Programs started as children, each with its standard output on a pipe that
// the parent reads: how vornic-flash runs one download per process. The
// interface names no descriptor, so that another system's file can offer the
// same.

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/interrupt_signals.h"

namespace platform {

// How a child ended: with an exit code, or by a signal (POSIX only; a
// Windows process always ends with an exit code).
struct ChildEnd {
    bool exited = false;
    int code = 0;
    int signal = 0;
};

// How a child is started beyond its arguments; the defaults are those of
// vornic-flash's own children.
struct ChildOptions {
    // NAME=value entries that replace or add to this process's environment.
    std::vector<std::string> environment;
    // Standard error on a pipe of its own (ReadErrors) rather than ours.
    bool errorsOnPipe = false;
    // When set, both outputs go to this file instead, created or emptied.
    std::string outputFile;
};

class ChildProcess {
public:
    ChildProcess();
    // A child still running is killed and reaped: none is left behind.
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts argv[0] with the arguments argv. Its standard input is the null
    // device, its standard error is ours. It runs in a process group of its
    // own, so that a Ctrl-C at the terminal or console reaches only the
    // parent, which passes it on (Interrupt); one passed on before the child
    // is ready waits for it. False with the system's text.
    bool Start(const std::vector<std::string>& argv, std::string* error, const ChildOptions& options = {});

    int Id() const;
    bool HasOutput() const;
    bool HasErrors() const;

    // Appends what the child has written, without waiting for more; false
    // once its output has ended.
    bool ReadOutput(std::string* into);
    // The same for standard error on a pipe of its own.
    bool ReadErrors(std::string* into);

    // A Break request the child takes as data (InterruptSignals), as a
    // Ctrl-C at its terminal or console.
    void Interrupt();
    // A request to end the program (SIGTERM); Windows has no second kind,
    // so there it is the same request as Interrupt.
    void Terminate();
    // Ends the child at once.
    void Kill();

    // Waits for the end of a child whose output has ended, and reaps it.
    ChildEnd Wait();
    // Reaps the child if it has ended; nothing while it runs.
    std::optional<ChildEnd> TryWait();

    // What each OS keeps of a child; its file defines it.
    struct State;

private:
    friend bool WaitForChildren(std::span<ChildProcess* const>, InterruptSignals*, std::int64_t,
                                std::vector<std::size_t>*, bool*);
    std::unique_ptr<State> m_state;
};

// Waits until children have output or errors (or have ended them) or an
// interrupt request is pending (not taken), for at most timeoutMs
// (kInfinite: no limit); `interrupts` may be null. The ready children's
// indices go to *ready. False when the wait itself failed.
bool WaitForChildren(std::span<ChildProcess* const> children, InterruptSignals* interrupts,
                     std::int64_t timeoutMs, std::vector<std::size_t>* ready, bool* interrupted);

// The child's side: an interrupt arrives when the parent `parentId` ends, so
// that a parent killed outright leaves no download running unwatched, and
// the parent's Interrupt arrives as a request too; a write to a closed
// output fails instead of ending the process. False when that parent is
// already gone.
bool FollowParent(int parentId);

// This process's id, to hand to a child.
int ProcessId();

}  // namespace platform
