#pragma once
// What every download of vornic-flash has in common: the context's channel,
// events and busy flag, and the channel set up for one target as the
// Operation page would set it.

#include <atomic>
#include <cstdint>
#include <string>

#include "download/download_context.h"
#include "tools/flash/flash_options.h"

namespace flash {

class FlashContext : public DownloadContext {
public:
    explicit FlashContext(std::string path) : m_path(std::move(path)) {}

    std::string FirmwarePath() const override { return m_path; }
    CCommChannel& Channel() override { return m_channel; }
    platform::Event& StopEvent() override { return m_stop; }
    platform::Event& IdleEvent() override { return m_idle; }
    std::atomic<std::uint8_t>& BusyFlag() override { return m_busy; }

private:
    std::string m_path;
    CCommChannel m_channel;
    platform::Event m_stop{platform::ResetMode::Auto, false};
    platform::Event m_idle{platform::ResetMode::Manual, true};
    std::atomic<std::uint8_t> m_busy{0};
};

// The page's parameters, with the time-outs the options give in their place.
// A serial target with a device path maps its COM number to that device.
void SetUpTargetChannel(CCommChannel& channel, const FlashTarget& target, const FlashOptions& options);

}  // namespace flash
