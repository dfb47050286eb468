#include "package/version.h"

#include "package/package_text.h"

namespace
{

int digit_at(const QString &text, int index)
{
    return index >= 0 && index < text.size() ? text[index].unicode() - '0' : 0;
}

} // namespace

bool is_accepted_version(const QString &version)
{
    return version.count('.') == 2;
}

int version_number(const QString &version)
{
    const int dot = version.indexOf('.');
    if (dot < 0)
        return 0;
    return 100 * digit_at(version, dot - 1) + 10 * digit_at(version, dot + 1) +
           digit_at(version, dot + 3);
}

read_result<QString> read_version_file_text(const QString &path)
{
    return read_package_text(
        path, {"error: version file open failed!", "error: open version config file failed"});
}

QString invalid_version_message(const QString &version)
{
    return "error: invalid version from version file" + version;
}
