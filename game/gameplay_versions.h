#pragma once
// Gameplay versions: the rules a game runs under.  Behaviour that films and
// network peers depend on is gated on `current_gameplay_version`, so that an
// old film or an older peer plays by the rules it was made with.
//
// A game's parameters name their version by a version identifier (the low 16
// bits of `version`, e.g. 2182) and the version option bits; the table maps
// those to a gameplay version (e.g. 1820) and back.  A version outside the
// table is refused (NONE / false, logged): never an exit.

#include "cseries/cseries.h"

struct new_game_parameter_data;

enum
{
    DEFAULT_GAMEPLAY_VERSION = 1850,
    NUMBER_OF_GAMEPLAY_VERSIONS = 18,
    MINIMUM_JOINABLE_VERSION_IDENTIFIER = 2151,
    MAXIMUM_JOINABLE_VERSION_IDENTIFIER = 2199,
};

// The gameplay version of the game in progress (the default outside a game).
extern int32_t current_gameplay_version;

struct gameplay_version_definition
{
    int32_t gameplay_version;  // e.g. 1820
    int16_t version_identifier; // e.g. 2182
    uint32_t option_flags;     // among GAMEPLAY_VERSION_OPTION_FLAGS
    const char *name;          // "1.8.2"
};

// Row `index` (0..17, oldest first), or null.
const gameplay_version_definition *get_gameplay_version_definition(int32_t index);

// The row of a gameplay version, or null when the table has none.
const gameplay_version_definition *find_gameplay_version(int32_t gameplay_version);

// True when the table holds the version.
bool gameplay_version_is_known(int32_t gameplay_version);

// The gameplay version of a version identifier without option bits.  An
// identifier of 0 (the first release) or below the oldest row gives the
// oldest version; one between rows gives the row below it; one above the
// newest row is unknown: NONE.  An identifier's base row wins over its
// patches, but for this program's own identifier, which every player of it
// carries: that gives the default rules.  `build_number` is carried for callers that
// have it; it does not change the answer.
int32_t gameplay_version_from_version_id(int32_t version_identifier, int32_t build_number);

// Whether a player whose record carries `version_identifier` can play the
// rules of `gameplay_version`: every row of a lower identifier, the row of
// its own identifier without patch bits, and every row when it is this
// program's identifier or a newer one.  A patch row of an older program's own
// identifier is not taken on trust: a 2182 player may be a build that knew
// 1.8.2 alone.  False for a version outside the table.
bool version_identifier_plays_gameplay_version(int32_t version_identifier, int32_t gameplay_version);

// The version the parameters' version identifier and version option bits name;
// NONE (logged) when no row matches both: the caller refuses the film, the
// peer or the game.  `minimum_build_number` (the lowest build among the
// players, -1 for none) is carried for callers; it does not change the answer.
int32_t compute_gameplay_version(const new_game_parameter_data *parameters, int32_t minimum_build_number);

// Writes the row of `gameplay_version` into the parameters: clears the version
// option bits and sets the row's, `buildnum` 443, `version` the row's
// identifier.  False, with the parameters unchanged and a logged error, when
// the table has no such row.
bool update_game_parameters_for_gameplay_version(int32_t gameplay_version, new_game_parameter_data *parameters);

// The lowest gameplay version whose rules the parameters' options need.
int32_t get_minimum_gameplay_version_for_game_settings(const new_game_parameter_data *parameters);

// "1.3", "1.8.2"...; "unknown" for a version outside the table.
const char *gameplay_version_to_string(int32_t gameplay_version);

// The printable name of a version identifier: "1.8.2", or with `long_form`
// "Vesk II 1.8.2".  Identifier 0 names the first release.  An identifier
// outside the table gives "version <n>".  The text lives in a ring of static
// buffers (several may stand in one message); main thread only.
const char *get_version_string(int32_t version_identifier, bool long_form);

// A gameplay selector value (the new-game dialogs' choice of rules): -1 gives
// 1820 and no minimum (-1); a positive value gives that version and -1; a
// negative value gives 1820 and minus the value as minimum.
void get_gameplay_selector_settings(int32_t selector_value, int32_t *gameplay_version, int32_t *minimum);

// True when the selector value names only known versions (for the verify
// procedures of stored preferences).
bool gameplay_selector_value_is_valid(int32_t selector_value);
