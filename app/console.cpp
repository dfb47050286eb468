#include "app/console.h"

#include <QtGlobal>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

void use_process_code_page_on_console()
{
#ifdef Q_OS_WIN
    // Qt's debug lines and the cipher's lines reach the console as bytes of the
    // process's 8-bit code page (UTF-8 by the manifest), while a console shows
    // bytes in its own OEM code page unless told otherwise.
    SetConsoleOutputCP(GetACP());
#endif
}
