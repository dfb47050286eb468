#ifndef SIMULATED_SENSOR_H
#define SIMULATED_SENSOR_H

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QMutex>
#include <QString>
#include <QVector>
#include <functional>
#include <memory>

class QThread;
class sensor_worker;

// How the sensor answers one acknowledgement.
enum class ack_mode {
    normal,  // ack_text at once
    none,    // nothing
    nonzero, // "0001"
    split,   // ack_text in two halves, with a pause longer than the tool's read
    late,    // ack_text after 3.5 s, when the tool has stopped waiting
};

// What the simulated sensor says and which faults it injects.
struct sensor_config {
    QByteArray log = "boot ok\nlidar firmware version c2.0.7\nready\n";
    bool silent = false; // reads everything, answers nothing
    // Accepts no connection and keeps its queue of them full, so that a connect to it is never
    // answered: as a sensor that is switched off.
    bool full_backlog = false;
    bool split_log_header = false;    // the 4 length bytes in two pieces with a pause
    int log_delay_ms = 0;             // pause before the log reply
    quint32 announced_log_length = 0; // if not 0, the length sent instead of the real one
    bool drop_during_log = false;     // header and half the log, then the link is closed
    QByteArray ack_text = "0000";
    // The acknowledgement and image faults below hit this download (0-based) and
    // the ones after it; earlier downloads go through normally.
    int fault_from_download = 0;
    ack_mode download_ack = ack_mode::normal;
    ack_mode image_ack = ack_mode::normal;
    qint64 drop_after_image_bytes = -1; // abort the link once this many bytes of an image arrived
    bool close_after_download = false;  // close the link on "download", without an ack
    // A slow link: image bytes are read at this many bytes a second (0: as they come), through
    // small receive buffers, so that TCP flow control holds the sender back.
    qint64 image_read_rate = 0;
    qint64 stall_after_image_bytes = -1; // stop reading, link open, after this many image bytes
    // After "shutdown" the sensor restarts: it stays up as it was for linger_after_shutdown_ms,
    // then drops every link and stops listening for restart_after_ms (-1: it never restarts
    // and stays up), then listens again with log_after_restart as its log, if set, and silent
    // if silent_after_restart.
    int restart_after_ms = -1;
    int linger_after_shutdown_ms = 0;
    QByteArray log_after_restart;
    bool silent_after_restart = false;
    int idle_close_ms = -1; // if not -1, a link that brings nothing for this long is closed
    // Runs in the sensor's thread when a download is announced, before it is acknowledged.
    std::function<void(const QString &name)> on_download;
};

// One image as the sensor received it.
struct received_image {
    QString name;
    int format = 0;
    qint64 announced = 0;
    QByteArray data;
    QVector<int> reads; // size of every piece the socket delivered
};

// A sensor on 127.0.0.1 (or another loopback address, so that many sensors
// each own port 50661) that runs in a thread of its own, so the tool's
// blocking waits in the caller's thread do not stall it.
//
//     sensor_config config;
//     config.image_ack = ack_mode::none;        // a fault, if the test wants one
//     simulated_sensor sensor(config, 50661);   // or port 0 and sensor.port()
//     QVERIFY(sensor.wait_listening());          // is_listening() for port 0
//     ... drive the tool ...
//     QVERIFY(sensor.wait_for_images(1));
//     QVERIFY(sensor.wait_for_shutdown());
//     QCOMPARE(sensor.commands().last(), QByteArray("shutdown"));
//
// Test runs that use port 50661 (the port the tool always dials) each listen on
// a loopback network of their own (tests/support/test_net.h), so they run side
// by side.
//
// Answers (none at all when silent): "readlog" gets the log reply (4-byte
// little-endian length, then the log); "download" gets an acknowledgement,
// then the image is read and acknowledged again; every other frame, such as
// "shutdown", is only recorded (and may restart the sensor, see sensor_config). Each connection is
// served by itself; the config in force when a frame arrives applies to it.
//
// Commands are 50-byte frames whose text ends at the first zero byte. A frame
// without a zero byte in its first 50 bytes is a longer, unpadded text, taken
// to run to the end of what has arrived: the tool sends nothing after it
// until it is acknowledged. After "download <name> <format> <size>" and its
// acknowledgement, the next <size> bytes are the image.
class simulated_sensor
{
public:
    // Starts listening at once (see is_listening). port 0 picks a free port.
    // record_dir, if given (and existing), receives every image as
    // "<n>-<name>", a line per image in "images.txt" (name, format, announced
    // and received size, sizes of the reads), the frame texts in "frames.txt"
    // and the raw frames one after another in "frames.bin". address is where
    // it listens: every 127.x.y.z is loopback on Linux.
    explicit simulated_sensor(const sensor_config &config = {}, quint16 port = 0,
                              const QString &record_dir = {},
                              const QHostAddress &address = QHostAddress::LocalHost);
    ~simulated_sensor();
    simulated_sensor(const simulated_sensor &) = delete;
    simulated_sensor &operator=(const simulated_sensor &) = delete;

    bool is_listening() const { return listening_port != 0; }
    quint16 port() const { return listening_port; }
    QHostAddress address() const { return listening_address; }
    // Retries a fixed port that another program still holds (another test run
    // on the same machine) until it is free or timeout_ms passed.
    bool wait_listening(int timeout_ms = 30000);

    // Applies to what the sensor does from now on.
    void set_config(const sensor_config &config);
    sensor_config config() const;

    QList<QByteArray> frames() const;   // every frame as it arrived, padding included
    QList<QByteArray> commands() const; // the frames' texts
    QList<received_image> images() const;
    int connections() const;

    // The test's word that the tool has given up (its process ended): from now on every byte
    // that still reaches a link of the sensor is counted, read or still waiting to be read.
    void mark_tool_gone();
    qint64 bytes_after_tool_gone() const;

    // Runs the caller's event loop (so the caller's socket sends what it
    // queued) until condition holds or timeout_ms passed; returns the condition.
    // The accessors above are thread-safe and return copies.
    bool wait_until(const std::function<bool()> &condition, int timeout_ms = 5000) const;
    bool wait_for_frames(int count, int timeout_ms = 5000) const;
    bool wait_for_images(int count, int timeout_ms = 5000) const;
    // Until a "shutdown" frame has arrived.
    bool wait_for_shutdown(int timeout_ms = 5000) const;

private:
    friend class sensor_worker;
    friend class sensor_link;
    void record_frame(const QByteArray &frame);
    void record_image(const received_image &image);
    void record_connection();
    bool tool_gone() const;
    void record_late_bytes(qint64 count);
    void restart();
    void append_to_record(const QString &file_name, const QByteArray &bytes);
    quint16 listen_in_thread();

    mutable QMutex mutex;
    sensor_config current;
    QString record_dir;
    QList<QByteArray> received_frames;
    QList<received_image> received_images;
    int connection_count = 0;
    bool tool_gone_marked = false;
    qint64 late_bytes = 0;
    QHostAddress listening_address;
    quint16 requested_port = 0;
    quint16 listening_port = 0;
    std::unique_ptr<QThread> thread;
    sensor_worker *worker = nullptr;
};

#endif
