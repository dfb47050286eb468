#ifndef TCP_DEVICE_H
#define TCP_DEVICE_H

#include <QByteArray>
#include <QDeadlineTimer>
#include <QString>
#include <QTcpSocket>

// The link to the sensor: 50-byte command frames and the checks of its short
// replies. Results: 0 done, 1 failed, 2 not connected.
class tcp_device : public QTcpSocket
{
public:
    // How long a reply that arrives in pieces may take in all: three of the
    // sensor's 3000 ms reply rounds, so a silent or trickling sensor gives up
    // within 10 s while a healthy one answers within the first round.
    static const int reply_deadline_ms = 9000;

    tcp_device() = default;
    ~tcp_device() override = default;

    QByteArray send_cmd_version();
    int send_cmd_getChipInfo();
    int send_cmd_readlog();
    int send_cmd_reset();
    int send_cmd_shutdown();
    int send_cmd_download(const QString &file_name, int format, int data_size);
    int recv_ack(int expected_size, int expected_value);
    int recv_data(int expected_size, QByteArray &data);

    // One wait of at most 3000 ms that appends what arrived to buffer; false
    // without waiting once the link is gone or the deadline has passed.
    bool read_more(QByteArray &buffer, const QDeadlineTimer &deadline);

private:
    bool is_connected() const;
    int send_frame(const QByteArray &text);
};

#endif
