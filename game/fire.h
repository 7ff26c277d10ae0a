#pragma once
// Burning terrain.  A projectile that sets the landscape on fire starts a
// fire in a mesh cell of a map that can catch fire; the cell burns for
// FIRE_BURN_TICKS and goes out.  The cell's flag 0x200 (was or is on fire)
// is set when it starts burning and stays set: the scorched ground remembers.
// Pathfinding asks cell_is_on_fire; the sound manager asks for the loudest
// fire near the listener.
//
// Synchronized: burning cells change only in the fire tick step and through
// try_to_start_fire, both inside the game tick.

#include "cseries/cseries.h"
#include "world.h"

enum
{
    MAXIMUM_BURNING_CELLS = 256,
    FIRE_BURN_TICKS = 8 * 30,
    MAXIMUM_FIRE_SOUND_CANDIDATES = 64,
    MAXIMUM_AMBIENT_SOUND_RADIUS = 24576,
    MAXIMUM_FIRE_SOUND_REPORTS = 7, // a report is made only while fewer were made before
};

void initialize_fire(void);
void initialize_fire_for_new_map(void);
void dispose_fire_from_old_map(void);
// The fire tick step: every burning cell burns one tick; cells burnt out go out.
void update_fire(void);

// Starts a fire in cell (cell_x, cell_y), remembering who set it (for the
// damage statistics).  False when the map cannot catch fire, the cell lies
// off the map, carries media or burns already, or every fire record is used.
bool try_to_start_fire(int16_t owner_unit_type, int32_t owner_monster_index, int16_t owner_monster_identifier,
                       int32_t cell_x, int32_t cell_y);

// True while the cell burns (false off the map).
bool cell_is_on_fire(int32_t cell_x, int32_t cell_y);

// Ticks the cell still burns; 0 when it does not.
int32_t get_fire_ticks_remaining(int32_t cell_x, int32_t cell_y);

// The number of burning cells.
int32_t get_burning_cell_count(void);

// ---- the fire as a sound source --------------------------------------------------------

// What the fire needs of the sound layer to be heard: where the listener is,
// and the index and the near and far distances of the fire ambient ('amfi').
struct fire_sound_parameters
{
    world_point3d listener;
    int16_t ambient_sound_index;
    int32_t near_distance; // full volume within
    int32_t far_distance;  // silent from
};

// The sound subsystem fills these (`get_fire_sound_parameters` of its table,
// sound_procedures.h); until it does, the fire is not heard.

// A reporter of the sound layer: an ambient sound at `location` (null: no
// place) with `volume` (8.8, 256 = full).
typedef void (*ambient_sound_report_procedure)(void *user_data, const world_point3d *location,
                                               int16_t ambient_sound_index, short_fixed volume);

// Reports the fire as one sound source.  Of up to 64 burning cells whose
// centres lie within MAXIMUM_AMBIENT_SOUND_RADIUS of the listener on each axis
// and nearer than the ambient's far distance, the loudest (full volume within
// its near distance, falling linearly to nothing at the far distance) is
// reported through `report` at the mesh height of its centre, when
// `*report_count` is below 7; the count then rises.  Nothing when no cell
// burns near or the sound layer gives no listener.
void report_fire_as_sound_source(void *user_data, int32_t *report_count, ambient_sound_report_procedure report);
