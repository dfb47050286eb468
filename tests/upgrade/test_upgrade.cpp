#include <QClipboard>
#include <QMenu>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QToolTip>
#include <QtTest>
#include <map>

#include "gui/progress_delegate.h"
#include "minisign_keys.h"
#include "package_maker.h"
#include "upgrade/image_writer.h"
#include "upgrade_fixture.h"

Q_DECLARE_METATYPE(sensor_config)

// Connect to first (if any), type another address, press buttons: what shows and who is sent.
struct two_sensors_case {
    QString first, typed;
    QStringList presses;
    QString message, shown, upgraded;
    QStringList dialled;
};
Q_DECLARE_METATYPE(two_sensors_case)

// The package in the working directory's "pkg" as an operator may meet it at "Upgrade".
struct package_at_press {
    QString cut_before_pick;  // a file cut by 5 bytes before the directory is typed
    QByteArray padding;       // image1.bin's padding count, written before the pick
    QString grown_after_pick; // a file grown by a block after the pick
    bool rewritten = false;   // image1.bin's bytes change when image0.bin is announced
    QString signed_by;        // the key that signs the manifest: "key", "other" or none
    bool trust_store = false; // "key" trusted in the working directory
    bool manifest = true;
    QString message;
    int sent; // images received whole
};
Q_DECLARE_METATYPE(package_at_press)

namespace
{

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

// Times the window's repaints, notes the first row's Status cell while the title shows a run's
// share, and tries to start a second run and to close the window, as an impatient operator
// would, while it lives.
class impatient_operator : public QObject
{
public:
    explicit impatient_operator(upgrade_fixture &f)
    {
        f.dialog->installEventFilter(this);
        clock.start();
        QObject::connect(&poke, &QTimer::timeout, [this, &f] {
            QTableWidgetItem *status = f.table()->item(0, 3);
            if (f.dialog->windowTitle().contains('%'))
                seen << qMakePair(status->data(progress_role).toInt(),
                                  status->text() + " " + f.dialog->windowTitle());
            f.dialog->update();
            QTest::mouseClick(f.widget<QPushButton>("pushButton_startupgrade"), Qt::LeftButton);
            f.dialog->close();
        });
        poke.start(50);
    }
    int paints = 0;
    qint64 longest_pause_ms = 0;
    QList<QPair<int, QString>> seen; // progress, then text and title

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint) {
            ++paints;
            longest_pause_ms = qMax(longest_pause_ms, clock.restart());
        }
        return false;
    }

private:
    QElapsedTimer clock;
    QTimer poke;
};

void write_file(const QString &path, const QByteArray &bytes, QIODevice::OpenMode mode)
{
    QFile file(path);
    QVERIFY(file.open(mode));
    file.write(bytes);
}

// Records the size of every write it is given.
class recording_device : public QIODevice
{
public:
    recording_device() { open(QIODevice::WriteOnly | QIODevice::Unbuffered); }
    QList<int> writes;
    QByteArray bytes;

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *data, qint64 size) override
    {
        writes << int(size);
        bytes.append(data, int(size));
        return size;
    }
};

QByteArray image_of(int length)
{
    QByteArray image(length, '\0');
    for (int i = 0; i < length; ++i)
        image[i] = char((i * 131) ^ (i >> 11));
    return image;
}

QList<int> chunks_of(int length)
{
    QList<int> chunks;
    for (int at = 0; at < length; at += 2048)
        chunks << qMin(2048, length - at);
    return chunks;
}

} // namespace

class test_upgrade : public QObject
{
    Q_OBJECT

private slots:
    void runs_data();
    void runs();
    void console_lines_of_a_run_data();
    void console_lines_of_a_run();
    void empty_file_list_goes_to_shutdown();
    void package_checked_at_the_press_data();
    void package_checked_at_the_press();
    void upgrades_the_sensor_it_names_data();
    void upgrades_the_sensor_it_names();
    void input_mid_run();
    void slow_links_data();
    void slow_links();
    void streams_decrypted_image_data();
    void streams_decrypted_image();
    void short_last_block_streams_what_the_file_holds();

private:
    QTemporaryDir dir;
};

