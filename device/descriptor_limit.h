#ifndef DESCRIPTOR_LIMIT_H
#define DESCRIPTOR_LIMIT_H

#include <QString>
#include <QtGlobal>

// Raises the process's limit on open descriptors (files and sockets) as far as the system
// allows, and returns how many of them the sensors' links may use: the limit less a reserve for
// the process itself. Call it once, before the links start.
qint64 raise_descriptor_limit();

// How many links may stream at once within descriptors: each holds its socket, the package file,
// its decrypting reader and padding-count file and its thread's wake-up, with one to spare.
// Never less than 1.
int streams_within(qint64 descriptors);

// How many links may be open at once within descriptors while streaming of them stream; a link
// that is not streaming holds its socket alone (with one to spare). Never less than streaming.
int links_within(qint64 descriptors, int streaming);

// Whether the process has no descriptor left: asked after an open or a socket failed, so that
// the failure is told as what it is.
bool out_of_descriptors();

// What the operator is told when what (a file's path, a socket) could not be opened for want
// of a descriptor.
QString descriptor_shortage(const QString &what);

#endif
