#ifndef ADDRESS_RANGE_H
#define ADDRESS_RANGE_H

#include <QString>
#include <QStringList>

#include "package/read_result.h"

// The most addresses one range may name: a /22.
const int max_range_addresses = 1024;

// Whether the text names a range rather than one address.
bool is_address_range(const QString &text);

// The addresses of a range, in order: A.B.C.D-E is the last number from D to E; A.B.C.D/N,
// N from 22 to 32, is the network that holds A.B.C.D without its first (network) and last
// (broadcast) address, except for /31 and /32, which have none to spare. The failure's line
// when the text is no such range or names over max_range_addresses.
read_result<QStringList> addresses_of_range(const QString &text);

#endif
