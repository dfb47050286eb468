#include "base/console.h"

#include <QtGlobal>
#include <csignal>
#include <cstdio>
#include <cstdlib>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace
{

// As Qt's default handler prints a message, but always to standard error: without a console
// window Qt would send it to the debugger instead.
void write_message_line(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    const QString line = qFormatLogMessage(type, context, message);
    if (line.isNull())
        return;
    write_error_line(line);
    if (type == QtFatalMsg)
        restore_console();
}

#ifdef Q_OS_WIN
UINT saved_output_page = 0;

BOOL WINAPI restore_on_console_event(DWORD)
{
    restore_console();
    return FALSE;
}

// The cipher's lines and Qt's messages are bytes in the process's code page (UTF-8 by the
// manifest); a console shows bytes in its own code page, which is shared with the shell.
void use_process_code_page_on_console()
{
    const UINT page = GetConsoleOutputCP();
    if (page == 0 || page == GetACP() || !SetConsoleOutputCP(GetACP()))
        return;
    saved_output_page = page;
    std::atexit(restore_console);
    SetConsoleCtrlHandler(restore_on_console_event, TRUE);
}
#endif

} // namespace

void set_up_console()
{
#ifndef Q_OS_WIN
    // A reader that went away (a pipe into "head -1") makes writes fail, which the tool ignores,
    // rather than end the process.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    setvbuf(stdout, nullptr, _IONBF, 0);
    qInstallMessageHandler(write_message_line);
#ifdef Q_OS_WIN
    use_process_code_page_on_console();
#endif
}

// What the console does not take is lost, never the run: the results go unexamined.
void write_error_line(const QString &text)
{
    fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
    fflush(stderr);
}

void restore_console()
{
#ifdef Q_OS_WIN
    if (saved_output_page != 0)
        SetConsoleOutputCP(saved_output_page);
#endif
}

QString from_system_code_page(const QByteArray &bytes)
{
#ifdef Q_OS_WIN
    DWORD page = CP_ACP;
    GetLocaleInfoW(LOCALE_SYSTEM_DEFAULT, LOCALE_IDEFAULTANSICODEPAGE | LOCALE_RETURN_NUMBER,
                   reinterpret_cast<LPWSTR>(&page), sizeof page / sizeof(wchar_t));
    const int length = MultiByteToWideChar(page, 0, bytes.constData(), bytes.size(), nullptr, 0);
    QString text(length, QChar());
    MultiByteToWideChar(page, 0, bytes.constData(), bytes.size(),
                        reinterpret_cast<wchar_t *>(text.data()), length);
    return text;
#else
    return QString::fromLocal8Bit(bytes);
#endif
}
