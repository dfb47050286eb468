#ifndef PACKAGE_SIGNATURE_H
#define PACKAGE_SIGNATURE_H

#include <QByteArray>
#include <QString>
#include <optional>

#include "package/trusted_keys.h"

// Who signed a package's manifest, as far as can be told.
struct package_signature {
    enum state_kind {
        none,       // no manifest, or no signature file that could be read
        unverified, // signed, but no trusted keys were given
        trusted,    // signed by a trusted key, both signatures good
        refused     // with trusted keys given: not signed by one of them
    };
    state_kind state = none;
    QString key_id;          // as minisign shows it; empty when no signature could be read
    QString trusted_comment; // verified only when the state is trusted
    QString reason;          // why it was refused
};

// The manifest's signature (no argument: no such file) checked against the trust store (null:
// none given).
package_signature check_signature(const std::optional<QByteArray> &manifest,
                                  const std::optional<QByteArray> &signature_file,
                                  const trusted_keys *trusted);

// The one line said of a package when no trust store was given.
QString unsigned_note(const package_signature &signature);

#endif
