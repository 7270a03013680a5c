#include "support/subprocess.h"

namespace support {

namespace {
// A Windows program's C runtime ends its lines in CR LF; the tests compare
// texts with LF alone. A CR that ends what came so far stays until its LF
// comes.
void UnixLineEnds(std::string* text) {
    for (std::size_t at = 0; (at = text->find("\r\n", at)) != std::string::npos;) text->erase(at, 1);
}
}  // namespace

Subprocess::Subprocess(const std::vector<std::string>& argv, const SpawnOptions& options) {
    platform::ChildOptions childOptions;
    childOptions.environment = options.environment;
    childOptions.outputFile = options.outputFile;
    childOptions.errorsOnPipe = true;
    std::string error;
    m_started = m_child.Start(argv, &error, childOptions);
    if (m_started) m_id = m_child.Id();
}

void Subprocess::Interrupt() {
    if (Running()) m_child.Interrupt();
}

void Subprocess::Terminate() {
    if (Running()) m_child.Terminate();
}

void Subprocess::Kill() {
    if (!Running()) return;
    m_child.Kill();
    // A killed Windows process ends with an exit code, not a signal.
    m_killed = true;
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
    if (!m_started) return std::nullopt;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    bool killed = false;
    while (m_child.HasOutput() || m_child.HasErrors()) {
        if (!Pump(end)) {
            if (m_child.HasOutput() || m_child.HasErrors()) {
                Kill();
                killed = true;
            }
            break;
        }
    }
    if (!m_end) m_end = m_child.Wait();
    if (killed || m_killed || !m_end->exited) return std::nullopt;
    return m_end->code;
}

std::optional<platform::ChildEnd> Subprocess::PollStatus() {
    if (!m_started) return std::nullopt;
    if (!m_end) m_end = m_child.TryWait();
    return m_end;
}

// Reads what either pipe has; false at the deadline or when both closed.
bool Subprocess::Pump(std::chrono::steady_clock::time_point end) {
    if (!m_child.HasOutput() && !m_child.HasErrors()) return false;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    platform::ChildProcess* const children[] = {&m_child};
    std::vector<std::size_t> ready;
    bool interrupted = false;
    if (!platform::WaitForChildren(children, nullptr, left.count(), &ready, &interrupted)) return false;
    if (ready.empty()) return false;
    m_child.ReadOutput(&m_stdout);
    m_child.ReadErrors(&m_stderr);
    UnixLineEnds(&m_stdout);
    UnixLineEnds(&m_stderr);
    return true;
}

}  // namespace support
