// The site window as a field engineer drives it: typed sensors, clicked buttons and tick boxes,
// against simulated sensors on 127.0.40.x to 127.0.47.x, each checked by what it received, by
// its row and by its record line.
#include <QCheckBox>
#include <QHeaderView>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSpinBox>
#include <QStyle>
#include <QTableWidget>
#include <QThread>
#include <QtTest>
#include <algorithm>
#include <map>
#include <memory>

#include "gui/progress_delegate.h"
#include "message_catcher.h"
#include "package_maker.h"
#include "scoped_workdir.h"
#include "simulated_sensor.h"
#include "site/sensor_rows.h"
#include "site/site_run.h"
#include "site/site_window.h"

namespace
{

enum column { tick, address, version, package, result, progress, message };

QByteArray log_of(const QByteArray &version)
{
    return "boot ok\nlidar firmware version " + version + "\nready\n";
}

sensor_config config_of(const QByteArray &version, qint64 read_rate = 0)
{
    sensor_config config;
    config.log = log_of(version);
    config.image_read_rate = read_rate;
    return config;
}

// The keys of a record line that say what happened, not when or how fast.
QJsonObject without_times(QJsonObject line)
{
    line.remove("started");
    line.remove("seconds");
    QJsonArray files;
    for (QJsonValue file : line["files"].toArray()) {
        QJsonObject object = file.toObject();
        object.remove("seconds");
        files << object;
    }
    line["files"] = files;
    return line;
}

QList<QJsonObject> json_lines(const QString &path)
{
    QFile file(path);
    QList<QJsonObject> lines;
    if (file.open(QIODevice::ReadOnly))
        for (const QByteArray &line : file.readAll().split('\n'))
            if (!line.isEmpty())
                lines << without_times(QJsonDocument::fromJson(line).object());
    return lines;
}

// A site in a fresh working directory: its package, its sensors and the window.
struct site {
    scoped_workdir workdir;
    std::map<QString, std::unique_ptr<simulated_sensor>> sensors;
    std::unique_ptr<site_window> window;

    site()
    {
        const package_contents contents{
            {{"app.bin", 1, QByteArray("17 bytes a round.").repeated(2353)},
             {"params.txt", 0, "p=1\n"}},
            "c2.0.8",
            "{c2.0.7,c2.0.8};{c2.0.8,c2.0.9};"};
        QVERIFY(make_package(path("pkg"), contents, path("config"), true, nullptr));
        window = std::make_unique<site_window>();
        window->show();
    }

    QString path(const QString &name) const { return QDir(workdir.path()).filePath(name); }

    simulated_sensor &add(const QString &at, const sensor_config &config)
    {
        auto &sensor = sensors[at];
        sensor = std::make_unique<simulated_sensor>(config, 50661, QString(), QHostAddress(at));
        [&] { QVERIFY(sensor->wait_listening()); }();
        return *sensor;
    }

    template <class widget_kind = QWidget> widget_kind *named(const QString &name) const
    {
        for (widget_kind *widget : window->findChildren<widget_kind *>())
            if (widget->accessibleName() == name)
                return widget;
        return nullptr;
    }

    void type(const QString &name, const QString &text)
    {
        QWidget *field = named(name);
        field->setFocus();
        QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(field, text);
    }

    void click(const QString &name) { QTest::mouseClick(named(name), Qt::LeftButton); }

    QTableWidget *table() const { return named<QTableWidget>("Sensors table"); }

    int row(const QString &at) const
    {
        const auto found = table()->findItems(at, Qt::MatchExactly);
        return found.isEmpty() ? -1 : found.first()->row();
    }

    QTableWidgetItem *cell(const QString &at, int column) const
    {
        return table()->item(row(at), column);
    }

    QString text(const QString &at, int column) const { return cell(at, column)->text(); }
    bool ticked(const QString &at) const { return cell(at, tick)->checkState() == Qt::Checked; }

    // A click on the row's tick box, where the style draws it.
    void toggle(const QString &at)
    {
        QStyleOptionViewItem option;
        option.initFrom(table());
        option.rect = table()->visualItemRect(cell(at, tick));
        option.features |= QStyleOptionViewItem::HasCheckIndicator;
        const QRect box =
            table()->style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option);
        QTest::mouseClick(table()->viewport(), Qt::LeftButton, {}, box.center());
    }

    bool running() const { return !named("Check")->isEnabled(); }

    void wait_ended() { QTRY_VERIFY_WITH_TIMEOUT(!running(), 60000); }

