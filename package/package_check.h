#ifndef PACKAGE_CHECK_H
#define PACKAGE_CHECK_H

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVector>
#include <functional>

#include "package/file_info.h"
#include "package/package_signature.h"
#include "package/read_result.h"
#include "package/trusted_keys.h"

// One package file as a front end lists it.
struct listed_file {
    QString name; // as the settings file gives it
    int format = 0;
    qint64 size = -1; // when it was listed; -1: whatever it is now
};

// One package file as the check found it.
struct checked_file {
    QString name; // as the settings file gives it
    QString path;
    qint64 size = 0;
    int format = 0;
    int padding = 0;
    int length = 0;                   // of the image: size less padding
    QByteArray sha256;                // of the image's bytes
    QVector<QByteArray> piece_sha256; // of each image_piece_size bytes of the image, in order
};

// A package read and every image decrypted once, before any sensor is dialled.
struct checked_package {
    QString dir; // with native separators
    QVector<checked_file> files;
    // The texts' contents and the SHA-256 of their decrypted text; empty when not read.
    QList<QStringList> update_list;
    QString version;
    QByteArray update_list_sha256;
    QByteArray version_sha256;
    package_signature signature;
    // What a record names the package by: the SHA-256 of its manifest, or of the manifest it
    // would have.
    QByteArray identity;
};

// How a package is checked.
struct check_rules {
    enum mode_kind {
        // What the window sends: the update list and version are read again only to compare
        // them with a manifest.
        window,
        // Stricter, since no one watches the run: refuses a package without files, a name that
        // leaves the directory or is not announceable, and a padding count that is not a
        // number; every failure says what it is about.
        fleet,
        // As the window, for a new manifest: any manifest there is passed over.
        new_manifest
    };
    mode_kind mode = window;
    const trusted_keys *trusted = nullptr; // null: no trust store, the signature is not checked
    std::function<void()> tick;            // after each image piece hashed; may be empty
    // The fleet's rule on what a file's download command announces (its bare name, format and
    // image length), after its padding count is read: the failure's message, or empty. May be
    // empty.
    std::function<QString(const QString &name, int format, int length)> announceable;
};

// Reads the package in dir for the files given and decrypts every image; then, with a trust
// store, the signature of its manifest must be by a trusted key, and a manifest there must be
// what the package holds. The failure holds the messages the window would show, one a line.
read_result<checked_package> check_package(const QString &dir, const QVector<listed_file> &files,
                                           const check_rules &rules);

// The files of settings entries, as they are now.
QVector<listed_file> listed_now(const QVector<file_info *> &settings);

#endif
