#ifndef UPGRADE_FIXTURE_H
#define UPGRADE_FIXTURE_H

#include <QElapsedTimer>
#include <QTableWidget>
#include <QtTest>
#include <memory>

#include "dialog_probe.h"
#include "message_catcher.h"
#include "package_maker.h"
#include "scoped_workdir.h"
#include "simulated_sensor.h"
#include "test_net.h"

// A window connected to a simulated sensor on the run's address 127.N.0.1, port 50661, with a
// package picked, as an operator would have it just before pressing "Upgrade".
struct upgrade_fixture {
    static constexpr quint16 sensor_port = 50661;

    scoped_workdir workdir;
    QString package = QDir(workdir.path()).filePath("pkg");
    std::unique_ptr<simulated_sensor> sensor;
    message_catcher catcher;
    std::unique_ptr<Dialog> dialog;

    static package_contents three_files()
    {
        package_contents contents{{}, "c2.0.8", "{c2.0.7,c2.0.8};"};
        const QList<int> sizes = {5000, 2048, 77};
        for (int i = 0; i < sizes.size(); ++i) {
            QByteArray image(sizes[i], '\0');
            for (int b = 0; b < image.size(); ++b)
                image[b] = char((b * 31 + i * 7) ^ (b >> 8));
            contents.files.append({QString("image%1.bin").arg(i), i * 8, image});
        }
        return contents;
    }

    // Writes package and settings, starts the sensor, connects and picks the
    // directory. Messages shown so far stay in catcher.texts.
    bool prepare(const package_contents &contents, const sensor_config &config = {})
    {
        if (!write_package(contents) || !start_sensor(config))
            return false;
        connect_to(test_address(1));
        return true;
    }

    bool write_package(const package_contents &contents)
    {
        QString error;
        const bool made =
            make_package(package, contents, QDir(workdir.path()).filePath("config"), true, &error);
        if (!made)
            qWarning("package: %s", qPrintable(error));
        return made;
    }

    bool start_sensor(const sensor_config &config)
    {
        sensor = std::make_unique<simulated_sensor>(config, sensor_port, QString(),
                                                    QHostAddress(test_address(1)));
        return sensor->wait_listening();
    }

    // Opens the window, presses "connect" with the address and picks the package; returns how
    // long the press took.
    qint64 connect_to(const QString &address)
    {
        dialog = std::make_unique<Dialog>();
        widget<QLineEdit>("lineEdit_ip")->setText(address);
        QElapsedTimer timer;
        timer.start();
        widget<QPushButton>("pushButton_connect")->click();
        const qint64 took = timer.elapsed();
        widget<QLineEdit>("lineEdit_input_directry")->setText(package);
        return took;
    }

    // Presses "Upgrade", then lets the last frames reach the sensor; returns
    // how long the press took.
    qint64 press_upgrade()
    {
        QElapsedTimer timer;
        timer.start();
        widget<QPushButton>("pushButton_startupgrade")->click();
        const qint64 took = timer.elapsed();
        settle();
        return took;
    }

    // Runs the event loop briefly so that queued frames leave the socket.
    void settle() { QTest::qWait(300); }

    template <class T> T *widget(const char *name)
    {
        return dialog_probe::widget<T>(*dialog, name);
    }

    QTableWidget *table() { return widget<QTableWidget>("tableWidget_filelist"); }

    // The Status cell of each row, followed by " green" when the whole row is green.
    QStringList statuses()
    {
        QStringList list;
        for (int row = 0; row < table()->rowCount(); ++row) {
            int green = 0;
            for (int column = 0; column < table()->columnCount(); ++column)
                green += table()->item(row, column)->background().color() == QColor(Qt::green);
            list << table()->item(row, 3)->text() +
                        (green == table()->columnCount() ? " green" : "");
        }
        return list;
    }

    // The sensor's commands after the log request of the connect.
    QList<QByteArray> upgrade_commands() const
    {
        QList<QByteArray> commands = sensor->commands();
        if (!commands.isEmpty() && commands.first() == "readlog")
            commands.removeFirst();
        return commands;
    }
};

#endif
