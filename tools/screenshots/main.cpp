// Takes the README's pictures: the site window after a check and mid-run, and the window of one
// sensor, against simulated sensors on 127.0.0.2 and on, with a sample package in a fresh
// working directory. Usage: corvalen-screenshots DIR (the PNGs go there).
#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QLineEdit>
#include <QTemporaryDir>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

#include "app/dialog.h"
#include "package_maker.h"
#include "simulated_sensor.h"
#include "site/site_window.h"

namespace
{

// The site: most sensors current, some outdated and slow enough to be seen streaming, one
// whose version no update-list group holds, one that answers nothing, and empty addresses.
const char *const versions[] = {"c2.0.8", "c2.0.7", "c2.0.8", "c2.0.7", "c2.0.8", "c2.0.1",
                                "c2.0.7", "c2.0.8", "silent", "c2.0.7", "c2.0.8", "c2.0.8"};

template <class widget_kind> widget_kind *child(QWidget *window, const QString &accessible)
{
    for (widget_kind *widget : window->findChildren<widget_kind *>())
        if (widget->accessibleName() == accessible || widget->objectName() == accessible)
            return widget;
    std::fprintf(stderr, "no widget %s\n", qPrintable(accessible));
    std::exit(1);
}

// Lets the window run until the condition holds, or for at most limit_ms.
void run_until(const std::function<bool()> &condition, int limit_ms = 60000)
{
    QElapsedTimer clock;
    clock.start();
    while (!condition() && clock.elapsed() < limit_ms)
        QApplication::processEvents(QEventLoop::AllEvents, 50);
}

void save(QWidget *window, const QString &path)
{
    QApplication::processEvents();
    if (!window->grab().save(path))
        std::exit(1);
    std::printf("%s\n", qPrintable(path));
}

} // namespace

int main(int argc, char *argv[])
{
    Dialog::use_high_dpi_scaling();
    QApplication app(argc, argv);
    if (argc != 2)
        return 2;
    const QString out = QDir(argv[1]).absolutePath();
    QTemporaryDir work;
    QDir::setCurrent(work.path());
    const package_contents contents{
        {{"app.bin", 1, QByteArray(600000, 'x')}, {"params.txt", 0, "p=1\n"}},
        "c2.0.8",
        "{c2.0.7,c2.0.8};"};
    if (!make_package("package", contents, "config", true, nullptr))
        return 1;
    std::vector<std::unique_ptr<simulated_sensor>> sensors;
    for (int i = 0; i < int(std::size(versions)); ++i) {
        sensor_config config;
        config.silent = QByteArray(versions[i]) == "silent";
        config.log = "lidar firmware version " + QByteArray(versions[i]) + "\n";
        config.image_read_rate = 40000 + 15000 * i;
        sensors.emplace_back(new simulated_sensor(config, 50661, {},
                                                  QHostAddress(QString("127.0.0.%1").arg(i + 2))));
        if (!sensors.back()->wait_listening())
            return 1;
    }

    site_window site;
    site.resize(1100, 560);
    site.show();
    child<QLineEdit>(&site, "Sensors")->setText("127.0.0.2-30");
    child<QLineEdit>(&site, "Package")->setText(QDir::toNativeSeparators(work.filePath("package")));
    const auto idle = [&] { return child<QAbstractButton>(&site, "Check")->isEnabled(); };
    child<QAbstractButton>(&site, "Check")->click();
    run_until(idle);
    save(&site, out + "/site-checked.png");
    child<QAbstractButton>(&site, "Upgrade selected")->click();
    run_until([] { return false; }, 7000); // past the log reads, the bars on their way
    save(&site, out + "/site-running.png");
    child<QAbstractButton>(&site, "Stop")->click();
    child<QAbstractButton>(&site, "Stop")->click();
    run_until(idle);
    site.hide();

    Dialog window;
    window.show();
    child<QLineEdit>(&window, "lineEdit_ip")->setText("127.0.0.3");
    child<QAbstractButton>(&window, "pushButton_connect")->click();
    child<QLineEdit>(&window, "lineEdit_input_directry")->setText(work.filePath("package"));
    save(&window, out + "/window.png");
    return 0;
}
