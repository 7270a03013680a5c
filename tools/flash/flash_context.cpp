#include "tools/flash/flash_context.h"

#include "comm/com_port_numbering.h"
#include "download/download_link.h"
#include "platform/com_port_paths.h"
#include "settings/comm_settings.h"

namespace flash {

void SetUpTargetChannel(CCommChannel& channel, const FlashTarget& target, const FlashOptions& options) {
    DownloadLink link;
    link.way = target.tcp ? kWayTcp : kWaySerial;
    link.address = target.address;
    link.port = target.port;
    link.com = target.port;
    if (options.connectTimeoutMs) link.connectTimeoutMs = *options.connectTimeoutMs;
    if (options.receiveTimeoutMs) link.tcpReceiveTimeoutMs = link.serialReadTimeoutMs = *options.receiveTimeoutMs;
    if (!target.tcp) {
        // COMn means what it means in the window: its [Ports] lines, then the
        // ports present now.
        LoadComPortOverrides(ConfigFilePath());
        RefreshComPorts();
        if (!target.devicePath.empty()) platform::SetComPortPath(target.port, target.devicePath);
    }
    SetUpDownloadChannel(channel, link);
}

}  // namespace flash
