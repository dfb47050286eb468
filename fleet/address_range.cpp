#include "fleet/address_range.h"

#include <QHostAddress>
#include <QRegularExpression>

#include "device/replies.h"

namespace
{

using range_result = read_result<QStringList>;

// The base address, then "-" or "/", then up to three ASCII digits (more are never valid).
const QRegularExpression range_pattern("^([^-/]*)([-/])([0-9]{1,3})$");
const int smallest_prefix = 22;
// Networks longer than this have no network or broadcast address to leave out.
const int longest_prefix_with_broadcast = 30;

range_result malformed(const QString &text)
{
    return range_result::failed("error: " + text +
                                ": a range is A.B.C.D-E (E from D to 255) or A.B.C.D/N (N "
                                "from 22 to 32)!");
}

QStringList addresses_between(quint32 first, quint32 last)
{
    QStringList addresses;
    for (quint64 address = first; address <= last; ++address)
        addresses << QHostAddress(quint32(address)).toString();
    return addresses;
}

range_result network_of(const QString &text, quint32 base, int prefix)
{
    if (prefix < smallest_prefix)
        return range_result::failed(
            QString("error: %1: a range over %2 addresses is refused; split it into /%3 or "
                    "longer networks!")
                .arg(text)
                .arg(max_range_addresses)
                .arg(smallest_prefix));
    if (prefix > 32)
        return malformed(text);
    const quint32 mask = ~0u << (32 - prefix);
    const quint32 first = base & mask, last = first | ~mask;
    const quint32 spare = prefix <= longest_prefix_with_broadcast ? 1 : 0;
    return range_result::ok(addresses_between(first + spare, last - spare));
}

} // namespace

bool is_address_range(const QString &text)
{
    return text.contains('-') || text.contains('/');
}

range_result addresses_of_range(const QString &text)
{
    const QRegularExpressionMatch match = range_pattern.match(text);
    if (!match.hasMatch() || !is_valid_ipv4_text(match.captured(1)))
        return malformed(text);
    const quint32 base = ipv4_of(match.captured(1));
    const int number = match.captured(3).toInt();
    if (match.captured(2) == "/")
        return network_of(text, base, number);
    if (number > 255 || number < int(base & 0xff))
        return malformed(text);
    return range_result::ok(addresses_between(base, (base & ~0xffu) | quint32(number)));
}
