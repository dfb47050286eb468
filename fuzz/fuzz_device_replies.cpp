// The sensor's replies on arbitrary bytes: acknowledgement value, log header
// and version search, version reply, and the typed address.
#include <QByteArray>
#include <QString>
#include <cstdint>
#include <cstdlib>

#include "device/replies.h"

namespace
{

bool is_version_text(const QByteArray &v)
{
    return v.size() == 6 && v[0] >= 'a' && v[0] <= 'z' && v[1] >= '0' && v[1] <= '9' &&
           v[2] == '.' && v[3] >= '0' && v[3] <= '9' && v[4] == '.' && v[5] >= '0' && v[5] <= '9';
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), int(size));

    ack_value(bytes);
    is_complete_version_reply(bytes);
    if (bytes.size() >= 4)
        log_length(bytes.left(4));

    const QByteArray version = find_lidar_version(bytes).toLatin1();
    if (!version.isEmpty()) {
        // The latest match, never the one at byte 0.
        const int at = bytes.lastIndexOf(version);
        if (!is_version_text(version) || at < 1)
            std::abort();
        for (int start = at + 1; start + 6 <= bytes.size(); ++start)
            if (is_version_text(bytes.mid(start, 6)))
                std::abort();
    }

    const QString address = QString::fromUtf8(bytes);
    if (is_valid_ipv4_text(address) && address.count('.') != 3)
        std::abort();
    return 0;
}
