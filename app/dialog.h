#ifndef DIALOG_H
#define DIALOG_H

#include <QDialog>
#include <QIcon>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVector>
#include <optional>

#include "package/file_info.h"
#include "package/package_check.h"
#include "package/settings_reader.h"
#include "upgrade/upgrade_engine.h"

class Ui_Dialog;
class tcp_device;

class Dialog : public QDialog
{
    Q_OBJECT

public:
    explicit Dialog(QWidget *parent = nullptr);
    ~Dialog() override;

    // Lets the window follow the screen's scale, before QApplication is built.
    static void use_high_dpi_scaling();

    void refresh_file_list(const QString &dir);
    QList<QStringList> read_update_list(const QString &path);
    QString read_version_file(const QString &path);

private slots:
    void on_pushButton_browse_clicked();
    void on_pushButton_startupgrade_clicked();
    void on_lineEdit_input_directry_textChanged(const QString &arg1);
    void on_pushButton_connect_clicked();
    void on_lineEdit_ip_returnPressed();

private:
    void init_dialog();
    bool confirm_downgrade();
    QVector<listed_file> listed_files() const;
    std::optional<checked_package> checked_for_run();
    outcome gate_changed(const checked_package &package) const;
    outcome run_in_table(const upgrade_plan &plan);
    void keyPressEvent(QKeyEvent *event) override;

    Ui_Dialog *ui;
    settings_reader config_reader;
    tcp_device *device = nullptr;
    QVector<file_info *> config_entries;
    QVector<file_info *> file_list;
    QList<QStringList> update_list;
    QIcon window_icon;
    QString package_dir;
    QString device_version;
    QString package_version;

    // Lets the tests look at the state that the window keeps between actions.
    friend struct dialog_probe;
};

#endif
