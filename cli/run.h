#pragma once

// The option string and usage of cfgpull.
void usage(void);

// Runs cfgpull's command line; returns only by ExitRequest (see store/exit.h)
// or with 0 when there are no arguments.
int cfgpull_main(int argc, char **argv);
