#pragma once
// A child program, for the tests of the programs and for tests that need a
// process of their own. Its standard output and error come back on pipes,
// or go to one file; a child still running at the end is killed.

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

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
    ~Subprocess();
    Subprocess(const Subprocess&) = delete;
    Subprocess& operator=(const Subprocess&) = delete;

    bool Started() const { return m_pid > 0; }
    pid_t Id() const { return m_pid; }
    void Signal(int signal);

    // The next line of standard output, without its line end.
    std::optional<std::string> ReadLine(int timeoutMs);

    // Waits for the end: the exit status, or nullopt when the time ran out
    // (the child is killed then) or it died of a signal.
    std::optional<int> Wait(int timeoutMs);
    // The raw wait status once the child has ended; nullopt while it runs.
    // For children whose output goes to a file.
    std::optional<int> PollStatus();

    const std::string& Stdout() const { return m_stdout; }
    const std::string& Stderr() const { return m_stderr; }

private:
    bool Pump(std::chrono::steady_clock::time_point end);

    pid_t m_pid = -1;
    bool m_exited = false;
    int m_status = 0;  // as waitpid gave it, once m_exited
    int m_out = -1;
    int m_err = -1;
    std::string m_stdout;
    std::string m_stderr;
    std::size_t m_consumed = 0;
};

}  // namespace support
