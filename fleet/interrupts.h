#ifndef INTERRUPTS_H
#define INTERRUPTS_H

#include <atomic>

// From now on counts the operator's interrupts: Ctrl+C counts as one; a hang-up (SIGHUP), a
// request to terminate (SIGTERM), and on Windows the console closing, a logoff or a shutdown
// count as two, since the process is expected to end soon after. A hang-up ignored when the
// process started (nohup) stays ignored.
void count_interrupts();

int interrupts_so_far();

// Set at the first interrupt: no further sensor is dialled.
const std::atomic<bool> &dialling_interrupted();

// Set at the second: the running links stop, in every wait and mid-image.
const std::atomic<bool> &links_interrupted();

// Tells a closing console that the process has written what it must.
void interrupts_handled();

#endif
