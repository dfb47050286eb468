#ifndef MESSAGES_H
#define MESSAGES_H

#include <QString>

// An error box without parent, carrying only the text; waits until closed.
void show_error(const QString &text);

// Reports a failed device result: 2 as a lost link, 1 with the caller's text.
// True when the result is 0.
bool device_result_ok(int result, const QString &failure_text);

#endif
