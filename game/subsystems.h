#pragma once
// The one place that joins every built subsystem to the game core.  The
// program, the headless determinism harness and the tests that run whole maps
// all register through it, so each runs exactly the steps the game runs.

// Registers the hooks of every subsystem built so far (the core's own, the
// mesh, players and world effects, the object world), in building order.
// Call once per process, before initialize_vesk.
void register_built_subsystems(void);
