#pragma once
// What the commands of vesk_netprobe share (vesk_netprobe.cpp), and the two
// commands that play a game through the networking library's roles
// (probe_roles.cpp).

#include <cstdint>
#include <cstdio>

#include "uber/uber.h"

// Prints the usage on `out`; 2, the status for bad arguments.
int usage(FILE *out = stderr);
// A decimal number within [minimum, maximum]; false for anything else.
bool parse_number(const char *text, long minimum, long maximum, long *value);
void print_address(uint32_t host, uint16_t port);
// False once interrupted or once `seconds` (0: no limit) have passed since `start`.
bool time_left(uint32_t start, long seconds);
// The pause between two passes of a command's loop.
void pause_a_little(void);
// "[ADDRESS:]PORT" of a listener: the address (0: any) and the port.
bool parse_listening_address(const char *text, uint32_t *address, long *port);
// "HOST:PORT" of a host to connect to (a name or dotted address).
bool parse_host_address(const char *text, uint32_t *host, uint16_t *port);
// The module's default configuration for this game, or null (printed).
ProtocolConfig *default_config(const char *name);

int host_command(int argc, char **argv);
int join_command(int argc, char **argv);