void test_upgrade::runs_data()
{
    QTest::addColumn<QByteArray>("log");
    QTest::addColumn<QByteArray>("version");
    QTest::addColumn<QByteArray>("update_list");
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("answer");
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("finished");
    const QByteArray log = "fw c2.0.7\n";
    const int ok = QMessageBox::Ok, cancel = QMessageBox::Cancel;
    auto row = [](const char *name, const QByteArray &log, const QByteArray &version,
                  const QByteArray &update_list, const QString &fault, int answer,
                  const QString &message, int finished) {
        QTest::newRow(name) << log << version << update_list << fault << answer << message
                            << finished;
    };
    // Faults of the second file: the package check at the press refuses it before any frame.
    auto file_fault = [&](const char *name, const QString &fault, const QString &message) {
        row(name, log, "c2.0.8", "{c2.0.7,c2.0.8};", fault, ok, message, 0);
    };
    const QString question =
        "Upgrade from high version(c2.0.7)to low version(c2.0.5)\r\nAre you sure?";
    row("empty package version", log, "", "{c2.0.7};", "", ok,
        "error: empty version detect, please check. \r\ncurrent version \"c2.0.7\", new version "
        "\"\"",
        0);
    row("empty sensor version", "no version here", "c2.0.8", "{c2.0.8};", "", ok,
        "error: empty version detect, please check. \r\ncurrent version \"\", new version "
        "\"c2.0.8\"",
        0);
    row("forbidden pair", log, "c2.0.8", "{c2.0.6,c2.0.8};{c2.0.7};", "", ok,
        "error: update from c2.0.7 to c2.0.8 is forbidden", 0);
    row("same version, one group", log, "c2.0.7", "{c2.0.7};", "", cancel, "", 3);
    row("downgrade cancelled", log, "c2.0.5", "{c2.0.5,c2.0.7};", "", cancel, question, 0);
    row("downgrade confirmed", log, "c2.0.5", "{c2.0.5,c2.0.7};", "", ok, question, 3);
    file_fault("missing companion", "no companion", "error: open file config failed");
    file_fault("missing package file", "no file", "error: file open failed!");
    file_fault("negative padding count", "padding -5",
               "error: padding of image1.bin does not match image1.bin_config!");
    file_fault("file grew since listed", "grown",
               "error: file image1.bin changed since it was listed!");
    // Sparse: a length the download command cannot carry, whatever the padding count says.
    file_fault("file of 2 GiB and more", "2 GiB", "error: file image1.bin is too large!");
    // Still connected, but closed for writing: the first download cannot leave.
    row("refused write", log, "c2.0.8", "{c2.0.7,c2.0.8};", "closed", ok,
        "error: command send failed!", 0);
}

void test_upgrade::runs()
{
    QFETCH(QByteArray, log);
    QFETCH(QByteArray, version);
    QFETCH(QByteArray, update_list);
    QFETCH(QString, fault);
    QFETCH(int, answer);
    QFETCH(QString, message);
    QFETCH(int, finished);
    upgrade_fixture f;
    sensor_config config;
    config.log = log;
    const package_contents contents{upgrade_fixture::three_files().files, version, update_list};
    QVERIFY(f.prepare(contents, config));
    f.catcher.texts.clear();
    f.catcher.answer = QMessageBox::StandardButton(answer);
    const QString second = QDir(f.package).filePath("image1.bin");
    if (fault == "no companion")
        QVERIFY(QFile::remove(second + "_config"));
    if (fault == "no file")
        QVERIFY(QFile::remove(second));
    if (fault.startsWith("padding "))
        write_file(second + "_config", fault.mid(8).toUtf8() + "\n", QIODevice::WriteOnly);
    if (fault == "grown")
        write_file(second, QByteArray(16, 'x'), QIODevice::Append);
    if (fault == "2 GiB")
        QVERIFY(QFile::resize(second, (qint64(1) << 31) + 32));
    if (fault == "closed")
        dialog_probe::device(*f.dialog)->QIODevice::close();
    const QString shown_version = f.widget<QLineEdit>("lineEdit_old_version")->text();
    f.catcher.boxes.clear();

    const qint64 took = f.press_upgrade();
    QVERIFY2(took < 8000, qPrintable(QString::number(took)));
    QCOMPARE(f.catcher.texts, message.isEmpty() ? QStringList() : QStringList({message}));
    if (message.startsWith("Upgrade from")) {
        const message_catcher::shown_box &box = f.catcher.boxes.first();
        QCOMPARE(box.title, QString("Question"));
        QCOMPARE(box.buttons, QMessageBox::Ok | QMessageBox::Cancel);
        QCOMPARE(box.default_button, QMessageBox::Cancel);
        QCOMPARE(box.parent, f.dialog.get());
    } else if (!message.isEmpty()) {
        // Error boxes stand alone, whatever window is open.
        QCOMPARE(f.catcher.boxes.first().parent, nullptr);
    }
    const QList<QByteArray> downloads = {"download image0.bin 0 5000", "download image1.bin 8 2048",
                                         "download image2.bin 16 77", "shutdown"};
    QCOMPARE(f.upgrade_commands(), downloads.mid(0, finished == 3 ? 4 : finished));
    QStringList statuses;
    for (int i = 0; i < 3; ++i)
        statuses << (i < finished ? "finished green" : "waiting");
    QCOMPARE(f.statuses(), statuses);
    QCOMPARE(f.sensor->images().size(), finished);
    for (int i = 0; i < finished; ++i)
        QVERIFY(f.sensor->images()[i].data == contents.files[i].content);
    // The sensor powers off after a whole run; the version it had is no longer shown.
    QCOMPARE(f.widget<QLineEdit>("lineEdit_old_version")->text(),
             finished == 3 ? QString() : shown_version);
}

