#ifndef CONSOLE_LINES_H
#define CONSOLE_LINES_H

#include <QDir>
#include <QString>
#include <QStringList>
#include <QtGlobal>

// Collects the tool's qDebug lines while it lives, with a temporary directory's path written
// as "<dir>" so that the expected lines can be written out.
class console_lines
{
public:
    explicit console_lines(const QString &dir) : dir(QDir::fromNativeSeparators(dir))
    {
        current = this;
        previous = qInstallMessageHandler(collect);
    }
    ~console_lines()
    {
        qInstallMessageHandler(previous);
        current = nullptr;
    }
    console_lines(const console_lines &) = delete;
    console_lines &operator=(const console_lines &) = delete;

    QStringList lines;

private:
    static void collect(QtMsgType type, const QMessageLogContext &, const QString &text)
    {
        // Windows paths print with "\", which qDebug doubles inside quotes: compared as "/".
        if (type == QtDebugMsg)
            current->lines << QString(text)
                                  .replace("\\\\", "/")
                                  .replace('\\', '/')
                                  .replace(current->dir, "<dir>");
    }

    QString dir;
    QtMessageHandler previous;
    static inline console_lines *current = nullptr;
};

#endif
