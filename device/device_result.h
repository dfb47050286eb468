#ifndef DEVICE_RESULT_H
#define DEVICE_RESULT_H

#include <QString>

// What a failed device result says: 2 is a lost link, 1 the step's own text. Empty for 0.
QString device_failure(int result, const QString &failure_text);

#endif