void test_upgrade::console_lines_of_a_run_data()
{
    QTest::addColumn<sensor_config>("config");
    QTest::addColumn<QByteArray>("version");
    QTest::addColumn<QStringList>("lines");
    sensor_config refusing;
    refusing.image_ack = ack_mode::nonzero;
    sensor_config no_version;
    no_version.log = "boot ok\n";
    const QString settings = "\"app.bin\" 0 Byte 1";
    const QString version_read = "log size 44 version at 31 \"c2.0.7\"";
    const QStringList picked = {"\nget directory:", "\"<dir>/pkg/app.bin\" 112 Byte 1"};
    const QString upgrade = "\nUpgrade from \"c2.0.7\" to \"c2.0.8\" ( 207 to 208 )\n";
    const QStringList sent = {"open file \"<dir>/pkg/app.bin\"",
                              "\t--ok",
                              "send upgrade command",
                              "\t--ok",
                              "Lidar is preparing",
                              "\t--ok",
                              "send file data",
                              "\t--ok",
                              "upgrade \"<dir>/pkg/app.bin\""};
    const QStringList ready = QStringList({settings, version_read}) + picked;
    const QString new_version = "version new \"c2.0.8\"";
    const QString note = "note: package not signed";
    QTest::newRow("whole run") << sensor_config() << QByteArray("c2.0.8")
                               << ready + QStringList({new_version, upgrade, note}) + sent +
                                      QStringList({"\t--ok", "upgrade finished, Lidar power off",
                                                   "don't pull the power plug up until "
                                                   "indicator runout, please!!!"});
    QTest::newRow("image refused")
        << refusing << QByteArray("c2.0.8")
        << ready + QStringList({new_version, upgrade, note}) + sent + QStringList({"ack 1 size 4"});
    QTest::newRow("sensor without version")
        << no_version << QByteArray("c2.0.8")
        << QStringList({settings, "not found version"}) + picked + QStringList({new_version});
    QTest::newRow("downgrade cancelled")
        << sensor_config() << QByteArray("c2.0.5")
        << ready + QStringList({"version new \"c2.0.5\"",
                                "\nUpgrade from \"c2.0.7\" to \"c2.0.5\" ( 207 to 205 )\n",
                                "Cancelled"});
}

void test_upgrade::console_lines_of_a_run()
{
    QFETCH(sensor_config, config);
    QFETCH(QByteArray, version);
    QFETCH(QStringList, lines);
    upgrade_fixture f;
    console_lines console(f.workdir.path());
    QVERIFY(f.prepare({{{"app.bin", 1, QByteArray(100, 'a')}}, version, "{c2.0.5,c2.0.7,c2.0.8};"},
                      config));
    f.catcher.answer = QMessageBox::Cancel;
    f.press_upgrade();
    QCOMPARE(console.lines, lines);
}

