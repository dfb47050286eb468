#ifndef CONSOLE_H
#define CONSOLE_H

#include <QByteArray>
#include <QString>

// Readies standard output and error for the tool's lines; the first call in main. Every Qt
// message goes to standard error, console window or not, and standard output is unbuffered,
// so "> log.txt 2>&1" holds the whole session in order. Writing to a stream whose reader went
// away fails quietly instead of ending the process. An attached Windows console reads
// the lines in the process's code page until the tool exits.
void set_up_console();

// Writes a line to standard error at once.
void write_error_line(const QString &text);

// Gives the console back the code page it had before set_up_console.
void restore_console();

// Text saved in the system's 8-bit code page. On Windows that of the system locale, which the
// tool's UTF-8 process code page hides from Qt.
QString from_system_code_page(const QByteArray &bytes);

#endif