    void check(const QString &sensors)
    {
        type("Sensors", sensors);
        type("Package", path("pkg"));
        click("Check");
        wait_ended();
    }

    bool sent_download(const QString &at) const
    {
        return sensors.at(at)->commands().join(' ').contains("download");
    }

    QList<QJsonObject> record() const { return json_lines(site_window::record_path()); }
};

} // namespace

class test_site_window : public QObject
{
    Q_OBJECT

private slots:
    void check_fills_the_table();
    void upgrade_selected_sends_to_ticked_rows_only();
    void stop_once_and_twice_data();
    void stop_once_and_twice();
    void failed_rows_come_ticked_and_are_retried();
    void closing_mid_run_stops_and_records();
    void broken_package_dials_nothing();
    void engine_events_are_coalesced();
};

// Current, outdated, refusing and missing sensors: a row each, the outdated ticked, the
// missing addresses of the range counted apart, the named one unreachable; only "readlog" sent.
void test_site_window::check_fills_the_table()
{
    site s;
    s.add("127.0.40.1", config_of("c2.0.8"));
    s.add("127.0.40.2", config_of("c2.0.7"));
    s.add("127.0.40.3", config_of("c2.0.1"));
    s.type("Sensors", "127.0.40.1-6, 127.0.40.9");
    s.type("Package", s.path("pkg"));
    s.click("Check");
    QVERIFY(s.running());
    QVERIFY(!s.named("Sensors")->isEnabled() && !s.named("Upgrade selected")->isEnabled());
    s.wait_ended();
    QCOMPARE(s.table()->rowCount(), 4);
    const QStringList results{"current", "outdated", "refused"};
    for (int i = 0; i < 3; ++i) {
        const QString at = QString("127.0.40.%1").arg(i + 1);
        QCOMPARE(s.text(at, result), results[i]);
        QCOMPARE(s.ticked(at), i == 1);
        QCOMPARE(s.text(at, package), QString("c2.0.8"));
        QCOMPARE(s.sensors[at]->commands(), QList<QByteArray>{"readlog"});
    }
    QCOMPARE(s.text("127.0.40.3", message),
             QString("error: update from c2.0.1 to c2.0.8 is forbidden"));
    QCOMPARE(s.text("127.0.40.9", result), QString("unreachable"));
    QCOMPARE(s.named<QLabel>("Summary")->text(),
             QString::fromUtf8("4 sensors: 1 current, 1 outdated, 1 refused, 1 unreachable "
                               "\u00b7 3 empty addresses"));
    QVERIFY(s.named<QLabel>("Record")->text().endsWith(
        QDir::toNativeSeparators(site_window::record_path())));
    QCOMPARE(s.record().size(), 7);
    QVERIFY(s.named<QLabel>("Package state")->text().startsWith("version c2.0.8 \u00b7 checked"));
    // A second click on a header sorts the other way.
    QHeaderView *header = s.table()->horizontalHeader();
    const QPoint on_address(header->sectionViewportPosition(address) + 5, 5);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, on_address);
    QCOMPARE(s.row("127.0.40.9"), 3);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, on_address);
    QCOMPARE(s.row("127.0.40.9"), 0);
}

