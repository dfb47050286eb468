#ifndef INTERRUPTS_H
#define INTERRUPTS_H

// From now on counts the operator's interrupts: Ctrl+C, and on Windows the console closing,
// which counts as two since the system ends the process soon after.
void count_interrupts();

int interrupts_so_far();

// Tells a closing console that the process has written what it must.
void interrupts_handled();

#endif
