#ifndef DISK_SYNC_H
#define DISK_SYNC_H

#include <QFile>

// Asks the system to put what was written to the open file on the disk before it returns, so
// that a power cut or a crash keeps it; false when the system could not. A pipe or a terminal
// counts as synced.
bool sync_to_disk(QFile &file);

#endif
