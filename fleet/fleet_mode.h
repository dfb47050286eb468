#ifndef FLEET_MODE_H
#define FLEET_MODE_H

// The tool without a window, as the arguments ask: upgrades many sensors, inspects a package,
// or prints its usage or version. Returns the exit code: 0 every sensor upgraded or skipped,
// 1 one failed or was interrupted, 2 bad arguments or a broken package.
int run_fleet_mode(int argc, char *argv[]);

#endif
