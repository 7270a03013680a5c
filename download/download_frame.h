#pragma once
// The device download protocol: the image goes out as 512 frames of 136
// bytes, each answered by a reply whose first byte must be 0x12.

#include <array>
#include <cstddef>
#include <cstdint>

inline constexpr std::size_t kImageSize = 65536;
inline constexpr std::size_t kFrameDataSize = 128;
inline constexpr std::size_t kFrameSize = 136;
inline constexpr std::size_t kFrameHeaderSize = 8;
inline constexpr int kBlocksPerHalf = 256;
inline constexpr int kHalves = 2;
inline constexpr int kFrameCount = kHalves * kBlocksPerHalf;  // 512
inline constexpr std::size_t kReplySize = 8;
inline constexpr std::int64_t kStopTestMs = 10;

inline constexpr std::uint8_t kFrameMagic0 = 0x5A;
inline constexpr std::uint8_t kFrameMagic1 = 0xA5;
inline constexpr std::uint8_t kFrameLengthByte = 0x88;
inline constexpr std::uint8_t kFrameMagic3 = 0xFF;
inline constexpr std::uint8_t kFrameCommand = 0x46;  // 'F'
inline constexpr std::uint8_t kReplyOk = 0x12;
inline constexpr std::uint8_t kReplyEchoError = 0x02;

// Offsets within a frame.
inline constexpr std::size_t kOffsetBlock = 4;
inline constexpr std::size_t kOffsetCommand = 5;
inline constexpr std::size_t kOffsetChecksum = 6;
inline constexpr std::size_t kOffsetReserved = 7;
inline constexpr std::size_t kOffsetData = 8;

using DownloadFrame = std::array<std::uint8_t, kFrameSize>;

// Exclusive-or of the 128 data bytes; the header is not covered.
std::uint8_t FrameChecksum(const std::uint8_t* data);

// Writes the header of a frame whose data bytes are already in place.
void WriteFrameHeader(DownloadFrame& frame, std::uint8_t block);

// Builds frame `index` (0..511) from its 128 data bytes.
DownloadFrame BuildFrame(int index, const std::uint8_t* data);

// Block index of frame `index`: its position within its half.
inline std::uint8_t FrameBlockIndex(int index) { return static_cast<std::uint8_t>(index % kBlocksPerHalf); }

// What the context shows while frame `index`'s reply is awaited.
inline int FrameProgress(int index) { return index * 100 / kFrameCount; }
