#include "download/download_frame.h"

#include <algorithm>

std::uint8_t FrameChecksum(const std::uint8_t* data) {
    std::uint8_t sum = 0;
    for (std::size_t i = 0; i < kFrameDataSize; ++i) sum ^= data[i];
    return sum;
}

void WriteFrameHeader(DownloadFrame& frame, std::uint8_t block) {
    frame[0] = kFrameMagic0;
    frame[1] = kFrameMagic1;
    frame[2] = kFrameLengthByte;
    frame[3] = kFrameMagic3;
    frame[kOffsetBlock] = block;
    frame[kOffsetCommand] = kFrameCommand;
    frame[kOffsetChecksum] = FrameChecksum(frame.data() + kOffsetData);
    frame[kOffsetReserved] = 0x00;
}

DownloadFrame BuildFrame(int index, const std::uint8_t* data) {
    DownloadFrame frame{};
    std::copy_n(data, kFrameDataSize, frame.begin() + kOffsetData);
    WriteFrameHeader(frame, FrameBlockIndex(index));
    return frame;
}
