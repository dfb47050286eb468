#ifndef DESCRIPTOR_LIMIT_H
#define DESCRIPTOR_LIMIT_H

#include <QString>

// Raises the process's limit on open descriptors (files and sockets) as far as the system
// allows, and returns how many sensor links may be open at once within it: each link holds a
// socket, its thread's event-loop wake-up and the package files it reads, and a reserve is
// kept for the process itself. Call it once, before the links start; never less than 1.
int raise_descriptor_limit();

// Whether the process has no descriptor left: asked after an open or a socket failed, so that
// the failure is told as what it is.
bool out_of_descriptors();

// What the operator is told when what (a file's path, a socket) could not be opened for want
// of a descriptor.
QString descriptor_shortage(const QString &what);

#endif
