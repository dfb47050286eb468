#ifndef FILE_TABLE_H
#define FILE_TABLE_H

#include <QVector>

#include "package/file_info.h"

class QTableWidget;

// The Status column of the file table, as an upgrade run moves a row along.
const int status_column = 3;

// Shows the file list, one row per entry headed by its number, every Status "waiting"; each
// entry learns its row.
void fill_file_table(QTableWidget *table, const QVector<file_info *> &files);

// The row's image is streaming.
void mark_upgrading(QTableWidget *table, int row);

// The sensor acknowledged the row's image: "finished", the whole row green.
void mark_finished(QTableWidget *table, int row);

#endif
