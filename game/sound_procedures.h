#pragma once
// What the main loop, the game core, the units, the scripts, the main menu and
// the screenshots ask of the sound subsystem, in one table that the sound subsystem registers whole
// (`register_sound_procedures`).  This header is the sound subsystem's one
// face to the layers below it.
//
// Every member may be null, and each is until the sound subsystem registers its table:
// a null member is silent (or, for the fire, unheard), which is also what the
// program does without a sound subsystem.  Sounds are heard, not simulated:
// no member may draw from the synchronized random source or change the game.
//
// Main thread only.

#include "cseries/cseries.h"
#include "world.h"

struct fire_sound_parameters; // fire.h

struct sound_procedures
{
    // Plays sound definition `sound_index` at object `object_index` (never
    // called with NONE for either).  The scripts, unit queries and attacks.
    void (*play_object_sound)(int32_t object_index, int16_t sound_index);
    // Plays a sound tag on this machine, to the listener: the game sounds
    // (game_sounds.h) and the screenshot's '!scr'.
    void (*play_local_sound)(tag sound_tag);
    // A model animation's forward or backward sound at `location`.
    void (*play_sound_at_location)(int16_t sound_index, const world_point3d *location);
    // A projectile's flight, rebound or group sound at its object.
    void (*play_projectile_sound)(int16_t sound_index, int32_t object_index, const world_point3d *location,
                                  short_fixed pitch, uint16_t flags);
    // The script 'soun': sound definition `sound_index`; `source_identifier`
    // NONE and a null `location` play it to the listener everywhere.  Pitch
    // 256 is normal.
    void (*play_sound_with_flags)(int16_t sound_index, int16_t source_identifier, const world_location3d *location,
                                  int32_t pitch, uint32_t flags);
    // The script 'ambi': fades ambient sound source `source_identifier` to
    // `volume` (0..255 of full) over `fade_ticks`.
    void (*adjust_ambient_sound_source_volume)(int16_t source_identifier, int32_t volume, int32_t fade_ticks);
    // The listener and the fire ambient's index and distances; false while
    // there is no listener (the fire is then not heard).
    bool (*get_fire_sound_parameters)(fire_sound_parameters *parameters);
    // Once per pass of the main loop, after the frame, with the local ticks
    // the pass advanced.
    void (*update_sound_manager)(int32_t local_ticks);
    // Object `object_index` is being deleted (its slot is still valid): its
    // sounds flagged to stop with their source stop, the rest finish where
    // it was last and follow nothing.  Interface only: nothing synchronized.
    void (*orphan_object_sounds)(int32_t object_index);
    // The main menu's music: started when the menu is entered, stopped when it
    // is left for anything but the preferences dialog (whose box plays and
    // stops the music itself).
    void (*start_main_menu_music)(void);
    void (*stop_main_menu_music)(void);
};

// The sound subsystem's table, kept by pointer (a static record).  Refused
// (assertion, the first kept) for null or when a table is registered already.
bool register_sound_procedures(const sound_procedures *procedures);

// The registered table; never null: until one is registered, every member is null.
const sound_procedures *get_sound_procedures(void);

// Plays the sound definition `sound_index` at the object `object_index`.
// Nothing for a NONE object or sound, or without the table's member.
void _play_object_sound(int32_t object_index, int16_t sound_index);

// Tells the sound subsystem that object `object_index` goes away.  Nothing
// without the table's member.
void _orphan_object_sounds(int32_t object_index);
