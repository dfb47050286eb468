// A stand-in for the sensor on 127.0.0.1, for demonstrations and manual tests.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QTextStream>
#include <QTimer>

#include "simulated_sensor.h"

namespace {

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
    parser.setApplicationDescription("Simulated lidar sensor listening on 127.0.0.1.");
    parser.addHelpOption();
    const QCommandLineOption port({"p", "port"}, "TCP port (default 50661).", "port", "50661");
    const QCommandLineOption version("version", "Version shown in the log (default c2.0.7).",
                                     "version", "c2.0.7");
    const QCommandLineOption log_file("log-file", "Send this file as the log.", "file");
    const QCommandLineOption record("record-dir", "Write received images here.", "dir");
    const QCommandLineOption download_ack("download-ack",
                                          "Reply to download: " + ack_modes.join('|') + ".",
                                          "mode", "normal");
    const QCommandLineOption image_ack("image-ack", "Reply to an image: " + ack_modes.join('|') + ".",
                                       "mode", "normal");
    const QCommandLineOption drop("drop-after", "Close the link after N image bytes.", "N");
    const QCommandLineOption silent("silent", "Answer nothing.");
    parser.addOptions({port, version, log_file, record, download_ack, image_ack, drop, silent});
    parser.process(app);

    sensor_config config;
    config.log = "boot ok\nlidar firmware version " + parser.value(version).toUtf8() + "\n";
    if (parser.isSet(log_file)) {
        QFile file(parser.value(log_file));
        if (!file.open(QIODevice::ReadOnly)) {
            qCritical("cannot read %s", qPrintable(file.fileName()));
            return 1;
        }
        config.log = file.readAll();
    }
    config.silent = parser.isSet(silent);
    if (parser.isSet(drop))
        config.drop_after_image_bytes = parser.value(drop).toLongLong();
    if (!parse_ack(parser.value(download_ack), config.download_ack) ||
        !parse_ack(parser.value(image_ack), config.image_ack)) {
        qCritical("unknown acknowledgement mode");
        return 1;
    }

    simulated_sensor sensor(config, parser.value(port).toUShort(), parser.value(record));
    if (!sensor.is_listening()) {
        qCritical("cannot listen on 127.0.0.1:%s", qPrintable(parser.value(port)));
        return 1;
    }
    QTextStream out(stdout);
    out << "simulated sensor on 127.0.0.1:" << sensor.port() << Qt::endl;

    // Report what arrived, once a second.
    int frames_seen = 0, images_seen = 0;
    QTimer report;
    QObject::connect(&report, &QTimer::timeout, [&] {
        const QList<QByteArray> commands = sensor.commands();
        for (; frames_seen < commands.size(); ++frames_seen)
            out << "frame: " << commands[frames_seen] << Qt::endl;
        const QList<received_image> images = sensor.images();
        for (; images_seen < images.size(); ++images_seen)
            out << "image: " << images[images_seen].name << " " << images[images_seen].data.size()
                << " bytes" << Qt::endl;
    });
    report.start(200);
    return app.exec();
}
