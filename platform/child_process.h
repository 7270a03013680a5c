#pragma once
// Programs started as children, each with its standard output on a pipe that
// the parent reads: how vornic-flash runs one download per process. The
// interface names no descriptor, so that another system's file can offer the
// same.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/interrupt_signals.h"

namespace platform {

// How a child ended: with an exit code, or by a signal.
struct ChildEnd {
    bool exited = false;
    int code = 0;
    int signal = 0;
};

class ChildProcess {
public:
    ChildProcess() = default;
    // A child still running is killed and reaped: none is left behind.
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts argv[0] with the arguments argv. Its standard input is the null
    // device, its standard error is ours. It runs in a process group of its
    // own, so that a terminal's Ctrl-C reaches only the parent, which passes
    // it on; SIGINT and SIGTERM stay blocked in it as they are here, so that
    // one sent before it is ready waits for it. False with the system's text.
    bool Start(const std::vector<std::string>& argv, std::string* error);

    int Id() const { return m_pid; }
    bool HasOutput() const { return m_out >= 0; }

    // Appends what the child has written; false once its output has ended.
    bool ReadOutput(std::string* into);

    void Interrupt();  // SIGINT
    void Kill();       // SIGKILL

    // Waits for the end of a child whose output has ended, and reaps it.
    ChildEnd Wait();

private:
    friend bool WaitForChildren(std::span<ChildProcess* const>, InterruptSignals*, std::int64_t,
                                std::vector<std::size_t>*, bool*);
    void CloseOutput();

    int m_pid = -1;
    int m_out = -1;
};

// Waits until children have output (or have ended it) or an interrupt request
// is pending (not taken), for at most timeoutMs (kInfinite: no limit). The
// ready children's indices go to *ready. False when the wait itself failed.
bool WaitForChildren(std::span<ChildProcess* const> children, InterruptSignals* interrupts,
                     std::int64_t timeoutMs, std::vector<std::size_t>* ready, bool* interrupted);

// The child's side: an interrupt arrives when the parent `parentId` ends, so
// that a parent killed outright leaves no download running unwatched, and a
// write to a closed output fails instead of ending the process. False when
// that parent is already gone.
bool FollowParent(int parentId);

// This process's id, to hand to a child.
int ProcessId();

}  // namespace platform