// Two of three outdated sensors ticked: only they receive "download", their bars move, and the
// record says what the program's --record says of the same run.
void test_site_window::upgrade_selected_sends_to_ticked_rows_only()
{
    site s;
    for (const QString at : {"127.0.41.1", "127.0.41.2", "127.0.41.3"})
        s.add(at, config_of("c2.0.7", 20000));
    s.check("127.0.41.1-3");
    s.toggle("127.0.41.2");
    QVERIFY(!s.ticked("127.0.41.2"));
    const int checked = s.record().size();
    s.click("Upgrade selected");
    QTRY_VERIFY_WITH_TIMEOUT(s.text("127.0.41.1", result) == "streaming", 20000);
    const int share = s.cell("127.0.41.1", progress)->data(progress_role).toInt();
    QVERIFY2(share > 0 && share < 100, qPrintable(QString::number(share)));
    QVERIFY(!s.cell("127.0.41.1", progress)->toolTip().isEmpty());
    QVERIFY(s.named<QLabel>("Summary")->text().contains("streaming, "));
    s.wait_ended();
    QCOMPARE(s.text("127.0.41.1", result), QString("upgraded"));
    QCOMPARE(s.text("127.0.41.3", result), QString("upgraded"));
    QCOMPARE(s.text("127.0.41.2", result), QString("outdated"));
    QVERIFY(!s.sent_download("127.0.41.2"));
    QVERIFY(s.sent_download("127.0.41.1") && s.sent_download("127.0.41.3"));
    QCOMPARE(s.cell("127.0.41.1", progress)->data(progress_role).toInt(), 100);
    QCOMPARE(s.cell("127.0.41.1", address)->background().color(), QColor(Qt::green));
    QVERIFY(!s.ticked("127.0.41.1") && !s.ticked("127.0.41.3"));

    for (auto &sensor : s.sensors)
        sensor.second->set_config(config_of("c2.0.7"));
    QProcess program;
    program.start(
        QCoreApplication::applicationDirPath() + "/" CORVALEN_PATH,
        {"--package", s.path("pkg"), "--record", s.path("cli.jsonl"), "127.0.41.1", "127.0.41.3"});
    QVERIFY(program.waitForFinished(60000));
    QCOMPARE(program.exitCode(), 0);
    // The site window takes no other argument.
    program.start(program.program(), {"--site", "--check", "127.0.41.1"});
    QVERIFY(program.waitForFinished(10000));
    QCOMPARE(program.exitCode(), 2);
    // The lines come as the sensors end, in either order.
    const auto by_address = [](QList<QJsonObject> lines) {
        std::sort(lines.begin(), lines.end(), [](const QJsonObject &a, const QJsonObject &b) {
            return a["address"].toString() < b["address"].toString();
        });
        return lines;
    };
    QCOMPARE(by_address(s.record().mid(checked)), by_address(json_lines(s.path("cli.jsonl"))));
}

void test_site_window::stop_once_and_twice_data()
{
    QTest::addColumn<QString>("net");
    QTest::addColumn<int>("stops");
    QTest::addColumn<QString>("first");
    QTest::newRow("once: the streaming one finishes") << "127.0.42." << 1 << "upgraded";
    QTest::newRow("twice: it stops too") << "127.0.43." << 2 << "interrupted";
}

// One stream at a time: "Stop" dials no new sensor, "Stop now" stops the streaming one too.
void test_site_window::stop_once_and_twice()
{
    QFETCH(QString, net);
    QFETCH(int, stops);
    QFETCH(QString, first);
    site s;
    for (int i = 1; i <= 3; ++i)
        s.add(net + QString::number(i), config_of("c2.0.7", 20000));
    s.check(net + "1-3");
    s.type("Streams at once", "1");
    s.click("Upgrade selected");
    QTRY_VERIFY_WITH_TIMEOUT(s.sent_download(net + "1"), 20000);
    s.click("Stop");
    QCOMPARE(s.named<QPushButton>("Stop")->text(), QString("Stop now"));
    if (stops == 2)
        s.click("Stop");
    s.wait_ended();
    QCOMPARE(s.text(net + "1", result), first);
    QCOMPARE(s.sensors[net + "1"]->wait_for_shutdown(1000), stops == 1);
    for (const QString &at : {net + "2", net + "3"}) {
        QCOMPARE(s.text(at, result), QString("interrupted"));
        QVERIFY(!s.sent_download(at));
        QVERIFY(s.ticked(at));
        QCOMPARE(s.cell(at, address)->background().color(), QColor(Qt::lightGray));
    }
    QCOMPARE(s.ticked(net + "1"), stops == 2);
    QCOMPARE(s.named<QPushButton>("Stop")->text(), QString("Stop"));
}

// Verified after its restart, a sensor back at its old version fails, red and ticked; the
// second press upgrades it once it comes back new.
void test_site_window::failed_rows_come_ticked_and_are_retried()
{
    site s;
    const QString at = "127.0.44.1";
    sensor_config config = config_of("c2.0.7");
    config.restart_after_ms = 500;
    config.log_after_restart = config.log;
    s.add(at, config);
    s.check(at);
    s.click("Verify after restart");
    QVERIFY(s.named("Verify seconds")->isEnabled());
    QCOMPARE(s.named<QSpinBox>("Verify seconds")->value(), 120);
    s.type("Verify seconds", "10");
    s.click("Upgrade selected");
    s.wait_ended();
    QCOMPARE(s.text(at, result), QString("failed"));
    QCOMPARE(s.text(at, message), QString("error: sensor restarted with c2.0.7, not c2.0.8"));
    QCOMPARE(s.cell(at, address)->background().color(), QColor(255, 160, 160));
    QVERIFY(s.ticked(at));

    config.log_after_restart = log_of("c2.0.8");
    s.sensors[at]->set_config(config);
    s.click("Upgrade selected");
    s.wait_ended();
    QCOMPARE(s.text(at, result), QString("upgraded"));
    QCOMPARE(s.text(at, version), QString("c2.0.8"));
    QVERIFY(!s.ticked(at));
    QCOMPARE(s.record().last()["verified_version"].toString(), QString("c2.0.8"));
}

