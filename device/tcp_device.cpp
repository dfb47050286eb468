#include "device/tcp_device.h"

QByteArray tcp_device::send_cmd_version() { return {}; }
int tcp_device::send_cmd_getChipInfo() { return 2; }
int tcp_device::send_cmd_readlog() { return 2; }
int tcp_device::send_cmd_reset() { return 2; }
int tcp_device::send_cmd_shutdown() { return 2; }

int tcp_device::send_cmd_download(const QString &file_name, int format, int data_size)
{
    Q_UNUSED(file_name);
    Q_UNUSED(format);
    Q_UNUSED(data_size);
    return 2;
}

int tcp_device::recv_ack(int expected_size, int expected_value)
{
    Q_UNUSED(expected_size);
    Q_UNUSED(expected_value);
    return 2;
}

int tcp_device::recv_data(int expected_size, QByteArray &data)
{
    Q_UNUSED(expected_size);
    Q_UNUSED(data);
    return 2;
}
