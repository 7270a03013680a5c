#pragma once
// What the download worker needs from its owner. The Operation page is the
// context in the finished tool; tests and the headless command bring their own.

#include <atomic>
#include <cstdint>
#include <string>

#include "comm/comm_channel.h"
#include "platform/event.h"

enum class MessageStyle { Information, Warning };

class DownloadContext {
public:
    virtual ~DownloadContext() = default;

    // The image file's path as the user gave it.
    virtual std::string FirmwarePath() const = 0;
    // Way selected and parameters set; not open.
    virtual CCommChannel& Channel() = 0;
    // Auto-reset: set by others to ask the running download to stop.
    virtual platform::Event& StopEvent() = 0;
    // Manual-reset: signalled whenever no download runs.
    virtual platform::Event& IdleEvent() = 0;
    // 1 from the worker's first step until its end sequence.
    virtual std::atomic<std::uint8_t>& BusyFlag() = 0;

    virtual void SetProgress(int percent) = 0;
    virtual void OnDownloadStarted() = 0;
    virtual void OnDownloadEnded() = 0;
    // Modal: returns when the user has dismissed the notice.
    virtual void ShowMessage(const std::string& text, MessageStyle style) = 0;
};
