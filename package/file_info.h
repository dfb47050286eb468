#ifndef FILE_INFO_H
#define FILE_INFO_H

#include <QObject>
#include <QString>

// One package file: in the settings entries the bare name, in the file list
// the full path with its size and table row.
class file_info : public QObject
{
public:
    file_info() = default;

    QString get_name() const { return name; }
    void set_name(const QString &value) { name = value; }
    int get_format() const { return format; }
    void set_format(int value) { format = value; }
    int get_size() const { return size; }
    void set_size(int value) { size = value; }
    int get_row() const { return row; }
    void set_row(int value) { row = value; }

private:
    QString name;
    int format = 0;
    int size = 0;
    int row = 0;
};

#endif
