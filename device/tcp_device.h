#ifndef TCP_DEVICE_H
#define TCP_DEVICE_H

#include <QByteArray>
#include <QString>
#include <QTcpSocket>

#include "device/stop_token.h"

// Every command travels in a frame of this many bytes; a longer text goes unpadded and uncut.
const int command_frame_size = 50;

// The bytes of the "download" command's text for these arguments: the word, then the file name,
// the format and the length, each after a blank.
int download_text_size(const QString &file_name, int format, int data_size);

// The link to the sensor: 50-byte command frames and the checks of its short
// replies. Results: 0 done, 1 failed, 2 not connected. A reply check that fails or gives up
// aborts the link, so that no late byte of that reply is read as the answer to a later command.
class tcp_device : public QTcpSocket
{
public:
    tcp_device() = default;
    ~tcp_device() override = default;

    QByteArray send_cmd_version();
    int send_cmd_getChipInfo();
    int send_cmd_readlog();
    int send_cmd_reset();
    int send_cmd_shutdown();
    int send_cmd_download(const QString &file_name, int format, int data_size);
    int recv_ack(int expected_size, int expected_value);
    // The same check, whose wait gives up once stop fires.
    int recv_ack(int expected_size, int expected_value, const stop_token &stop);
    int recv_data(int expected_size, QByteArray &data);
};

#endif