void test_upgrade::empty_file_list_goes_to_shutdown()
{
    upgrade_fixture f;
    QVERIFY(f.prepare({{}, "c2.0.8", "{c2.0.7,c2.0.8};"}));
    QCOMPARE(f.table()->rowCount(), 0);
    f.press_upgrade();
    QCOMPARE(f.catcher.texts, QStringList());
    QCOMPARE(f.upgrade_commands(), QList<QByteArray>({"shutdown"}));
    QCOMPARE(f.widget<QLineEdit>("lineEdit_old_version")->text(), QString());

    // Pressing again runs the gate with the unchanged sensor version.
    f.press_upgrade();
    QCOMPARE(f.upgrade_commands(), QList<QByteArray>({"shutdown", "shutdown"}));
}

void test_upgrade::package_checked_at_the_press_data()
{
    QTest::addColumn<package_at_press>("c");
    const QString changed = "error: file image1.bin changed since it was listed!";
    const QString not_trusted = "error: package is not signed by a trusted key";
    QTest::newRow("cut short") << package_at_press{
        "image1.bin", {}, {}, false, {}, false, true, "error: file image1.bin is cut short!", 0};
    QTest::newRow("padding disagrees")
        << package_at_press{{},
                            "3\n",
                            {},
                            false,
                            {},
                            false,
                            true,
                            "error: padding of image1.bin does not match "
                            "image1.bin_config!",
                            0};
    QTest::newRow("grown after the pick")
        << package_at_press{{}, {}, "image1.bin", false, {}, false, true, changed, 0};
    QTest::newRow("rewritten during the run")
        << package_at_press{{}, {}, {}, true, {}, false, true, changed, 1};
    QTest::newRow("unsigned under a trust store")
        << package_at_press{{}, {}, {}, false, {}, true, true, not_trusted, 0};
    QTest::newRow("signed by another key")
        << package_at_press{{}, {}, {}, false, "other", true, true, not_trusted, 0};
    QTest::newRow("signed by the trusted key")
        << package_at_press{{}, {}, {}, false, "key", true, true, {}, 3};
    QTest::newRow("no manifest, no trust store")
        << package_at_press{{}, {}, {}, false, {}, false, false, {}, 3};
}

// Typed, connected and pressed as an operator does: the package is checked whole at the press,
// the window painting meanwhile, and a refused package sends nothing; the run sends only what
// the check hashed.
void test_upgrade::package_checked_at_the_press()
{
    QFETCH(package_at_press, c);
    upgrade_fixture f;
    const package_contents contents = upgrade_fixture::three_files();
    QVERIFY(f.write_package(contents));
    const QDir pkg(f.package);
    if (!c.signed_by.isEmpty() || c.trust_store) {
        const minisign_keys key(f.workdir.path(), "key"), other(f.workdir.path(), "other");
        if (!key.made() || !other.made())
            QSKIP("minisign is not installed");
        QVERIFY(c.signed_by.isEmpty() ||
                (c.signed_by == "key" ? key : other).sign(pkg.filePath("manifest")));
        write_file("trusted_keys", key.public_key(), QIODevice::WriteOnly);
    }
    if (!c.manifest)
        QVERIFY(QFile::remove(pkg.filePath("manifest")));
    if (!c.cut_before_pick.isEmpty())
        QVERIFY(QFile::resize(pkg.filePath(c.cut_before_pick),
                              QFileInfo(pkg.filePath(c.cut_before_pick)).size() - 5));
    if (!c.padding.isEmpty())
        write_file(pkg.filePath("image1.bin_config"), c.padding, QIODevice::WriteOnly);
    sensor_config config;
    const QString second = pkg.filePath("image1.bin");
    if (c.rewritten)
        config.on_download = [&](const QString &name) {
            if (name == "image0.bin")
                write_file(second, encrypt_package_bytes(QByteArray(2048, 'x')),
                           QIODevice::WriteOnly);
        };
    QVERIFY(f.start_sensor(config));
    f.dialog = std::make_unique<Dialog>();
    f.dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(f.dialog.get()));
    QTest::keyClicks(f.widget<QLineEdit>("lineEdit_input_directry"), f.package);
    f.widget<QLineEdit>("lineEdit_ip")->clear();
    QTest::keyClicks(f.widget<QLineEdit>("lineEdit_ip"), test_address(1));
    QTest::mouseClick(f.widget<QPushButton>("pushButton_connect"), Qt::LeftButton);
    QCOMPARE(f.widget<QLineEdit>("lineEdit_new_version")->text(), QString("c2.0.8"));
    f.catcher.texts.clear();
    if (!c.grown_after_pick.isEmpty())
        write_file(pkg.filePath(c.grown_after_pick), QByteArray(16, 'g'), QIODevice::Append);
    QSet<QString> titles;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] { titles << f.dialog->windowTitle(); });
    watch.start(0);
    QTest::mouseClick(f.widget<QPushButton>("pushButton_startupgrade"), Qt::LeftButton);
    watch.stop();
    f.settle();
    QCOMPARE(f.catcher.texts, c.message.isEmpty() ? QStringList() : QStringList(c.message));
    QVERIFY(titles.contains("checking package \u00b7 Corvalen upgrade tool"));
    const QList<received_image> images = f.sensor->images();
    for (int i = 0; i < images.size(); ++i)
        QVERIFY(images[i].data == (i < c.sent ? contents.files[i].content : QByteArray()));
    QCOMPARE(images.size(), c.sent + c.rewritten);
    QCOMPARE(f.upgrade_commands().contains("shutdown"), c.sent == 3);
}

