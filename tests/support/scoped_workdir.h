#ifndef SCOPED_WORKDIR_H
#define SCOPED_WORKDIR_H

#include <QDir>
#include <QTemporaryDir>

// Runs a test inside a fresh, empty working directory and restores the old one.
class scoped_workdir
{
public:
    scoped_workdir() : old(QDir::currentPath()) { QDir::setCurrent(dir.path()); }
    ~scoped_workdir() { QDir::setCurrent(old); }
    QString path() const { return dir.path(); }

private:
    QString old;
    QTemporaryDir dir;
};

#endif
