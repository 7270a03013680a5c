#pragma once
// The fixture of the serial tests: a pseudo-terminal mapped to a COM number,
// and for most tests a port open on it. Whatever a test mapped or injected
// is cleared after it.

#include <gtest/gtest.h>

#include <cstdint>

#include "comm/serial_port.h"
#include "platform/com_port_paths.h"
#include "platform/serial_device.h"
#include "serial_pty.h"

namespace serial_test {

template <std::uint16_t Com>
class LineTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_pty.IsValid());
        m_pty.MapTo(Com);
    }
    void TearDown() override {
        platform::ClearComPortPaths();
        platform::ClearSerialFaults();
    }

    PtyPair m_pty;
};

// The port open the way the channel opens it: 19200 baud, N, 8, 1.
template <std::uint16_t Com>
class OpenPortTest : public LineTest<Com> {
protected:
    void SetUp() override {
        LineTest<Com>::SetUp();
        if (::testing::Test::HasFatalFailure()) return;
        ASSERT_TRUE(m_port.Open(Com, 19200, 'N', 8, 1.0f)) << m_port.LastErrorText;
    }

    CSerialPort m_port;
};

}  // namespace serial_test
