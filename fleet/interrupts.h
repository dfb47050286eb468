#ifndef INTERRUPTS_H
#define INTERRUPTS_H

// From now on counts the operator's interrupts: Ctrl+C counts as one; a hang-up (SIGHUP), a
// request to terminate (SIGTERM), and on Windows the console closing, a logoff or a shutdown
// count as two, since the process is expected to end soon after. A hang-up ignored when the
// process started (nohup) stays ignored.
void count_interrupts();

int interrupts_so_far();

// The second interrupt stops the running links, in every wait and mid-image.
bool links_must_stop();

// Tells a closing console that the process has written what it must.
void interrupts_handled();

#endif
