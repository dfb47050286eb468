#ifndef PACKAGE_MAKER_H
#define PACKAGE_MAKER_H

#include <QByteArray>
#include <QString>
#include <QVector>

#include "package/package_check.h"

// One image of a package: its file name, the format code the sensor gets,
// and its plain bytes.
struct package_file {
    QString name;
    int format = 0;
    QByteArray content;
};

// What a package holds besides its images.
struct package_contents {
    QVector<package_file> files;
    QByteArray version;     // plain text of "version", e.g. "c2.0.8" (no line end)
    QByteArray update_list; // plain text of "updatelist", e.g. "{c2.0.7,c2.0.8};"
};

// How many padding bytes the package cipher adds to plain bytes of this length.
int padding_count(int plain_length);

// The plain bytes padded and enciphered block by block with the file key.
QByteArray encrypt_package_bytes(const QByteArray &plain);

// Writes the package into dir (created if missing): each image enciphered and
// its "<name>_config" companion holding the padding count, then "updatelist"
// and "version" with their companions, and its manifest. If config_path is not
// empty, also writes the settings file naming the images there. An existing
// package is only replaced when overwrite is set; an image name with a blank is
// refused. On failure returns false with a reason.
bool make_package(const QString &dir, const package_contents &contents, const QString &config_path,
                  bool overwrite, QString *error);

// Writes the manifest of the package in dir, whose files the settings entries name, as the
// tool reads the package; a signature of another manifest is removed. On failure returns false
// with a reason.
bool write_manifest(const QString &dir, const QVector<listed_file> &files, QString *error);

#endif
