#ifndef IMAGE_WRITER_H
#define IMAGE_WRITER_H

#include <QIODevice>

// Queues the first length bytes of the image on the device in writes of
// 2048 bytes and one shorter last write, without waiting between them.
void write_image(QIODevice &device, const unsigned char *image, int length);

#endif
