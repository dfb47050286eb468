#include "device/device_result.h"

QString device_failure(int result, const QString &failure_text)
{
    if (result == 0)
        return {};
    return result == 2 ? QString("error: tcp not connected!") : failure_text;
}
