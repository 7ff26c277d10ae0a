#pragma once
// The game core's own part of a map's life: the start-up, per-map and tick
// steps of the tag files for a game, players and teams, scoring, statistics,
// flags, the mesh and the world effects, registered into the hook table in
// their documented places (game_hooks.h).
//
// A map starts in the order of the map steps (game_hooks.h, documented in
// docs/architecture.md): tag files with the game's plug-ins; every module's
// per-map stores emptied; players, teams, flags and scoring; the mesh and its
// markers; statistics, taking the map's team count and the scoring types it
// offers; the world effects (lightning, fire, weather, wind, mesh effects,
// connectors, mirror groups); then the markers are placed by their owners.
// Disposal runs in reverse; the ended map's players and statistics are kept
// for the post-game dialogs.

#include "cseries/cseries.h"

// Registers every step named above.  Call once before initialize_vesk, after
// register_game_core_hooks and register_mesh_hooks.
void register_world_and_player_hooks(void);

// Reopens the tag files for a game: with its encoded plug-in list (`size`
// bytes) when given, else with no game plug-ins; `local_choice` 1 leaves the
// local folder out.  False (reported) when a plug-in is missing or a file is
// refused.
bool open_tag_files_for_game(const void *encoded_plugins, int32_t size, int32_t local_choice);
