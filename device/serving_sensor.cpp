#include "device/serving_sensor.h"

namespace
{

thread_local const QString *served = nullptr;

} // namespace

serving_sensor::serving_sensor(const QString &address) : outer(served)
{
    served = &address;
}

serving_sensor::~serving_sensor()
{
    served = outer;
}

const QString *served_sensor()
{
    return served;
}
