#ifndef MANIFEST_H
#define MANIFEST_H

#include <QByteArray>
#include <QString>

#include "package/package_check.h"

// The manifest of a checked package, plain text with LF line ends:
//   corvalen-manifest 1
//   version VERSION
//   file NAME FORMAT ENCRYPTED_BYTES PADDING IMAGE_BYTES SHA256_OF_IMAGE   (each file, in order)
//   updatelist SHA256_OF_TEXT
//   version-file SHA256_OF_TEXT
// A package matches its manifest when the manifest is exactly this text.
QByteArray manifest_text(const checked_package &package);

// What the manifest lists first where it is not the text the package would have (a file's
// name, "version", "updatelist" or "manifest"); empty when they agree.
QString manifest_mismatch(const QByteArray &manifest, const QByteArray &derived);

#endif
