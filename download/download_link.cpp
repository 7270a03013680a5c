#include "download/download_link.h"

#include "platform/tcp_socket.h"

void SetUpDownloadChannel(CCommChannel& channel, const DownloadLink& link) {
    if (link.way == kWaySerial) {
        channel.SetSerialParams(link.com, kSerialBaud, link.serialReadTimeoutMs);
    } else {
        channel.SetTcpParams(platform::HostToNetwork32(link.address), link.port, link.connectTimeoutMs,
                             link.tcpReceiveTimeoutMs);
    }
    channel.SetWay(static_cast<std::int16_t>(link.way));
}
