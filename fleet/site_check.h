#ifndef SITE_CHECK_H
#define SITE_CHECK_H

#include "fleet/fleet_options.h"
#include "fleet/fleet_report.h"
#include "package/package_check.h"

// Reads the version of every sensor the options name, up to jobs at a time, and says what the
// package would do with each (without a package: found or unreachable); sends nothing but the
// log request. Once stopped() says so no further sensor is dialled. Each sensor ends in report;
// an address of a range where nothing answered is empty. True when every sensor is at the
// package's version (without a package: was found).
bool check_site(const fleet_options &options, const checked_package *package, int jobs,
                bool (*stopped)(), fleet_report &report);

#endif