void test_upgrade::upgrades_the_sensor_it_names_data()
{
    QTest::addColumn<two_sensors_case>("c");
    const QStringList connect_upgrade = {"connect", "startupgrade"};
    const QString second = test_address(2), fifth = test_address(5);
    QTest::newRow("another address connects anew")
        << two_sensors_case{second, fifth, connect_upgrade, "", "c2.0.6", fifth, {second, fifth}};
    QTest::newRow("Upgrade refuses another address") << two_sensors_case{
        second,
        fifth,
        {"startupgrade"},
        "error: the connected sensor is " + second + ", not " + fifth + ": press connect",
        "c2.0.7",
        "",
        {second}};
    QTest::newRow("leading zeros name the same sensor")
        << two_sensors_case{second,          test_net() + ".0.002",
                            connect_upgrade, "Lidar is already connected, don't repeat",
                            "c2.0.7",        second,
                            {second}};
    // Read as octal, 010 would be 127.N.0.8.
    QTest::newRow("leading zeros are decimal") << two_sensors_case{
        "", test_net() + ".0.010", {"connect"}, "", "c2.0.4", "", {test_address(10)}};
}

// Several sensors on one network, as a field engineer meets them; driven through the widgets.
void test_upgrade::upgrades_the_sensor_it_names()
{
    QFETCH(two_sensors_case, c);
    upgrade_fixture f;
    QVERIFY(f.write_package(
        {upgrade_fixture::three_files().files, "c2.0.8", "{c2.0.6,c2.0.7,c2.0.8};"}));
    std::map<QString, std::unique_ptr<simulated_sensor>> sensors;
    const QList<QPair<int, QByteArray>> versions{
        {2, "c2.0.7"}, {5, "c2.0.6"}, {8, "c2.0.3"}, {10, "c2.0.4"}};
    for (const auto &[host, version] : versions) {
        sensor_config config;
        config.log = "fw " + version + "\n";
        const QString address = test_address(host);
        sensors[address] = std::make_unique<simulated_sensor>(config, upgrade_fixture::sensor_port,
                                                              QString(), QHostAddress(address));
        QVERIFY(sensors[address]->wait_listening());
    }
    f.dialog = std::make_unique<Dialog>();
    f.dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(f.dialog.get()));
    QLineEdit *ip = f.widget<QLineEdit>("lineEdit_ip");
    auto type_and_press = [&](const QString &text, const QStringList &buttons) {
        ip->selectAll();
        QTest::keyClicks(ip, text);
        for (const QString &button : buttons)
            QTest::mouseClick(f.widget<QPushButton>(qPrintable("pushButton_" + button)),
                              Qt::LeftButton);
    };
    if (!c.first.isEmpty())
        type_and_press(c.first, {"connect"});
    f.widget<QLineEdit>("lineEdit_input_directry")->setText(f.package);
    QCOMPARE(f.catcher.texts, QStringList());

    type_and_press(c.typed, c.presses.mid(0, 1));
    QCOMPARE(f.widget<QLineEdit>("lineEdit_old_version")->text(), c.shown);
    type_and_press(c.typed, c.presses.mid(1));
    f.settle();
    QCOMPARE(f.catcher.texts, c.message.isEmpty() ? QStringList() : QStringList(c.message));
    QStringList reached;
    for (const auto &[address, sensor] : sensors) {
        if (sensor->connections() > 0)
            reached << address;
        const bool downloads = sensor->commands().join(' ').contains("download");
        QVERIFY2(downloads == (address == c.upgraded), qPrintable(address));
    }
    QCOMPARE(reached, c.dialled);
}

