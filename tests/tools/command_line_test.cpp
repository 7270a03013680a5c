#include <gtest/gtest.h>

#include "tools/command_line.h"

TEST(DottedQuad, OnlyFourWholeDecimalPartsOfAByteAreAnAddress) {
    for (const auto& [text, address] : std::vector<std::pair<std::string, std::optional<std::uint32_t>>>{
             {"127.0.0.1", 0x7f000001u},
             {"0.0.0.0", 0u},
             {"255.255.255.255", 0xffffffffu},
             {"127.000.0.010", 0x7f00000au},
             {"127.1", std::nullopt},
             {"127.0.0.1.", std::nullopt},
             {".127.0.0.1", std::nullopt},
             {"127..0.1", std::nullopt},
             {"127.0.0.256", std::nullopt},
             {"0127.0.0.1", std::nullopt},
             {"127.0.0.-1", std::nullopt},
             {"127.0.0.+1", std::nullopt},
             {" 127.0.0.1", std::nullopt},
             {"127.0.0.1 ", std::nullopt},
             {"127.0.0.0x1", std::nullopt},
             {"localhost", std::nullopt},
             {"", std::nullopt}}) {
        EXPECT_EQ(tools::ParseDottedQuad(text), address) << "'" << text << "'";
    }
}

TEST(ParseNumber, WholeUnsignedTextWithinTheRange) {
    EXPECT_EQ(tools::ParseNumber<int>("0", 0, 10), 0);
    EXPECT_EQ(tools::ParseNumber<int>("10", 0, 10), 10);
    EXPECT_EQ(tools::ParseNumber<std::uint16_t>("ffff", 0, 65535, 16), 65535);
    EXPECT_EQ(tools::ParseNumber<int>("11", 0, 10), std::nullopt);
    EXPECT_EQ(tools::ParseNumber<int>("4", 5, 10), std::nullopt);
    EXPECT_EQ(tools::ParseNumber<int>("-0", 0, 10), std::nullopt);
    EXPECT_EQ(tools::ParseNumber<int>("5ms", 0, 10), std::nullopt);
    EXPECT_EQ(tools::ParseNumber<std::uint32_t>("18446744073709551616", 0, 4294967295u), std::nullopt);
}
