#include "device/device_result.h"

outcome device_outcome(int result, const QString &failure_text)
{
    if (result == 0)
        return {};
    return outcome(outcome_kind::failed,
                   result == 2 ? QString("error: tcp not connected!") : failure_text);
}