// Twenty files, the first slow. Mid-run, as an operator would: look at the first Status cell's
// tooltip, click into the Directory field, select all and paste another package, try the
// field's own menu, press Enter, close the window; scroll the table and click a cell. Only the
// scrolling takes. The table follows the streaming row to the last; afterwards the focus is
// back on "Upgrade" with no cell current.
void test_upgrade::input_mid_run()
{
    upgrade_fixture f;
    package_contents first{{}, "c2.0.8", "{c2.0.7,c2.0.8};"};
    for (int i = 0; i < 20; ++i)
        first.files.append({QString("file%1.bin").arg(i), 1, image_of(i ? 100 : 2 << 20)});
    sensor_config slow;
    slow.image_read_rate = 400000;
    QVERIFY(f.prepare(first, slow));
    // Another package with files of the same names, which the sensor's version may not take.
    package_contents second{first.files, "c2.0.9", "{c2.0.8,c2.0.9};"};
    for (package_file &file : second.files)
        file.content = image_of(3000);
    const QString other = QDir(f.workdir.path()).filePath("other");
    QVERIFY(make_package(other, second, {}, true, nullptr));
    QApplication::clipboard()->setText(other);
    f.dialog->show();
    QVERIFY(QTest::qWaitForWindowActive(f.dialog.get()));
    QWindow *window = f.dialog->windowHandle();
    QLineEdit *directory = f.widget<QLineEdit>("lineEdit_input_directry");
    const QPoint field = directory->mapTo(f.dialog.get(), directory->rect().center());
    QTableWidget *table = f.table();
    QWidget *viewport = table->viewport();
    QVERIFY(!viewport->rect().intersects(table->visualItemRect(table->item(19, 3))));
    const QRect status = table->visualItemRect(table->item(0, 3));
    QStringList tips; // the tooltip shown over the first Status cell, and the cell's own
    int scrolled = 0;
    // The operator points at the cell once it has a tooltip, 300 ms after the press at the
    // earliest: the package is checked first, which takes longer in some builds than others.
    QTimer pointing;
    const auto operate = [&] {
        QTest::mouseClick(window, Qt::LeftButton, {}, field);
        QTest::keyClick(window, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(window, Qt::Key_V, Qt::ControlModifier);
        for (const char *entry : {"Select All", "Paste"}) {
            QTest::mouseClick(window, Qt::RightButton, {}, field);
            QTest::qWait(50);
            if (auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget()))
                for (QAction *action : menu->actions())
                    if (action->text().remove('&').startsWith(entry))
                        QTest::mouseClick(menu, Qt::LeftButton, {},
                                          menu->actionGeometry(action).center());
        }
        QTest::keyClick(window, Qt::Key_Return);
        f.dialog->close();
        const QPoint at = viewport->rect().center();
        QWheelEvent wheel(at, viewport->mapToGlobal(at), {}, {0, -120}, Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(viewport, &wheel);
        scrolled = table->verticalScrollBar()->value();
        QTest::mouseClick(viewport, Qt::LeftButton, {}, status.center());
    };
    QObject::connect(&pointing, &QTimer::timeout, [&] {
        if (table->item(0, 3)->toolTip().isEmpty())
            return;
        pointing.stop();
        QCursor::setPos(viewport->mapToGlobal(status.center()));
        QToolTip::showText(QCursor::pos(), table->item(0, 3)->toolTip(), viewport, status);
        QTimer::singleShot(2000, [&] { tips << QToolTip::text() << table->item(0, 3)->toolTip(); });
        QTimer::singleShot(2100, operate);
    });
    QTimer::singleShot(300, [&] { pointing.start(50); });
    auto *upgrade = f.widget<QPushButton>("pushButton_startupgrade");
    QTest::mouseClick(upgrade, Qt::LeftButton);
    f.settle();
    QCOMPARE(f.catcher.texts, QStringList());
    const QList<received_image> images = f.sensor->images();
    QCOMPARE(images.size(), 20);
    for (int i = 0; i < images.size(); ++i)
        QVERIFY(images[i].name == first.files[i].name && images[i].data == first.files[i].content);
    QVERIFY(f.sensor->wait_for_shutdown());
    QCOMPARE(f.statuses(), QStringList(QVector<QString>(20, "finished green").toList()));
    QCOMPARE(directory->text(), f.package);
    QCOMPARE(f.widget<QLineEdit>("lineEdit_new_version")->text(), QString("c2.0.8"));
    QVERIFY(f.dialog->isVisible());
    QVERIFY(directory->isEnabled());
    QCOMPARE(tips.size(), 2);
    QVERIFY(tips[0].endsWith("left"));
    QCOMPARE(tips[0], tips[1]);
    QVERIFY(scrolled > 0);
    QVERIFY(viewport->rect().contains(table->visualItemRect(table->item(19, 3))));
    QCOMPARE(QApplication::focusWidget(), upgrade);
    QVERIFY(!table->currentIndex().isValid());
    QVERIFY(table->selectedItems().isEmpty());
}

void test_upgrade::slow_links_data()
{
    QTest::addColumn<int>("image_size");
    QTest::addColumn<qint64>("bytes_per_second");
    QTest::addColumn<qint64>("stall_after");
    QTest::newRow("64 MiB at 100 Mbit/s") << (64 << 20) << qint64(12500000) << qint64(-1);
    QTest::newRow("8 MiB at 10 Mbit/s") << (8 << 20) << qint64(1250000) << qint64(-1);
    // Slower than the system's send queue drains within one reply wait.
    QTest::newRow("1 MiB at 60 kB/s") << (1 << 20) << qint64(60000) << qint64(-1);
    QTest::newRow("256 KiB at 10 kB/s") << (256 << 10) << qint64(10000) << qint64(-1);
    QTest::newRow("stalls at 60 kB/s") << (1 << 20) << qint64(60000) << qint64(128 << 10);
    QTest::newRow("stalls at 10 kB/s") << (256 << 10) << qint64(10000) << qint64(32 << 10);
}

void test_upgrade::slow_links()
{
    QFETCH(int, image_size);
    QFETCH(qint64, bytes_per_second);
    QFETCH(qint64, stall_after);
    upgrade_fixture f;
    QByteArray image(image_size, '\0');
    for (int i = 0; i < image_size; i += 4096)
        image[i] = char(i >> 12);
    sensor_config config;
    config.image_read_rate = bytes_per_second;
    config.stall_after_image_bytes = stall_after;
    QVERIFY(f.prepare({{{"big.bin", 1, image}}, "c2.0.8", "{c2.0.7,c2.0.8};"}, config));
    f.dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(f.dialog.get()));

    auto op = std::make_unique<impatient_operator>(f);
    QElapsedTimer timer;
    timer.start();
    f.widget<QPushButton>("pushButton_startupgrade")->click();
    const qint64 took = timer.elapsed();
    const qint64 longest_pause = op->longest_pause_ms;
    const int paints = op->paints;
    const QList<QPair<int, QString>> seen = op->seen;
    op.reset(); // the operator stops once the run is over
    QVERIFY(f.dialog->isVisible());
    // The window kept painting through the transfer: a frozen one pauses for all of it.
    QVERIFY2(paints > took / 1000, qPrintable(QString::number(paints)));
    // The acknowledgement wait after the image blocks the window while the sensor reads what
    // it and the system still hold: at 10 kB/s up to two seconds where the system cannot tell.
    const qint64 ack_wait_ms = qMax<qint64>(1000, 20000 * 1000 / bytes_per_second);
    QVERIFY2(longest_pause < ack_wait_ms, qPrintable(QString::number(longest_pause)));
    // The Status cell fills while its text stays "upgrading"; the title leads with the run's
    // share, the form's title again once the run is over. A stalled row keeps its bar.
    for (int i = 0; i < seen.size(); ++i) {
        QCOMPARE(seen[i].second,
                 QString("upgrading %1 % · Corvalen upgrade tool").arg(seen[i].first));
        QVERIFY(seen[i].first >= seen.value(i - 1).first);
    }
    QVERIFY(seen.value(seen.size() / 2).first > 0);
    const int last = f.table()->item(0, 3)->data(progress_role).toInt();
    QVERIFY2(stall_after >= 0 ? last < 100 : last == 100, qPrintable(QString::number(last)));
    QCOMPARE(f.dialog->windowTitle(), QString("Corvalen upgrade tool"));
    // Whether a box said how the run ended or not, no cell looks current afterwards.
    QVERIFY(!f.table()->currentIndex().isValid());
    if (stall_after >= 0) {
        // Given up within one reply wait of the sensor's last byte, its queues drained.
        const qint64 stalled_at = stall_after * 1000 / bytes_per_second;
        QVERIFY2(took < stalled_at + 10000, qPrintable(QString::number(took)));
        QCOMPARE(f.catcher.texts, QStringList({"rror: Lidar not prepared!"}));
        return;
    }
    // Longer than one reply wait, and yet a success.
    QVERIFY2(took > 3000, qPrintable(QString::number(took)));
    QCOMPARE(f.catcher.texts, QStringList());
    QVERIFY(f.sensor->wait_for_shutdown());
    QVERIFY(f.sensor->images().first().data == image);
    QCOMPARE(
        f.upgrade_commands(),
        QList<QByteArray>({"download big.bin 1 " + QByteArray::number(image_size), "shutdown"}));
}

