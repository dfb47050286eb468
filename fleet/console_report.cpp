#include "fleet/console_report.h"

#include <QMutexLocker>
#include <QStringList>

#include "base/console.h"
#include "fleet/interrupts.h"

namespace
{

// Every line of text prefixed with the sensor's address.
QString prefixed_lines(const QString &address, const QString &text)
{
    QStringList lines = text.split('\n');
    for (QString &line : lines)
        line.prepend(address + ": ");
    return lines.join('\n');
}

QString result_line(const sensor_record &record)
{
    QString text = record.address + ": " + result_name(result_of(record));
    if (!record.result.messages.isEmpty())
        text += ": " + record.result.message().replace("\r\n", " ").replace('\n', " / ");
    if (!record.result.detail.isEmpty())
        text += " (" + record.result.detail + ")";
    return text + QString(" (%1 s)").arg(record.seconds, 0, 'f', 1);
}

// What an interrupt lets finish: "2 streaming and 1 verifying"; empty when nothing.
QString finishing(const fleet_activity &activity)
{
    QStringList running;
    if (activity.streaming > 0)
        running << QString("%1 streaming").arg(activity.streaming);
    if (activity.verifying > 0)
        running << QString("%1 verifying").arg(activity.verifying);
    if (activity.checking > 0)
        running << QString("%1 checks").arg(activity.checking);
    return running.join(" and ");
}

} // namespace

void console_report::line(const QString &text)
{
    const QMutexLocker lock(&mutex);
    write_error_line(text);
}

void console_report::sensor_line(const QString &address, const QString &text)
{
    line(prefixed_lines(address, text));
}

void console_report::sensor_progress(const QString &address, const image_progress &progress)
{
    line(QString("%1: %2 %3 % %4 MB/s")
             .arg(address, progress.file)
             .arg(progress.total > 0 ? 100 * progress.taken / progress.total : 100)
             .arg(progress.taken / progress.seconds / 1e6, 0, 'f', 2));
}

void console_report::sensor_finished(const sensor_record &finished)
{
    const QMutexLocker lock(&mutex);
    write_error_line(result_line(finished));
    const QString lost = record.write(finished);
    if (!lost.isEmpty())
        write_error_line(lost);
}

// Says what the operator's interrupts stop, once each.
void console_report::running(const fleet_activity &activity)
{
    const int interrupts = qMin(2, interrupts_so_far());
    if (interrupts == interrupts_told)
        return;
    interrupts_told = interrupts;
    const QString running = interrupts == 1 ? finishing(activity) : QString();
    if (interrupts >= 2)
        line("stopping: the running sensors stop now, their links reset");
    else if (running.isEmpty())
        line("stopping: no new sensor is dialled");
    else
        line("stopping: no new sensor is dialled; " + running +
             " will finish; Ctrl+C again stops them");
}
