#ifndef SITE_CHECK_H
#define SITE_CHECK_H

#include "fleet/fleet_options.h"
#include "fleet/fleet_report.h"
#include "fleet/fleet_schedule.h"
#include "package/package_check.h"

// Reads the version of every sensor the options name, up to jobs at a time, and says what the
// package would do with each (without a package: found or unreachable); sends nothing but the
// log request. Once stops.dialling fires no further sensor is dialled; once stops.links fires the
// checks under way stop. Each sensor ends in report; an address of a range where nothing
// answered is empty. True when every sensor is at the package's version (without a package:
// was found).
bool check_site(const fleet_options &options, const checked_package *package, int jobs,
                const fleet_stops &stops, fleet_report &report);

#endif
