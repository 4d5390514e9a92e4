#pragma once

// vatnode-boardsim: a BoardSimulator on a pseudo-terminal, driven by control lines on
// standard input (press, release, self-reset, unplug, plug, lamp-silent, lamp-off,
// stall, unstall, help) until a termination signal. Returns the process's exit status.
int runBoardSimulator(int argc, char *argv[]);
