#ifndef IMAGE_WRITER_H
#define IMAGE_WRITER_H

#include <QIODevice>
#include <functional>

#include "cipher/crypt_file.h"

// How streaming one image ended.
enum class image_result {
    sent,         // every byte has left the tool
    stalled,      // no byte left for a whole reply wait, or the link went away
    file_changed, // the file held fewer bytes than announced
    no_memory,    // no buffer for the decrypted pieces
};

// Sends the first length bytes the file decrypts to, in writes of 2048 bytes and one shorter
// last write. The file is decrypted a piece at a time as the device takes the bytes, so the
// queue stays short and no byte is sent that was not decrypted; returns once the device has
// handed every byte on. idle runs between the waits, about every 20 ms; progress, if given,
// gets how many bytes the device has handed on whenever that grows.
image_result write_image(QIODevice &device, crypt_stream &image, int length,
                         const std::function<void()> &idle,
                         const std::function<void(qint64 handed)> &progress = {});

#endif
