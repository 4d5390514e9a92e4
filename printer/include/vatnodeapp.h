#pragma once

// The printer program: options, logging, the full-screen projection scene and
// the session it creates. Returns the process's exit status.
int runVatnode(int argc, char *argv[]);
