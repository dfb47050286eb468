#ifndef UPGRADE_ENGINE_H
#define UPGRADE_ENGINE_H

#include <QByteArray>
#include <QMutex>
#include <QString>
#include <QVector>
#include <memory>

#include "device/outcome.h"
#include "device/stop_token.h"

class rate_cap;
class tcp_device;
struct checked_package;

// One package file as the run sends it.
struct plan_file {
    QString path;    // the encrypted file: the package directory, a separator, the name
    qint64 size = 0; // its length when it was listed
    int format = 0;  // passed on with the download command
    // If set, the hashes of the whole image and of each of its pieces (image_piece_size bytes)
    // as checked: a piece leaves only when it still hashes to its entry.
    QByteArray sha256;
    QVector<QByteArray> piece_sha256;
};

// A package file that no longer reads as it was checked, as one fact that every run of a plan
// shares: once one run finds it, no run sends another "download". Thread-safe.
class package_change
{
public:
    // The first change found wins; later ones are the same fact.
    void found(const QString &message, const QString &detail);
    bool known() const;
    QString message() const;
    QString detail() const;

private:
    mutable QMutex mutex;
    bool seen = false;
    QString first_message, first_detail;
};

// What a run sends: fixed when it starts, whatever changes around it meanwhile. Copies share
// what is learnt of the package's files.
struct upgrade_plan {
    QVector<plan_file> files;
    QString package_dir;
    std::shared_ptr<package_change> change = std::make_shared<package_change>();
    // The cap that every run of the plan shares; none: images stream as fast as the link takes
    // them.
    std::shared_ptr<rate_cap> cap;
};

// What a run sends of a checked package: each piece only while it hashes as it did then.
upgrade_plan plan_of(const checked_package &package);

// One image the sensor acknowledged.
struct sent_file {
    QString name;
    qint64 bytes = 0;
    QByteArray sha256;  // of the bytes sent, when the plan asked for it
    double seconds = 0; // how long the image took to stream
};

// Told what the run does as it goes; called on the run's thread.
class upgrade_observer
{
public:
    virtual ~upgrade_observer() = default;
    // The sensor accepted the download of file index: its image starts to stream.
    virtual void image_started(int index) { Q_UNUSED(index) }
    // About every 20 ms while an image streams: how much of it the sensor's side has taken.
    virtual void image_progress(int index, qint64 taken, qint64 total)
    {
        Q_UNUSED(index)
        Q_UNUSED(taken)
        Q_UNUSED(total)
    }
    // The sensor acknowledged the image of file index.
    virtual void file_finished(int index, const sent_file &file)
    {
        Q_UNUSED(index)
        Q_UNUSED(file)
    }
};

// Sends every file of the plan to the connected sensor in order (download, acknowledgement,
// image, acknowledgement), then "shutdown": ok. Stops at the first failure, with the window's
// message; a failure that leaves the sensor out of step with the tool closes the link first. A
// package file found changed, here or by another run of the plan, ends the run before its next
// "download" (held back, when nothing was sent yet), or with a reset at the next piece of a
// streaming image: package_changed. Once stop fires the run ends between its steps, in its waits
// or mid-image, with the link reset: interrupted.
outcome run_upgrade(tcp_device &device, const upgrade_plan &plan, upgrade_observer &observer,
                    const stop_token &stop);

#endif
