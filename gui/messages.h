#ifndef MESSAGES_H
#define MESSAGES_H

#include <QString>
#include <QStringList>

#include "package/read_result.h"

// An error box without parent, carrying only the text; waits until closed.
void show_error(const QString &text);

// One box after another, in order.
void show_errors(const QStringList &texts);

// What a reader found; its failure is shown first, and then nothing counts as found.
template <class T> T value_or_shown(const read_result<T> &result)
{
    if (!result)
        show_error(result.failure);
    return result.value_or_empty();
}

#endif
