#ifndef PACKAGE_CHECK_H
#define PACKAGE_CHECK_H

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVector>

#include "package/file_info.h"
#include "package/read_result.h"

// One package file as the check found it.
struct checked_file {
    QString path;
    qint64 size = 0;
    int format = 0;
    int padding = 0;
    int length = 0;                   // of the image: size less padding
    QByteArray sha256;                // of the image's bytes
    QVector<QByteArray> piece_sha256; // of each image_piece_size bytes of the image, in order
};

// A package read whole and every image decrypted once, before any sensor is dialled.
struct checked_package {
    QString dir; // with native separators
    QVector<checked_file> files;
    QList<QStringList> update_list;
    QString version;
};

// Reads the package in dir as the window reads it, for the settings entries given, and
// decrypts every image. The failure holds the messages the window would show, one a line, and
// what they are about. Stricter than the window, since no one watches the run: refuses a
// package without files, a name that leaves the directory or does not fit the download
// frame, and a padding count that is not a number.
read_result<checked_package> check_package(const QString &dir,
                                           const QVector<file_info *> &settings);

#endif
