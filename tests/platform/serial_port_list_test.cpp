// The text of udev's encoded properties; the port list itself runs against
// umockdev test beds in serial_ports_tests.

#include <gtest/gtest.h>

#include "platform/serial_port_list.h"

TEST(DeviceText, EscapedBytesBecomeTheirCharactersAndBrokenEscapesStay) {
    const std::pair<const char*, const char*> rows[] = {
        {"FT232R\\x20USB\\x20UART", "FT232R USB UART"},
        {"Acme\\x2fBench", "Acme/Bench"},
        {"plain", "plain"},
        {"", ""},
        {"end\\x2", "end\\x2"},
        {"not\\xZZhex", "not\\xZZhex"},
        {"\\x41\\x42", "AB"},
    };
    for (const auto& [encoded, text] : rows) EXPECT_EQ(platform::DecodeDeviceText(encoded), text) << encoded;
}
