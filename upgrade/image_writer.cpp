#include "upgrade/image_writer.h"

#include <QAbstractSocket>
#include <QElapsedTimer>
#include <memory>
#include <new>

#include "device/reply_wait.h"

namespace
{

const int chunk_size = 2048;
// Decrypted ahead of the device: a whole number of chunks, so every write but the last is
// a full chunk.
const int piece_size = 32 * chunk_size;
// What may wait in the device's own queue before decrypting more.
const qint64 queue_limit = 4 * piece_size;
const int poll_ms = 20;

bool link_up(const QIODevice &device)
{
    const auto *socket = qobject_cast<const QAbstractSocket *>(&device);
    return device.isOpen() && (!socket || socket->state() == QAbstractSocket::ConnectedState);
}

// The image's bytes in order, decrypted a piece at a time.
class image_pieces
{
public:
    image_pieces(crypt_stream &image, int length)
        : image(image), left(length), piece(new (std::nothrow) unsigned char[piece_size])
    {
    }
    bool has_buffer() const { return piece != nullptr; }

    // The next chunk; false when the file ran short.
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
        if (crypt_stream_read(&image, piece.get(), piece_size) < wanted)
            return false;
        ready = wanted;
        at = 0;
        left -= wanted;
        return true;
    }

    crypt_stream &image;
    int left;
    std::unique_ptr<unsigned char[]> piece;
    int ready = 0;
    int at = 0;
};

} // namespace

image_result write_image(QIODevice &device, crypt_stream &image, int length,
                         const std::function<void()> &idle,
                         const std::function<void(qint64 handed)> &progress)
{
    if (image.size < length)
        return image_result::file_changed;
    image_pieces pieces(image, length);
    if (!pieces.has_buffer())
        return image_result::no_memory;
    int written = 0;
    qint64 gone = 0;
    QElapsedTimer since_progress, since_idle;
    since_progress.start();
    since_idle.start();
    for (;;) {
        while (written < length && device.bytesToWrite() < queue_limit) {
            const char *bytes = nullptr;
            int size = 0;
            if (!pieces.next_chunk(bytes, size))
                return image_result::file_changed;
            if (device.write(bytes, size) != size)
                return image_result::stalled;
            written += size;
        }
        const qint64 queued = device.bytesToWrite();
        // Bounded by progress: the link may be slow, but it must move.
        if (written - queued > gone) {
            gone = written - queued;
            since_progress.restart();
            if (progress)
                progress(gone);
        }
        if (written == length && queued == 0)
            return image_result::sent;
        if (!link_up(device) || since_progress.elapsed() >= reply_wait_ms)
            return image_result::stalled;
        device.waitForBytesWritten(poll_ms);
        if (since_idle.elapsed() >= poll_ms) {
            idle();
            since_idle.restart();
        }
    }
}
