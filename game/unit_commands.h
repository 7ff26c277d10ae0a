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
struct command_codec_state;

// Runs one command (header in host order, fields still big-endian: the
// procedure decodes them with the codec of commands.h, all of them before it
// acts).  False when the command could not be decoded: it then changed
// nothing, and the executor logs and skips it.
typedef bool (*command_verb_procedure)(command_header *command);

// One procedure per verb 0 .. NUMBER_OF_COMMAND_VERBS-1 (refused, with an
// assertion, outside that range or for a taken verb).
bool register_command_verb_procedure(int16_t verb, command_verb_procedure procedure);

// Reads every field of a command of its verb with the codec (command_decode_new
// first), exactly as the verb's procedure reads them, and acts on nothing:
// the state ends past the last field, or failed.
typedef void (*command_verb_reader_procedure)(command_codec_state *state, command_header *command);
// One reader per verb that has a procedure (refused as the procedures are).
bool register_command_verb_reader_procedure(int16_t verb, command_verb_reader_procedure procedure);

// Whether a command from outside (a peer, a film, a saved game; header in
// host order, fields as they travel) decodes: null when it does, else the
// reason (a static text).  It must hold 8 .. MAXIMUM_COMMAND_SIZE bytes, a
// verb -23 .. 23 (a negative one is read as its positive) and, when its verb
// has a reader, fields that decode and fill the command exactly.  Reads a
// copy; asserts and logs nothing.
const char *command_decode_problem(const command_header *command);

// Whether the rules of `gameplay_version` know `verb` (read as positive when
// negative): a program that plays only earlier rules cannot decode a verb
// added after them (the tutorial watcher's verdict, from 1840), and leaves
// a game whose host relays one.  False outside 0 .. NUMBER_OF_COMMAND_VERBS-1.
bool command_verb_known_to_gameplay_version(int32_t verb, int32_t gameplay_version);

// The tick step _tick_unit_commands.  Per command due at game time:
//   - a negative verb carries a network player id in `player_index`: the
//     command becomes that player's with the verb made positive; an id no
//     player of the game has is logged and the command not run;
//   - a command naming no player of the game is logged and skipped (the null
//     and sync verbs act for nobody and run whoever sent them);
//   - from gameplay version 1840 the tutorial watcher (the command sniffing
//     point of commands.h) may drop it: it does not run;
//   - a verb without a procedure is skipped, logged once per verb and map.
void execute_monster_commands(void);

// Forgets which unknown verbs were logged (each map logs them afresh).
void reset_command_executor(void);

// The commands subsystem's registrations: the start-up and map steps of the
// rings, the tick step of the executor, the core's command-stream procedures
// and the verbs this module runs.  Called by register_built_subsystems.
void register_command_hooks(void);