void test_upgrade::streams_decrypted_image_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("announced");
    QTest::addColumn<int>("shrink_to");
    QTest::addColumn<int>("result");
    const int sent = int(image_result::sent), changed = int(image_result::file_changed);
    for (int length : {0, 1, 15, 16, 17, 2047, 2048, 2049, 65535, 65536, 65537, 5 << 20})
        QTest::newRow(qPrintable(QString::number(length))) << length << length << -1 << sent;
    // Announced shorter than the plain text (a large padding count): only that many go out.
    QTest::newRow("announced 5000 of 70000") << 70000 << 5000 << -1 << sent;
    // The whole cipher length announced (no padding count): the zero tail goes out too.
    QTest::newRow("announced with padding") << 100 << 112 << -1 << sent;
    QTest::newRow("announced beyond the file") << 100 << 113 << -1 << changed;
    QTest::newRow("shrank to a block") << 300000 << 300000 << 16 << changed;
    QTest::newRow("shrank mid-image") << 300000 << 300000 << 100000 << changed;
}

void test_upgrade::streams_decrypted_image()
{
    QFETCH(int, length);
    QFETCH(int, announced);
    QFETCH(int, shrink_to);
    QFETCH(int, result);
    const QByteArray image = image_of(length);
    const QByteArray cipher = encrypt_package_bytes(image);
    const QString path = dir.filePath("image.bin");
    write_file(path, cipher, QIODevice::WriteOnly);

    crypt_stream stream;
    QCOMPARE(crypt_stream_open(&stream, "decry", path.toLocal8Bit().constData()), 0);
    if (shrink_to >= 0)
        QVERIFY(QFile::resize(path, shrink_to));
    recording_device device;
    QCOMPARE(int(write_image(device, stream, announced, [](qint64) { return true; })), result);
    crypt_stream_close(&stream);

    const QByteArray plain = image + QByteArray(cipher.size() - image.size(), '\0');
    if (result == int(image_result::sent)) {
        QCOMPARE(device.bytes.size(), announced);
        QVERIFY(device.bytes == plain.left(announced));
        QCOMPARE(device.writes, chunks_of(announced));
    } else {
        // Nothing that was not decrypted from the file goes out.
        QVERIFY(device.bytes.size() <= qMax(shrink_to, 0));
        QVERIFY(device.bytes == plain.left(device.bytes.size()));
    }
}

void test_upgrade::short_last_block_streams_what_the_file_holds()
{
    // One byte whose zero-filled block deciphers to 08 00 .. 00: its padding byte claims 16 bytes,
    // the file holds 1. A corrupt package file must not stream more than it holds.
    const QString path = dir.filePath("short.bin");
    write_file(path, "\x2f", QIODevice::WriteOnly);
    crypt_stream stream;
    QCOMPARE(crypt_stream_open(&stream, "decry", path.toLocal8Bit().constData()), 0);
    recording_device device;
    QCOMPARE(int(write_image(device, stream, 1, [](qint64) { return true; })),
             int(image_result::sent));
    crypt_stream_close(&stream);
    QCOMPARE(device.bytes, QByteArray("\x08"));
}

QTEST_MAIN(test_upgrade)
#include "test_upgrade.moc"
