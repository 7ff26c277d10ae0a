#pragma once
// Every program answers "--help", given as its first argument, with its
// usage on standard output and exit status 0; a wrong command line still gets
// the usage on standard error.

#include <cstring>

inline bool tool_help_asked(int argc, char **argv) { return argc >= 2 && !strcmp(argv[1], "--help"); }
