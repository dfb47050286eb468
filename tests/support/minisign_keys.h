#ifndef MINISIGN_KEYS_H
#define MINISIGN_KEYS_H

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStringList>

// A minisign key pair made for one test in dir (without a password), and the signatures a
// release engineer makes with it. Where minisign is not installed nothing is made.
class minisign_keys
{
public:
    minisign_keys(const QString &dir, const QString &name)
        : public_file(QDir(dir).filePath(name + ".pub")), secret_file(QDir(dir).filePath(name))
    {
        ready = run({"-G", "-W", "-p", public_file, "-s", secret_file});
    }

    bool made() const { return ready; }

    // The public key file as minisign wrote it: a comment line and the key.
    QByteArray public_key() const
    {
        QFile file(public_file);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    // The key ID as the tool shows it: 16 hex digits. minisign's comment leaves out leading zeros.
    QString key_id() const
    {
        return QString(public_key().split('\n').first().split(' ').last()).rightJustified(16, '0');
    }

    // Writes file.minisig: the legacy signature of the whole file, or of its digest with the
    // trusted comment given.
    bool sign(const QString &file, const QString &comment = {}, bool legacy = false) const
    {
        QStringList arguments{"-S", "-s", secret_file, "-m", file};
        if (legacy)
            arguments << "-l";
        if (!comment.isEmpty())
            arguments << "-t" << comment;
        return run(arguments);
    }

private:
    static bool run(const QStringList &arguments)
    {
        QProcess minisign;
        minisign.start("minisign", arguments);
        minisign.closeWriteChannel();
        return minisign.waitForFinished(30000) && minisign.exitStatus() == QProcess::NormalExit &&
               minisign.exitCode() == 0;
    }

    QString public_file, secret_file;
    bool ready = false;
};

#endif
