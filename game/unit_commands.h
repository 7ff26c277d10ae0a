#pragma once
// The command executor: at the start of every tick it takes each incoming
// command due at that tick, in queue order, works out whose it is and runs it
// through the procedure registered for its verb.  The unit layer and the
// scripts fill the verbs they own; this module fills _command_null and
// _command_sync.
//
// Main thread only; inside the tick (integers and vesk_random only).

#include <cstdint>

struct command_header;

// Runs one command (header in host order, fields still big-endian: the
// procedure decodes them with the codec of commands.h, all of them before it
// acts).  False when the command could not be decoded: it then changed
// nothing, and the executor logs and skips it.
typedef bool (*command_verb_procedure)(command_header *command);

// One procedure per verb 0 .. NUMBER_OF_COMMAND_VERBS-1 (refused, with an
// assertion, outside that range or for a taken verb).
bool register_command_verb_procedure(int16_t verb, command_verb_procedure procedure);

// The tick step _tick_unit_commands.  Per command due at game time:
//   - a negative verb carries a network player id in `player_index`: the
//     command becomes that player's with the verb made positive; an id no
//     player of the game has is logged and the command not run;
//   - a command naming no player of the game is logged and skipped (the null
//     and sync verbs act for nobody and run whoever sent them);
//   - a verb without a procedure is skipped, logged once per verb and map.
void execute_monster_commands(void);

// Forgets which unknown verbs were logged (each map logs them afresh).
void reset_command_executor(void);

// The commands subsystem's registrations: the start-up and map steps of the
// rings, the tick step of the executor, the core's command-stream procedures
// and the verbs this module runs.  Called by register_built_subsystems.
void register_command_hooks(void);
