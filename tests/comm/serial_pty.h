#pragma once
// A pseudo-terminal pair for the serial tests: the port opens the slave side
// through a COM number mapped to it, the test plays the device on the master
// side. The pair keeps a slave descriptor of its own, so that the line stays
// up between two opens of the port and its settings can be read back.
//
// On Linux the test makes the pair itself. A Windows build runs under Wine,
// where no Windows call makes one: a Linux-side broker (wine_serial_broker.py,
// named by VORNIC_SERIAL_BROKER) makes it, links it into the Wine prefix as a
// COM port and plays the master side through a loopback connection. The
// controller simulator reaches the Windows tests the same way.

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "support/open_handles.h"

namespace serial_test {

// The line as the port left it.
struct LineSettings {
    std::uint32_t baud = 0;
    int dataBits = 0;
    char parity = '?';  // N, E, O
    int stopBits = 0;   // 1 or 2
    bool raw = false;   // no byte is changed, dropped or echoed on the way
    bool rtsCtsFlow = false;
};

class PtyPair {
public:
    // `comNumber` 0: any free number; a Windows run may ask for one.
    explicit PtyPair(std::uint16_t comNumber = 0);
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool IsValid() const;
    // What the port opens: /dev/pts/N, or \\.\COMn under Wine.
    const std::string& SlavePath() const;

    // Makes COM `port` open this pair's slave side.
    void MapTo(std::uint16_t port) const;

    // The device hangs up: the port's side sees a hang-up from now on.
    void CloseMaster();

    bool Send(const std::vector<std::uint8_t>& bytes) const;
    // What the port sent: up to `count` bytes, waiting at most `timeoutMs`.
    std::vector<std::uint8_t> Receive(std::size_t count, int timeoutMs) const;

    LineSettings Settings() const;

    // The system's text for the failure a write meets on a line whose other
    // side has hung up.
    static std::string HangUpText();

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

// The controller simulator serving one serial session on a new line.
class SerialSimulator {
public:
    struct Outcome {
        int frames = 0;
        int bad = 0;
        bool complete = false;
        std::vector<std::uint8_t> image;  // the last whole image, empty when none
    };

    explicit SerialSimulator(std::vector<std::string> args);
    ~SerialSimulator();
    SerialSimulator(const SerialSimulator&) = delete;
    SerialSimulator& operator=(const SerialSimulator&) = delete;

    // False, with the reason in Problem(), when it could not start; a Windows
    // run without the broker or the simulator is such a case.
    bool IsRunning() const;
    const std::string& Problem() const;
    void MapTo(std::uint16_t port) const;
    // The outcome once the tool has let go of the line.
    Outcome OutcomeAfterOneSession() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

// Some cases meet what Wine doesn't do and are skipped there by name.
using support::RunningUnderWine;

inline std::int64_t MsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start)
        .count();
}

}  // namespace serial_test
