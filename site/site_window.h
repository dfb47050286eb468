#ifndef SITE_WINDOW_H
#define SITE_WINDOW_H

#include <QTimer>
#include <QWidget>
#include <memory>
#include <optional>

#include "package/package_check.h"
#include "site/sensor_rows.h"
#include "site/site_run.h"

class Ui_site_window;

// The whole site in a window: the sensors of a site checked and upgraded side by side by the
// fleet's engine, each with its row, live while it runs, and every check and run recorded as the
// console's --record records it.
class site_window : public QWidget
{
    Q_OBJECT

public:
    explicit site_window(QWidget *parent = nullptr);
    ~site_window() override;

    // Where the check or run started now appends its record lines: records/site-YYYYMMDD.jsonl
    // in the working directory, by the local date.
    static QString record_path();

private slots:
    void on_pushButton_load_clicked();
    void on_pushButton_browse_clicked();
    void on_lineEdit_package_textChanged(const QString &text);
    void on_checkBox_verify_toggled(bool checked);
    void on_pushButton_check_clicked();
    void on_pushButton_upgrade_clicked();
    void on_pushButton_stop_clicked();

private:
    std::optional<checked_package> checked_now();
    std::optional<QStringList> confirmed_downgrades(const QStringList &addresses,
                                                    const QString &package_version);
    void start_run(run_mode started, const QVector<sensor_task> &tasks,
                   const checked_package *package, int jobs);
    void show_events();
    void run_ended();
    void set_busy(bool busy);
    void show_summary(const fleet_activity *activity = nullptr);
    void closeEvent(QCloseEvent *event) override;

    Ui_site_window *ui;
    sensor_rows rows;
    std::unique_ptr<site_run> run;
    run_mode mode = run_mode::check;
    image_sizes images;
    QTimer refresh;
    bool busy = false;
    bool close_when_done = false;
};

#endif