// Closing mid-run asks; yes stops the run at once and closes once the record has every line.
void test_site_window::closing_mid_run_stops_and_records()
{
    site s;
    const QString at = "127.0.45.1";
    s.add(at, config_of("c2.0.7", 10000));
    s.check(at);
    s.click("Upgrade selected");
    QTRY_VERIFY_WITH_TIMEOUT(s.sent_download(at), 20000);
    {
        message_catcher no(QMessageBox::No);
        s.window->close();
        QTRY_COMPARE(no.texts, QStringList{"An upgrade is running. Stop it and close?"});
    }
    QVERIFY(s.window->isVisible() && s.running());
    message_catcher yes(QMessageBox::Yes);
    s.window->close();
    QTRY_VERIFY_WITH_TIMEOUT(!s.window->isVisible(), 10000);
    QCOMPARE(yes.texts.size(), 1);
    QCOMPARE(s.record().last()["address"].toString(), at);
    QCOMPARE(s.record().last()["result"].toString(), QString("interrupted"));
    QVERIFY(!s.sensors[at]->wait_for_shutdown(500));
}

// A package file cut short after the check: the window's box, and no sensor dialled.
void test_site_window::broken_package_dials_nothing()
{
    site s;
    const QString at = "127.0.46.1";
    s.add(at, config_of("c2.0.7"));
    s.check(at);
    QFile image(s.path("pkg/app.bin"));
    QVERIFY(image.resize(image.size() - 1));
    const int connections = s.sensors[at]->connections();
    const int lines = s.record().size();
    message_catcher boxes;
    s.click("Upgrade selected");
    QTRY_VERIFY(!boxes.texts.isEmpty());
    QVERIFY2(boxes.texts.first().contains("app.bin is cut short!"),
             qPrintable(boxes.texts.first()));
    QCOMPARE(boxes.boxes.first().parent, nullptr);
    QVERIFY(s.named("Upgrade selected")->isEnabled());
    QTest::qWait(500);
    QCOMPARE(s.sensors[at]->connections(), connections);
    QCOMPARE(s.record().size(), lines);
}

// 250 sensors reporting as fast as threads can: each row changes once a look at most, and a
// look at all of them, painted, takes well under the 100 ms the window allows.
void test_site_window::engine_events_are_coalesced()
{
    record_writer record;
    site_observer observer(record);
    std::atomic<bool> done{false};
    std::vector<std::unique_ptr<QThread>> threads;
    for (int t = 0; t < 2; ++t) {
        threads.emplace_back(QThread::create([&] {
            for (qint64 taken = 0; !done; ++taken)
                for (int i = 0; i < 250; ++i)
                    observer.sensor_progress(QString("10.0.%1.%2").arg(i / 200).arg(i % 200 + 1),
                                             {"app.bin", taken % 40001, 40001, 1.0});
        }));
        threads.back()->start();
    }
    QTableWidget table(0, 7);
    table.resize(1200, 700);
    table.show();
    sensor_rows rows(&table);
    int changes = 0;
    connect(table.model(), &QAbstractItemModel::dataChanged, [&] { ++changes; });
    qint64 slowest = 0;
    for (int look = 0; look < 10; ++look) {
        QTest::qWait(100);
        QElapsedTimer clock;
        clock.start();
        const site_events events = observer.take();
        for (auto each = events.progress.cbegin(); each != events.progress.cend(); ++each)
            rows.show_progress(each.key(), each.value(), {{"app.bin", 40001}});
        table.viewport()->repaint();
        slowest = qMax(slowest, clock.elapsed());
        QVERIFY(events.progress.size() <= 250);
    }
    done = true;
    for (auto &thread : threads)
        thread->wait();
    qInfo("slowest look at 250 streaming rows, painted: %lld ms", slowest);
    QCOMPARE(table.rowCount(), 250);
    // A row's change sets its Result, bar and tooltip: a few item changes, never more per look.
    QVERIFY2(changes <= 10 * 250 * 6, qPrintable(QString::number(changes)));
    QVERIFY2(slowest < 1000, qPrintable(QString::number(slowest)));
}

QTEST_MAIN(test_site_window)
#include "test_site_window.moc"
