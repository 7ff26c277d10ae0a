#pragma once
// Ambient sound sources: the records that sound-source markers place, their
// volume fades (the script 'ambi'), and the reporter that turns them, and the
// weather, into ambient candidates for the sound manager's per-frame update.
//
// Sound sources are heard, never simulated: each machine keeps its own, and
// nothing here reads or draws the synchronized random source.
//
// Main thread only.

#include <cstdint>

#include "cseries/cseries.h"
#include "fire.h"
#include "markers.h"
#include "sound/platform_sound.h"
#include "world.h"

enum
{
    MAXIMUM_SOUND_SOURCES_PER_MAP = 64,
    // Candidates merged each frame, of which two play on the ambient channels.
    MAXIMUM_RAW_AMBIENT_SOUNDS = 7,
    MAXIMUM_STEREO_BACKGROUND_SOUNDS = 1,
};

// One ambient candidate, built fresh each frame.
struct raw_ambient_sound_data
{
    int16_t ambient_sound_index; // NONE: free
    sound_variables variables;
};

struct sound_source_data
{
    int16_t identifier; // the placing marker's identifier
    int16_t type; // the ambient definition
    short_fixed volume;
    short_fixed fade_volume; // the target of a fade
    int32_t fade_start_time; // local_time when the fade began, -1 when none
    int16_t fade_period; // ticks
    const marker_data *marker; // the placing marker (lives as long as the map)
};

// Start-up: the "sound source" array.
bool initialize_sound_vesk(void);
void initialize_sound_vesk_for_new_map(void);
void dispose_sound_vesk_from_old_map(void);

// The sound-source marker type: the palette entry's ambient definition
// (false when the tag cannot be loaded), and a record for one marker.  The
// record takes the marker's identifier; it starts silent when the marker is
// invisible.  NONE when the entry has no definition or the array is full.
bool new_sound_source_palette_entry(marker_palette_entry *entry);
int32_t new_sound_source(marker_data *marker, marker_palette_entry *entry);

// Fades the source of marker `identifier` to `volume` (8.8) over `period`
// ticks; a running fade is retargeted from the volume it has reached.
// Nothing when no source has the identifier.
void adjust_ambient_sound_source_volume(int16_t identifier, int32_t volume, int32_t period);
// The marker's position of the source; false (and a zero point) when none.
bool get_ambient_sound_source_location(int16_t identifier, world_point3d *point);
// The source of marker `identifier`, or null (tests and the bench).
sound_source_data *get_sound_source_by_identifier(int16_t identifier);

// The volume a source has now: its fade, if any, advanced to `local_time`
// (a fade that has run out, or whose clock went back, ends at its target).
int32_t sound_source_current_volume(sound_source_data *source, int32_t local_time);

// Reports the weather (at the listener) and every audible source through
// `report` while `*report_count` is below MAXIMUM_RAW_AMBIENT_SOUNDS; the
// count rises with each report.  Nothing without a listener.
void report_ambient_sound_sources_proc(void *user_data, int32_t *report_count, ambient_sound_report_procedure report);
