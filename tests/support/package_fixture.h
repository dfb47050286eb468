#ifndef PACKAGE_FIXTURE_H
#define PACKAGE_FIXTURE_H

#include <QtTest>

#include "package_maker.h"
#include "scoped_workdir.h"

// A working directory with a settings file and a package beside it.
struct package_fixture {
    scoped_workdir workdir;
    QString package = QDir(workdir.path()).filePath("pkg");
    package_contents contents{{{"app.bin", 0, QByteArray(100, 'a')}, {"fw.hex", 1, "fw"}},
                              "c2.0.8",
                              "{c2.0.7, c2.0.8};\r\n{c2.0.8,c2.1.0};\r\n"};

    void write(const QByteArray &extra_settings = {})
    {
        const QString config = QDir(workdir.path()).filePath("config");
        QString error;
        QVERIFY2(make_package(package, contents, config, true, &error), qPrintable(error));
        QFile settings(config);
        QVERIFY(settings.open(QIODevice::Append));
        settings.write(extra_settings);
    }
};

#endif
