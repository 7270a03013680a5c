#include "download/download_thread.h"

#include <cstdio>

#include "comm/my_exception.h"
#include "download/download_frame.h"
#include "platform/file_error.h"
#include "platform/read_only_file.h"
#include "platform/thread.h"

namespace {

// The text of a reply whose first byte is neither 0x12 nor 0x02. The byte is
// inserted raw, so a zero byte ends the text right there.
std::string EchoText(std::uint8_t byte) {
    char text[64];
    std::snprintf(text, sizeof text, download_text::kEchoFormat, static_cast<char>(byte));
    return std::string(text);
}

void SendImage(DownloadContext& context, CCommChannel& channel, platform::ReadOnlyFile& file) {
    if (!channel.Open()) throw CMyException(download_text::kCommInitError);

    const std::string path = context.FirmwarePath();
    platform::FileErrorCause cause = platform::FileErrorCause::None;
    if (!file.Open(path, &cause)) throw CMyException(platform::FileErrorText(cause, path));
    if (file.Length() < kImageSize) throw CMyException(download_text::kFileTooShort);

    for (int n = 0; n < kFrameCount; ++n) {
        DownloadFrame frame{};
        // Bytes from before and after a rewrite would make an image nobody built.
        if (file.Read(frame.data() + kOffsetData, kFrameDataSize) < kFrameDataSize ||
            file.ChangedSinceOpen())
            throw CMyException(download_text::kReadError);
        WriteFrameHeader(frame, FrameBlockIndex(n));

        if (!channel.Send(frame.data(), static_cast<std::int32_t>(kFrameSize)))
            throw CMyException(download_text::kSendOrStop);
        if (context.StopEvent().Wait(kStopTestMs)) throw CMyException(download_text::kSendOrStop);

        context.SetProgress(FrameProgress(n));

        std::uint8_t reply[kReplySize] = {};
        if (channel.Receive(reply, static_cast<std::int16_t>(kReplySize)) == 0)
            throw CMyException(download_text::kNothingRead);
        if (reply[0] != kReplyOk) {
            if (reply[0] == kReplyEchoError) throw CMyException(download_text::kEchoError);
            throw CMyException(EchoText(reply[0]));
        }
    }
    context.SetProgress(100);
    channel.Close();
    context.ShowMessage(download_text::kSuccess, MessageStyle::Information);
}

}  // namespace

unsigned DownloadThread(DownloadContext* context) {
    context->BusyFlag().store(1);
    context->IdleEvent().Reset();
    context->OnDownloadStarted();

    CCommChannel& channel = context->Channel();
    platform::ReadOnlyFile file;
    try {
        SendImage(*context, channel, file);
    } catch (const CMyException& e) {
        channel.Close();
        if (!e.Message().empty()) context->ShowMessage(e.Message(), MessageStyle::Warning);
    } catch (...) {
        channel.Close();
        context->ShowMessage(download_text::kUnexpected, MessageStyle::Warning);
    }

    context->OnDownloadEnded();
    file.Close();
    context->SetProgress(0);
    context->BusyFlag().store(0);
    // The last touch of the context: once idle, the owner may destroy it.
    context->IdleEvent().Set();
    return 0;
}

bool StartDownloadThread(DownloadContext* context) {
    context->StopEvent().Reset();
    context->BusyFlag().store(1);
    context->IdleEvent().Reset();
    if (platform::StartDetachedThread([context] { DownloadThread(context); })) return true;
    context->BusyFlag().store(0);
    context->IdleEvent().Set();
    return false;
}
