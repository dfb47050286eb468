#ifndef PATHS_H
#define PATHS_H

#include <QDir>
#include <QString>

// Joins a directory and a name with the platform's separator, so that the
// files are found beside each other on every platform the tool is built for.
inline QString join_path(const QString &dir, const QString &name)
{
    return dir + QDir::separator() + name;
}

#endif
