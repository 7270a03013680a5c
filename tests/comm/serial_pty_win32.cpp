// The pseudo-terminal pair and the simulator of the serial tests in a Windows
// build under Wine: the Linux-side broker named by VORNIC_SERIAL_BROKER
// ("127.0.0.1:PORT") makes the line, links it into the prefix as COMn and
// plays its master side through one loopback connection per pair.

#include "serial_pty.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <sstream>

#include "platform/com_port_paths.h"
#include "platform/system_error.h"

namespace serial_test {

namespace {

class Connection {
public:
    Connection() = default;
    ~Connection() { Close(); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Connects to the broker; the reason in *problem when it can't.
    bool Open(std::string* problem) {
        static const bool started = [] {
            WSADATA data;
            return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
        }();
        const char* address = std::getenv("VORNIC_SERIAL_BROKER");
        if (!started || address == nullptr) {
            *problem = "VORNIC_SERIAL_BROKER is not set: the serial lines under Wine come from the broker";
            return false;
        }
        const std::string text = address;
        const std::size_t colon = text.rfind(':');
        sockaddr_in peer{};
        peer.sin_family = AF_INET;
        peer.sin_port = ::htons(static_cast<u_short>(std::atoi(text.substr(colon + 1).c_str())));
        if (colon == std::string::npos ||
            ::inet_pton(AF_INET, text.substr(0, colon).c_str(), &peer.sin_addr) != 1) {
            *problem = "VORNIC_SERIAL_BROKER is no address: " + text;
            return false;
        }
        m_socket = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        // Small, like the broker's side: a device that doesn't read holds
        // the port's writes up soon.
        const int buffer = 4096;
        if (m_socket != INVALID_SOCKET)
            ::setsockopt(m_socket, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&buffer), sizeof buffer);
        if (m_socket == INVALID_SOCKET ||
            ::connect(m_socket, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) != 0) {
            *problem = "the broker at " + text + " does not answer";
            Close();
            return false;
        }
        const BOOL noDelay = TRUE;
        ::setsockopt(m_socket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay), sizeof noDelay);
        return true;
    }

    void Close() {
        if (m_socket != INVALID_SOCKET) ::closesocket(m_socket);
        m_socket = INVALID_SOCKET;
    }
    bool IsOpen() const { return m_socket != INVALID_SOCKET; }

    bool SendAll(const void* data, std::size_t size) const {
        const char* bytes = static_cast<const char*>(data);
        while (size > 0) {
            const int n = ::send(m_socket, bytes, static_cast<int>(std::min<std::size_t>(size, 65536)), 0);
            if (n <= 0) return false;
            bytes += n;
            size -= static_cast<std::size_t>(n);
        }
        return true;
    }
    bool SendLine(const std::string& line) const { return SendAll((line + "\n").data(), line.size() + 1); }

    // Up to `size` bytes within `timeoutMs` (-1: no limit); 0 at the end or
    // when the time is up.
    int ReceiveSome(void* data, std::size_t size, int timeoutMs) const {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(m_socket, &readable);
        timeval limit{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
        if (::select(0, &readable, nullptr, nullptr, timeoutMs < 0 ? nullptr : &limit) != 1) return 0;
        return std::max(::recv(m_socket, static_cast<char*>(data), static_cast<int>(size), 0), 0);
    }

    std::string ReceiveLine(int timeoutMs) const {
        std::string line;
        char c = 0;
        while (ReceiveSome(&c, 1, timeoutMs) == 1 && c != '\n') line.push_back(c);
        return line;
    }

private:
    SOCKET m_socket = INVALID_SOCKET;
};

constexpr int kBrokerAnswerMs = 10000;

// "COMn" from the broker, or empty.
std::string ComPathFrom(const std::string& answer) {
    if (answer.rfind("COM", 0) != 0) return {};
    return "\\\\.\\" + answer;
}

}  // namespace

struct PtyPair::Impl {
    Connection device;
    std::string slavePath;
    std::string comName;
    std::uint64_t sent = 0;  // bytes handed to the broker for the line

    // How many bytes the broker has written to the line's terminal; -1 when
    // it can't tell.
    std::int64_t Written() const {
        Connection ask;
        std::string problem;
        if (!ask.Open(&problem) || !ask.SendLine("WRITTEN " + comName)) return -1;
        const std::string answer = ask.ReceiveLine(kBrokerAnswerMs);  // "written N"
        if (answer.rfind("written ", 0) != 0) return -1;
        return std::atoll(answer.c_str() + 8);
    }
};

PtyPair::PtyPair(std::uint16_t comNumber) : m_impl(std::make_unique<Impl>()) {
    std::string problem;
    if (!m_impl->device.Open(&problem)) return;
    m_impl->device.SendLine(comNumber == 0 ? "PTY" : "PTY " + std::to_string(comNumber));
    m_impl->comName = m_impl->device.ReceiveLine(kBrokerAnswerMs);
    m_impl->slavePath = ComPathFrom(m_impl->comName);
    if (m_impl->slavePath.empty()) m_impl->device.Close();
}

PtyPair::~PtyPair() = default;

bool PtyPair::IsValid() const { return !m_impl->slavePath.empty(); }
const std::string& PtyPair::SlavePath() const { return m_impl->slavePath; }
void PtyPair::MapTo(std::uint16_t port) const { platform::SetComPortPath(port, m_impl->slavePath); }
void PtyPair::CloseMaster() { m_impl->device.Close(); }

// Returns once the bytes are on the line, as a write to the master does on
// Linux: the broker's relay may be slow to run on a busy machine, and a read
// with a 40 ms time-out must find them there.
bool PtyPair::Send(const std::vector<std::uint8_t>& bytes) const {
    if (!m_impl->device.IsOpen() || !m_impl->device.SendAll(bytes.data(), bytes.size())) return false;
    m_impl->sent += bytes.size();
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kBrokerAnswerMs);
    for (;;) {
        const std::int64_t written = m_impl->Written();
        if (written < 0) return false;
        if (static_cast<std::uint64_t>(written) >= m_impl->sent) return true;
        if (std::chrono::steady_clock::now() > end) return false;
        ::Sleep(1);
    }
}

