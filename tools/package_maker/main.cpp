// Builds an upgrade package from plain images.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>

#include "package/settings_reader.h"
#include "package_maker.h"

namespace
{

int fail(const QString &message)
{
    QTextStream(stderr) << "corvalen-make-package: " << message << '\n';
    return 1;
}

// Writes the manifest of the package in dir, whose files the settings file names.
int make_manifest(const QString &dir, const QString &config)
{
    const read_result<QVector<file_info *>> settings = settings_reader().read_config(config);
    if (!settings)
        return fail(settings.failure + " (" + config + ")");
    QString error;
    const bool written = write_manifest(dir, listed_now(*settings.value), &error);
    qDeleteAll(*settings.value);
    if (!written)
        return fail(error);
    QTextStream(stdout) << "manifest written to " << QDir(dir).filePath("manifest") << '\n';
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Writes an upgrade package: every IMAGE enciphered with its _config companion, the\n"
        "update list, the version and the manifest, and optionally the settings file that names\n"
        "the images. With --manifest, writes the manifest of an existing package.\n"
        "Sign the manifest with: minisign -S -s KEY -m DIR/manifest\n"
        "Example: corvalen-make-package --out pkg --version c2.0.8 \\\n"
        "           --update-list '{c2.0.7,c2.0.8};' --config config app.bin:0 fw.hex:1");
    parser.addHelpOption();
    const QCommandLineOption out({"o", "out"}, "Package directory to write.", "dir");
    const QCommandLineOption version("version", "Package version, e.g. c2.0.8.", "text");
    const QCommandLineOption update_list("update-list", "Upgrade groups, e.g. '{c2.0.7,c2.0.8};'.",
                                         "text");
    const QCommandLineOption config(
        "config",
        "Also write the settings file here; with --manifest, the settings file naming the "
        "package's files (default: config).",
        "path");
    const QCommandLineOption force("force", "Replace an existing package.");
    const QCommandLineOption manifest("manifest", "Write the manifest of the package in dir.",
                                      "dir");
    parser.addOptions({out, version, update_list, config, force, manifest});
    parser.addPositionalArgument("IMAGE[:FORMAT]", "Plain image; format code 0 (TXT) by default.");
    parser.process(app);

    if (parser.isSet(manifest) && !parser.isSet(out) && parser.positionalArguments().isEmpty())
        return make_manifest(parser.value(manifest),
                             parser.isSet(config) ? parser.value(config) : "config");
    if (parser.isSet(manifest) || !parser.isSet(out) || !parser.isSet(version) ||
        !parser.isSet(update_list) || parser.positionalArguments().isEmpty()) {
        QTextStream(stderr) << parser.helpText();
        return 2;
    }
    package_contents contents;
    contents.version = parser.value(version).toUtf8();
    contents.update_list = parser.value(update_list).toUtf8();
    for (const QString &argument : parser.positionalArguments()) {
        const int colon = argument.lastIndexOf(':');
        bool numeric = false;
        const int format = colon > 0 ? argument.mid(colon + 1).toInt(&numeric) : 0;
        QFile image(numeric ? argument.left(colon) : argument);
        if (!image.open(QIODevice::ReadOnly))
            return fail("cannot read " + image.fileName());
        contents.files.append({QFileInfo(image).fileName(), format, image.readAll()});
    }
    QString error;
    if (!make_package(parser.value(out), contents, parser.value(config), parser.isSet(force),
                      &error))
        return fail(error);
    QTextStream(stdout) << "package written to " << parser.value(out) << '\n';
    return 0;
}
