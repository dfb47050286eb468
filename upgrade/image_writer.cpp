#include "upgrade/image_writer.h"

#include <QAbstractSocket>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QThread>
#include <memory>
#include <new>

#include "device/reply_wait.h"
#include "device/send_queue.h"
#include "package/package_file.h"
#include "upgrade/rate_cap.h"

namespace
{

const int chunk_size = 2048;
// Decrypted ahead of the device: a whole number of chunks, so every write but the last is
// a full chunk.
const int piece_size = image_piece_size;
static_assert(piece_size % chunk_size == 0, "a piece is whole chunks");
// What may wait in the device's own queue before decrypting more.
const qint64 queue_limit = 4 * piece_size;
const int poll_ms = 20;

bool link_up(const QIODevice &device)
{
    const auto *socket = qobject_cast<const QAbstractSocket *>(&device);
    return device.isOpen() && (!socket || socket->state() == QAbstractSocket::ConnectedState);
}

// Bytes written that the sensor's side has not taken yet, in Qt's queue or the system's; -1
// once the link is gone.
qint64 in_transit(const QIODevice &device)
{
    const auto *socket = qobject_cast<const QAbstractSocket *>(&device);
    const qint64 in_system = socket ? bytes_not_taken(*socket) : 0;
    if (!link_up(device) || in_system < 0)
        return -1;
    return device.bytesToWrite() + in_system;
}

// Lets the queues drain for a moment: Qt's by writing, the system's by waiting.
void wait_for_transit(QIODevice &device)
{
    if (device.bytesToWrite() > 0)
        device.waitForBytesWritten(poll_ms);
    else
        QThread::msleep(poll_ms);
}

// Waits ms for the rate cap, letting what was written leave and ticking meanwhile: false when
// the tick stops the stream.
bool wait_for_cap(QIODevice &device, qint64 ms, const stream_tick &tick, qint64 taken)
{
    QElapsedTimer clock;
    clock.start();
    for (qint64 left = ms; left > 0; left = ms - clock.elapsed()) {
        const int slice = int(qMin<qint64>(poll_ms, left));
        // The write's wait may have used the time up: never a negative sleep, which would be
        // endless as an unsigned one.
        if (device.bytesToWrite() == 0 || !device.waitForBytesWritten(slice))
            QThread::msleep(ulong(qBound<qint64>(0, ms - clock.elapsed(), slice)));
        if (!tick(taken))
            return false;
    }
    return true;
}

// The image's bytes in order, decrypted a piece at a time and, when hashes are given, each
// piece checked whole before any of it is handed out.
class image_pieces
{
public:
    image_pieces(crypt_stream &image, int length, const QVector<QByteArray> &piece_sha256)
        : image(image), left(length), piece_sha256(piece_sha256),
          piece(new (std::nothrow) unsigned char[piece_size])
    {
    }
    bool has_buffer() const { return piece != nullptr; }

    // The next chunk; false when the file ran short or a piece is not what was checked.
    bool next_chunk(const char *&bytes, int &size)
    {
        if (at == ready && !decrypt_piece())
            return false;
        bytes = reinterpret_cast<const char *>(piece.get()) + at;
        size = qMin(chunk_size, ready - at);
        at += size;
        return true;
    }

private:
    bool decrypt_piece()
    {
        const int wanted = qMin(piece_size, left);
        if (crypt_stream_read(&image, piece.get(), piece_size) < wanted || !as_checked(wanted))
            return false;
        ready = wanted;
        at = 0;
        left -= wanted;
        ++index;
        return true;
    }

    bool as_checked(int size) const
    {
        if (piece_sha256.isEmpty())
            return true;
        const QByteArray bytes =
            QByteArray::fromRawData(reinterpret_cast<const char *>(piece.get()), size);
        return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256) == piece_sha256[index];
    }

    crypt_stream &image;
    int left;
    const QVector<QByteArray> &piece_sha256;
    std::unique_ptr<unsigned char[]> piece;
    int index = 0;
    int ready = 0;
    int at = 0;
};

} // namespace

image_result write_image(QIODevice &device, crypt_stream &image, int length,
                         const stream_tick &tick, const QVector<QByteArray> &piece_sha256,
                         rate_cap *cap)
{
    const int piece_count = (length + piece_size - 1) / piece_size;
    if (image.size < length || (!piece_sha256.isEmpty() && piece_sha256.size() != piece_count))
        return image_result::file_changed;
    image_pieces pieces(image, length, piece_sha256);
    if (!pieces.has_buffer())
        return image_result::no_memory;
    int written = 0;
    qint64 taken = 0;
    QElapsedTimer since_progress, since_tick;
    since_progress.start();
    since_tick.start();
    for (;;) {
        while (written < length && device.bytesToWrite() < queue_limit) {
            const char *bytes = nullptr;
            int size = 0;
            if (!pieces.next_chunk(bytes, size))
                return image_result::file_changed;
            if (cap && !wait_for_cap(device, cap->reserve(size), tick, taken))
                return image_result::stopped;
            if (device.write(bytes, size) != size)
                return image_result::stalled;
            written += size;
        }
        // A link lost before the sensor took everything drops what it still held.
        const qint64 waiting = in_transit(device);
        if (waiting < 0)
            return image_result::stalled;
        if (written == length && waiting == 0)
            return image_result::sent;
        // Bounded by progress: the link may be slow, but it must move. A sensor that took all it
        // was given waits for the writer (the cap), not the other way round.
        if (written - waiting > taken || waiting == 0) {
            taken = written - waiting;
            since_progress.restart();
        }
        if (since_progress.elapsed() >= reply_wait_ms)
            return image_result::stalled;
        wait_for_transit(device);
        if (since_tick.elapsed() >= poll_ms) {
            if (!tick(taken))
                return image_result::stopped;
            since_tick.restart();
        }
    }
}
