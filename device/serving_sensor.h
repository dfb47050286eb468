#ifndef SERVING_SENSOR_H
#define SERVING_SENSOR_H

#include <QString>

// Marks the calling thread as serving the sensor at address while it lives: the console lines
// of its steps are that sensor's. Marks nest; the outer one holds again after an inner one ends.
class serving_sensor
{
public:
    explicit serving_sensor(const QString &address);
    ~serving_sensor();
    serving_sensor(const serving_sensor &) = delete;
    serving_sensor &operator=(const serving_sensor &) = delete;

private:
    const QString *const outer;
};

// The address of the sensor the calling thread serves; null when it serves none.
const QString *served_sensor();

#endif
