#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <numeric>

#include "download/download_frame.h"

namespace {

std::array<std::uint8_t, kImageSize> PatternImage() {
    std::array<std::uint8_t, kImageSize> image{};
    for (std::size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<std::uint8_t>((i * 7 + i / 256) & 0xFF);
    return image;
}

}  // namespace

TEST(FrameLayout, AllFfImageGivesTheDocumentedFirstFrame) {
    std::array<std::uint8_t, kFrameDataSize> data;
    data.fill(0xFF);
    const DownloadFrame frame = BuildFrame(0, data.data());

    const std::uint8_t header[] = {0x5A, 0xA5, 0x88, 0xFF, 0x00, 0x46, 0x00, 0x00};
    EXPECT_TRUE(std::equal(std::begin(header), std::end(header), frame.begin()));
    EXPECT_TRUE(std::all_of(frame.begin() + 8, frame.end(), [](std::uint8_t b) { return b == 0xFF; }));
    EXPECT_EQ(frame.size(), 136u);
}

TEST(FrameLayout, ChecksumIsTheXorOfTheDataBytesOnly) {
    std::array<std::uint8_t, kFrameDataSize> data{};
    data[5] = 0x5A;
    data[100] = 0x0F;
    data[127] = 0x81;
    const DownloadFrame frame = BuildFrame(3, data.data());
    EXPECT_EQ(frame[6], 0x5A ^ 0x0F ^ 0x81);
    EXPECT_EQ(FrameChecksum(data.data()), 0x5A ^ 0x0F ^ 0x81);
    // The header bytes, 0x5A among them, are not in the sum.
    EXPECT_EQ(frame[7], 0x00);
}

TEST(FrameLayout, BlockIndexIsThePositionWithinItsHalf) {
    const std::array<std::uint8_t, kFrameDataSize> data{};
    EXPECT_EQ(BuildFrame(0, data.data())[4], 0);
    EXPECT_EQ(BuildFrame(255, data.data())[4], 255);
    EXPECT_EQ(BuildFrame(256, data.data())[4], 0);
    EXPECT_EQ(BuildFrame(511, data.data())[4], 255);
}

TEST(FrameLayout, Frame256CarriesBlockZeroAndFileBytes32768On) {
    const auto image = PatternImage();
    const DownloadFrame frame = BuildFrame(256, image.data() + 256 * kFrameDataSize);
    EXPECT_EQ(frame[4], 0);
    EXPECT_TRUE(std::equal(frame.begin() + 8, frame.end(), image.begin() + 32768));
    EXPECT_EQ(frame[8 + 127], image[32895]);
    const auto sum = std::accumulate(image.begin() + 32768, image.begin() + 32896, std::uint8_t{0},
                                     [](std::uint8_t a, std::uint8_t b) { return static_cast<std::uint8_t>(a ^ b); });
    EXPECT_EQ(frame[6], sum);
}

TEST(FrameProgressValue, IsTheFrameShareOfFiveHundredTwelveRoundedDown) {
    for (int n = 0; n <= 5; ++n) EXPECT_EQ(FrameProgress(n), 0) << n;
    for (int n = 6; n <= 10; ++n) EXPECT_EQ(FrameProgress(n), 1) << n;
    EXPECT_EQ(FrameProgress(256), 50);
    for (int n = 507; n <= 511; ++n) EXPECT_EQ(FrameProgress(n), 99) << n;
}
