#ifndef DEVICE_RESULT_H
#define DEVICE_RESULT_H

#include <QString>

#include "device/outcome.h"

// What a device result says: 0 done; 2 a lost link; 1 the step's own failure text.
outcome device_outcome(int result, const QString &failure_text);

#endif
