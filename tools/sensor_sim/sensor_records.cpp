// What the simulated sensor received, kept for the tests and written to the record directory.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include "sensor_link.h"
#include "simulated_sensor.h"

void simulated_sensor::record_frame(const QByteArray &frame)
{
    QMutexLocker lock(&mutex);
    received_frames << frame;
    append_to_record("frames.txt", frame_text(frame) + '\n');
    append_to_record("frames.bin", frame);
}

void simulated_sensor::record_image(const received_image &image)
{
    QMutexLocker lock(&mutex);
    received_images << image;
    if (record_dir.isEmpty())
        return;
    const QString number = QString::number(received_images.size());
    QFile file(QDir(record_dir).filePath(number + "-" + QFileInfo(image.name).fileName()));
    if (file.open(QIODevice::WriteOnly))
        file.write(image.data);
    QStringList reads;
    for (int size : image.reads)
        reads << QString::number(size);
    append_to_record("images.txt", QString("%1 name \"%2\" format %3 announced %4 received %5 "
                                           "reads %6\n")
                                       .arg(number, image.name)
                                       .arg(image.format)
                                       .arg(image.announced)
                                       .arg(image.data.size())
                                       .arg(reads.join(' '))
                                       .toUtf8());
}

void simulated_sensor::append_to_record(const QString &file_name, const QByteArray &bytes)
{
    if (record_dir.isEmpty())
        return;
    QFile file(QDir(record_dir).filePath(file_name));
    if (file.open(QIODevice::Append))
        file.write(bytes);
}

void simulated_sensor::record_connection()
{
    QMutexLocker lock(&mutex);
    ++connection_count;
}

void simulated_sensor::mark_tool_gone()
{
    QMutexLocker lock(&mutex);
    tool_gone_marked = true;
}

bool simulated_sensor::tool_gone() const
{
    QMutexLocker lock(&mutex);
    return tool_gone_marked;
}

void simulated_sensor::record_late_bytes(qint64 count)
{
    QMutexLocker lock(&mutex);
    late_bytes += count;
}

qint64 simulated_sensor::bytes_after_tool_gone() const
{
    QMutexLocker lock(&mutex);
    return late_bytes;
}
