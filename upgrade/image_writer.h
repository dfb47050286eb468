#ifndef IMAGE_WRITER_H
#define IMAGE_WRITER_H

#include <QByteArray>
#include <QIODevice>
#include <QVector>
#include <functional>

#include "cipher/crypt_file.h"

class rate_cap;

// How streaming one image ended.
enum class image_result {
    sent,         // the sensor's side has taken every byte
    stalled,      // the sensor took no byte for a whole reply wait, or the link went away
    file_changed, // the file held fewer bytes than announced, or other bytes than checked
    no_memory,    // no buffer for the decrypted pieces
    stopped,      // the tick asked to stop
};

// Runs about every 20 ms while an image streams, with the image bytes the sensor's side has
// taken so far; false stops the stream.
using stream_tick = std::function<bool(qint64 taken)>;

// Sends the first length bytes the file decrypts to, in writes of 2048 bytes and one shorter
// last write. The file is decrypted a piece (image_piece_size bytes) at a time as the device
// takes the bytes, so the queue stays short and no byte is sent that was not decrypted; with
// piece_sha256 given, one hash for each piece of length, no byte of a piece is sent unless the
// piece hashes to its entry. Returns once the sensor's side has taken every byte, including those
// that waited in the system's own send queue, so that a reply wait after it measures the sensor
// alone. With a cap, each write waits for its time under the cap; the stall rule measures the
// sensor alone, never the cap: it runs only while written bytes wait for the sensor.
image_result write_image(QIODevice &device, crypt_stream &image, int length,
                         const stream_tick &tick, const QVector<QByteArray> &piece_sha256 = {},
                         rate_cap *cap = nullptr);

#endif
