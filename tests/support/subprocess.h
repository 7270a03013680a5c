#pragma once
// A child program, for the tests of the programs and for tests that need a
// process of their own. Its standard output and error come back on pipes,
// or go to one file; a child still running at the end is killed.

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "platform/child_process.h"

namespace support {

struct SpawnOptions {
    // NAME=value entries that replace or add to this process's environment.
    std::vector<std::string> environment;
    // When set, both outputs go to this file instead of the pipes.
    std::string outputFile;
};

class Subprocess {
public:
    // argv[0] is the program's path; it is not looked up in PATH.
    explicit Subprocess(const std::vector<std::string>& argv, const SpawnOptions& options = {});
    ~Subprocess() = default;
    Subprocess(const Subprocess&) = delete;
    Subprocess& operator=(const Subprocess&) = delete;

    bool Started() const { return m_started; }
    int Id() const { return m_id; }
    // A Ctrl-C (SIGINT), a request to end (SIGTERM), or the end at once.
    void Interrupt();
    void Terminate();
    void Kill();

    // The next line of standard output, without its line end.
    std::optional<std::string> ReadLine(int timeoutMs);

    // Waits for the end: the exit status, or nullopt when the time ran out
    // (the child is killed then), it was killed (Kill), or it died of a
    // signal.
    std::optional<int> Wait(int timeoutMs);
    // How the child ended, once it has; nullopt while it runs. For children
    // whose output goes to a file.
    std::optional<platform::ChildEnd> PollStatus();

    const std::string& Stdout() const { return m_stdout; }
    const std::string& Stderr() const { return m_stderr; }

private:
    bool Running() const { return m_started && !m_end; }
    bool Pump(std::chrono::steady_clock::time_point end);

    platform::ChildProcess m_child;
    bool m_started = false;
    bool m_killed = false;
    int m_id = -1;
    std::optional<platform::ChildEnd> m_end;
    std::string m_stdout;
    std::string m_stderr;
    std::size_t m_consumed = 0;
};

}  // namespace support
