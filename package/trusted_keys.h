#ifndef TRUSTED_KEYS_H
#define TRUSTED_KEYS_H

#include <QString>
#include <QVector>
#include <optional>

#include "package/minisign.h"
#include "package/read_result.h"

// The keys a package may be signed with. A trust store file holds minisign public keys as
// minisign writes them (their "untrusted comment:" lines are passed over, so that several
// public key files may be appended to it), or bare key lines; blank lines and "#" comments.
using trusted_keys = QVector<minisign_key>;

// The store in the file, or the message that says why it cannot be used. An empty store
// trusts no key.
read_result<trusted_keys> read_trusted_keys(const QString &path);

// The working directory's "trusted_keys", when there is one.
std::optional<read_result<trusted_keys>> working_trusted_keys();

#endif