std::vector<std::uint8_t> PtyPair::Receive(std::size_t count, int timeoutMs) const {
    std::vector<std::uint8_t> bytes;
    if (!m_impl->device.IsOpen()) return bytes;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (bytes.size() < count) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        std::uint8_t chunk[4096];
        const int n = m_impl->device.ReceiveSome(chunk, std::min(sizeof chunk, count - bytes.size()),
                                                 static_cast<int>(left.count()));
        if (n <= 0) break;
        bytes.insert(bytes.end(), chunk, chunk + n);
    }
    return bytes;
}

// Wine reports a pseudo-terminal whose other side has gone as a device that
// is not ready.
std::string PtyPair::HangUpText() { return platform::SystemErrorText(ERROR_NOT_READY); }

LineSettings PtyPair::Settings() const {
    LineSettings s;
    Connection ask;
    std::string problem;
    if (!ask.Open(&problem) || !ask.SendLine("SETTINGS " + m_impl->comName)) return s;
    // "baud=19200 data=8 parity=N stop=1 raw=1 rtscts=0"
    std::istringstream words(ask.ReceiveLine(kBrokerAnswerMs));
    std::string word;
    while (words >> word) {
        const std::size_t eq = word.find('=');
        if (eq == std::string::npos || eq + 1 >= word.size()) continue;
        const std::string key = word.substr(0, eq);
        const std::string value = word.substr(eq + 1);
        if (key == "baud") s.baud = static_cast<std::uint32_t>(std::stoul(value));
        if (key == "data") s.dataBits = std::stoi(value);
        if (key == "parity") s.parity = value[0];
        if (key == "stop") s.stopBits = std::stoi(value);
        if (key == "raw") s.raw = value == "1";
        if (key == "rtscts") s.rtsCtsFlow = value == "1";
    }
    return s;
}

struct SerialSimulator::Impl {
    Connection control;
    std::string comPath;
    std::string problem;
};

SerialSimulator::SerialSimulator(std::vector<std::string> args) : m_impl(std::make_unique<Impl>()) {
    if (!m_impl->control.Open(&m_impl->problem)) return;
    std::string line = "SIM";
    for (const std::string& arg : args) line += " " + arg;
    m_impl->control.SendLine(line);
    const std::string answer = m_impl->control.ReceiveLine(kBrokerAnswerMs);
    m_impl->comPath = ComPathFrom(answer);
    if (m_impl->comPath.empty()) {
        m_impl->problem = "the broker could not start the simulator: " + answer;
        m_impl->control.Close();
    }
}

SerialSimulator::~SerialSimulator() { platform::ClearComPortPaths(); }

bool SerialSimulator::IsRunning() const { return !m_impl->comPath.empty(); }
const std::string& SerialSimulator::Problem() const { return m_impl->problem; }
void SerialSimulator::MapTo(std::uint16_t port) const { platform::SetComPortPath(port, m_impl->comPath); }

SerialSimulator::Outcome SerialSimulator::OutcomeAfterOneSession() const {
    Outcome outcome;
    if (!IsRunning()) return outcome;
    // "summary: frames=F bad=B images=I complete=yes|no sessions=S"
    std::istringstream words(m_impl->control.ReceiveLine(kBrokerAnswerMs));
    std::string word;
    while (words >> word) {
        if (word.rfind("frames=", 0) == 0) outcome.frames = std::stoi(word.substr(7));
        if (word.rfind("bad=", 0) == 0) outcome.bad = std::stoi(word.substr(4));
        if (word == "complete=yes") outcome.complete = true;
    }
    const std::string image = m_impl->control.ReceiveLine(kBrokerAnswerMs);
    const std::size_t length = image.rfind("image ", 0) == 0 ? std::stoul(image.substr(6)) : 0;
    outcome.image.resize(length);
    std::size_t got = 0;
    while (got < length) {
        const int n = m_impl->control.ReceiveSome(outcome.image.data() + got, length - got, kBrokerAnswerMs);
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
    }
    outcome.image.resize(got);
    return outcome;
}

}  // namespace serial_test
