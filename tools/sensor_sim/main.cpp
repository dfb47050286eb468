// A stand-in for the sensor on a loopback address, for demonstrations, manual tests and benchmarks.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QTextStream>
#include <QTimer>

#include "simulated_sensor.h"

namespace
{

const QStringList ack_modes = {"normal", "none", "nonzero", "split", "late"};

bool parse_ack(const QString &text, ack_mode &mode)
{
    const int index = ack_modes.indexOf(text);
    if (index < 0)
        return false;
    mode = static_cast<ack_mode>(index);
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription("Simulated lidar sensor listening on a loopback address.");
    parser.addHelpOption();
    const QCommandLineOption address("address", "Listen here (default 127.0.0.1; any 127.x.y.z).",
                                     "address", "127.0.0.1");
    const QCommandLineOption port({"p", "port"}, "TCP port (default 50661, 0: any).", "port",
                                  "50661");
    const QCommandLineOption version("version", "Version shown in the log (default c2.0.7).",
                                     "version", "c2.0.7");
    const QCommandLineOption log_file("log-file", "Send this file as the log.", "file");
    const QCommandLineOption log_text("log-text", "Send this text as the log.", "text");
    const QCommandLineOption record("record-dir", "Write received frames and images here.", "dir");
    const QString modes = ack_modes.join('|');
    const QCommandLineOption download_ack("download-ack", "Reply to download: " + modes + ".",
                                          "mode", "normal");
    const QCommandLineOption image_ack("image-ack", "Reply to an image: " + modes + ".", "mode",
                                       "normal");
    const QCommandLineOption drop("drop-after", "Abort the link after N bytes of an image.", "N");
    const QCommandLineOption silent("silent", "Accept the connection, answer nothing.");
    const QCommandLineOption unanswered(
        "unanswered", "Accept no connection, its queue full: a connect is never answered.");
    const QCommandLineOption split_header("split-log-header", "Send the log length in two pieces.");
    const QCommandLineOption log_delay("log-delay-ms", "Pause before the log reply.", "ms", "0");
    const QCommandLineOption log_length("log-length", "Announce this log length instead.", "N");
    const QCommandLineOption drop_log("drop-during-log", "Send half the log, then close.");
    const QCommandLineOption close_download("close-after-download",
                                            "Close the link on download, without an ack.");
    const QCommandLineOption read_rate("read-rate", "Read images at N bytes a second.", "N");
    const QCommandLineOption stall("stall-after", "Stop reading after N bytes of an image.", "N");
    const QCommandLineOption restart_after(
        "restart-after", "After shutdown, stop listening for this long, then listen again.",
        "seconds");
    const QCommandLineOption version_after(
        "version-after", "Version shown in the log after a restart (default --version).",
        "version");
    parser.addOptions({address,      port,         version,       log_file,      log_text,
                       record,       download_ack, image_ack,     drop,          silent,
                       split_header, log_delay,    log_length,    drop_log,      close_download,
                       read_rate,    stall,        restart_after, version_after, unanswered});
    parser.process(app);

    sensor_config config;
    config.log = "boot ok\nlidar firmware version " + parser.value(version).toUtf8() + "\n";
    if (parser.isSet(log_text))
        config.log = parser.value(log_text).toUtf8();
    if (parser.isSet(log_file)) {
        QFile file(parser.value(log_file));
        if (!file.open(QIODevice::ReadOnly)) {
            qCritical("cannot read %s", qPrintable(file.fileName()));
            return 1;
        }
        config.log = file.readAll();
    }
    if (parser.isSet(restart_after))
        config.restart_after_ms = int(parser.value(restart_after).toDouble() * 1000);
    if (parser.isSet(version_after))
        config.log_after_restart =
            QByteArray(config.log)
                .replace(parser.value(version).toUtf8(), parser.value(version_after).toUtf8());
    config.silent = parser.isSet(silent);
    config.full_backlog = parser.isSet(unanswered);
    config.split_log_header = parser.isSet(split_header);
    config.log_delay_ms = parser.value(log_delay).toInt();
    config.announced_log_length = parser.value(log_length).toUInt();
    config.drop_during_log = parser.isSet(drop_log);
    config.close_after_download = parser.isSet(close_download);
    if (parser.isSet(drop))
        config.drop_after_image_bytes = parser.value(drop).toLongLong();
    config.image_read_rate = parser.value(read_rate).toLongLong();
    if (parser.isSet(stall))
        config.stall_after_image_bytes = parser.value(stall).toLongLong();
    if (!parse_ack(parser.value(download_ack), config.download_ack) ||
        !parse_ack(parser.value(image_ack), config.image_ack)) {
        qCritical("unknown acknowledgement mode");
        return 1;
    }
    const QHostAddress host(parser.value(address));
    if (host.isNull()) {
        qCritical("not an address: %s", qPrintable(parser.value(address)));
        return 1;
    }
    if (parser.isSet(record))
        QDir().mkpath(parser.value(record));

    simulated_sensor sensor(config, parser.value(port).toUShort(), parser.value(record), host);
    const QString where = host.toString() + ':';
    if (!sensor.is_listening()) {
        qCritical("cannot listen on %s%s", qPrintable(where), qPrintable(parser.value(port)));
        return 1;
    }
    QTextStream out(stdout);
    out << "simulated sensor on " << where << sensor.port() << '\n';
    out.flush();

    // Report what arrived, once a second.
    int frames_seen = 0, images_seen = 0;
    QTimer report;
    QObject::connect(&report, &QTimer::timeout, [&] {
        const QList<QByteArray> commands = sensor.commands();
        for (; frames_seen < commands.size(); ++frames_seen)
            out << "frame: " << commands[frames_seen] << '\n';
        const QList<received_image> images = sensor.images();
        for (; images_seen < images.size(); ++images_seen)
            out << "image: " << images[images_seen].name << " format " << images[images_seen].format
                << ", " << images[images_seen].data.size() << " of "
                << images[images_seen].announced << " bytes\n";
        out.flush();
    });
    report.start(200);
    return app.exec();
}
