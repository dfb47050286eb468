#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QTableWidget>
#include <QTextStream>
#include <QtDebug>

#include "app/dialog.h"
#include "app/messages.h"
#include "app/run_progress.h"
#include "device/tcp_device.h"
#include "package/update_list.h"
#include "package/version.h"
#include "ui_dialog.h"
#include "upgrade/image_writer.h"
#include "upgrade/input_blocker.h"

#ifdef Q_OS_WIN
#include <winsock2.h>
#endif

namespace
{

const int status_column = 3;
// The system's send queue while an image streams: small enough that a slow link drains it
// well within one reply wait, large enough to keep a fast one busy.
const int send_buffer_bytes = 128 * 1024;

QString changed_message(const QString &file_name)
{
    return "error: file " + file_name + " changed since it was listed!";
}

QString quoted(const QString &text)
{
    return "\"" + text + "\"";
}

// The companion's first line: how many padding bytes the cipher added.
bool read_padding_count(const QString &companion, int &padding)
{
    QFile file(companion);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        qDebug() << "open file" << companion << "failed";
        show_error("error: open file config failed");
        return false;
    }
    padding = QTextStream(&file).readLine().toInt();
    return true;
}

// The announced length must describe bytes that the decrypted file really
// holds: a bad companion or a file changed since it was listed stops here,
// before the sensor is told anything.
bool image_length_valid(const file_info &entry, const QString &file_name, int padding, int length)
{
    if (padding < 0 || length < 0) {
        show_error("error: invalid padding count " + QString::number(padding) + " for " +
                   file_name + "!");
        return false;
    }
    if (QFileInfo(entry.get_name()).size() != entry.get_size()) {
        show_error(changed_message(file_name));
        return false;
    }
    return true;
}

void set_status(QTableWidget *table, int row, const QString &status)
{
    table->item(row, status_column)->setText(status);
}

void mark_finished(QTableWidget *table, int row)
{
    set_status(table, row, "finished");
    for (int column = 0; column < table->columnCount(); ++column)
        table->item(row, column)->setData(Qt::BackgroundRole, QColor(Qt::green));
}

// Stops a run whose link is out of step: the sensor waits for an image that will not come
// whole, so nothing it sends later may be taken as an answer.
bool stop_out_of_step(tcp_device &device, const QString &message)
{
    device.abort();
    show_error(message);
    return false;
}

void limit_send_queue(QAbstractSocket &device)
{
#ifdef Q_OS_WIN
    // Qt leaves the send buffer of a Windows socket to the system's own sizing, which may
    // queue seconds of a slow link; the system takes the size when asked directly.
    const int size = send_buffer_bytes;
    setsockopt(SOCKET(device.socketDescriptor()), SOL_SOCKET, SO_SNDBUF,
               reinterpret_cast<const char *>(&size), sizeof size);
#else
    device.setSocketOption(QAbstractSocket::SendBufferSizeSocketOption, send_buffer_bytes);
#endif
}

// Streams the image after the sensor took the download; false once a failure has been
// reported and the link closed.
bool send_image(tcp_device &device, const QString &name, const QString &file_name, int length,
                const std::function<void(qint64)> &progress)
{
    crypt_stream image;
    if (crypt_stream_open(&image, "decry", name.toLocal8Bit().constData()) != 0)
        return stop_out_of_step(device, "Decry Fail");
    // "Left the tool" should mean "on the wire": the system's queue stays short.
    limit_send_queue(device);
    const image_result result = write_image(
        device, image, length, [] { QCoreApplication::processEvents(); }, progress);
    crypt_stream_close(&image);
    switch (result) {
    case image_result::sent:
        return true;
    case image_result::file_changed:
        return stop_out_of_step(device, changed_message(file_name));
    case image_result::no_memory:
        return stop_out_of_step(device, "Decried memory is NULL");
    case image_result::stalled:
        break;
    }
    return stop_out_of_step(device, "rror: Lidar not prepared!");
}

// Sends one package file; false once a failure has been reported.
bool upgrade_file(tcp_device &device, const file_info &entry, const QString &package_dir,
                  QTableWidget *table, int row, run_progress &progress)
{
    const QString name = entry.get_name();
    qDebug() << "open file" << name;
    QFile file(name);
    if (!file.open(QIODevice::ReadOnly)) {
        show_error("error: file open failed!");
        return false;
    }
    qDebug() << "\t--ok";

    const QString file_name = name.split(QDir::separator()).last();
    int padding = 0;
    if (!read_padding_count(package_dir + "//" + file_name + "_config", padding))
        return false;
    const int length = entry.get_size() - padding;
    if (!image_length_valid(entry, file_name, padding, length))
        return false;

    qDebug() << "send upgrade command";
    if (!device_result_ok(device.send_cmd_download(file_name, entry.get_format(), length),
                          "error: command send failed!"))
        return false;
    qDebug() << "\t--ok";

    qDebug() << "Lidar is preparing";
    if (!device_result_ok(device.recv_ack(4, 0), "error: Lidar not prepared!"))
        return false;
    qDebug() << "\t--ok";

    qDebug() << "send file data";
    set_status(table, row, "upgrading");
    if (!send_image(device, name, file_name, length,
                    [&](qint64 sent) { progress.image_bytes(row, sent, length); }))
        return false;
    qDebug() << "\t--ok";
    qDebug() << "upgrade" << name;

    if (!device_result_ok(device.recv_ack(4, 0), "rror: Lidar not prepared!"))
        return false;
    qDebug() << "\t--ok";
    mark_finished(table, row);
    return true;
}

} // namespace

void Dialog::on_pushButton_startupgrade_clicked()
{
    if (package_version.isEmpty() || device_version.isEmpty()) {
        show_error("error: empty version detect, please check. \r\ncurrent version " +
                   quoted(device_version) + ", new version " + quoted(package_version));
        return;
    }
    if (!group_permits(update_list, device_version, package_version)) {
        show_error("error: update from " + device_version + " to " + package_version +
                   " is forbidden");
        return;
    }
    const int current = version_number(device_version);
    const int next = version_number(package_version);
    qDebug() << "\nUpgrade from" << device_version << "to" << package_version << "(" << current
             << "to" << next << ")\n";
    if (current > next) {
        const QString joined = "Upgrade from high version(" + device_version + ")to low version(" +
                               package_version + ")\r\nAre you sure?";
        const QString question = tr(joined.toUtf8().constData());
        const auto answer = QMessageBox::question(
            this, "Question", question, QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Cancel);
        if (answer != QMessageBox::Ok) {
            if (answer == QMessageBox::Cancel)
                qDebug() << "Cancelled";
            return;
        }
    }

    const input_blocker busy(this);
    QVector<qint64> listed;
    for (const file_info *entry : qAsConst(file_list))
        listed << entry->get_size();
    run_progress progress(ui->tableWidget_filelist, status_column, listed);
    for (int row = 0; row < file_list.size(); ++row)
        if (!upgrade_file(*device, *file_list[row], package_dir, ui->tableWidget_filelist, row,
                          progress))
            return;

    qDebug() << "upgrade finished, Lidar power off";
    qDebug() << "don't pull the power plug up until indicator runout, please!!!";
    device->send_cmd_shutdown();
    ui->lineEdit_old_version->clear();
}
