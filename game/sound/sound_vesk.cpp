// Ambient sound sources.  See sound_vesk.h.

#include "sound_vesk.h"

#include "cseries/log.h"
#include "game_time.h"
#include "particles.h"
#include "sound_definitions.h"
#include "sound_manager.h"
#include "tag_files/data.h"

static struct sound_vesk_module
{
    datum_globals sources;
} sound_vesk = {{.name = "sound source", .size = sizeof(sound_source_data),
                 .maximum_count = MAXIMUM_SOUND_SOURCES_PER_MAP}};

bool initialize_sound_vesk(void)
{
    if (sound_vesk.sources.blocks) return true;
    return initialize_data(&sound_vesk.sources);
}

void initialize_sound_vesk_for_new_map(void)
{
    if (sound_vesk.sources.blocks) initialize_data_for_new_map(&sound_vesk.sources);
}

void dispose_sound_vesk_from_old_map(void)
{
    if (sound_vesk.sources.blocks) dispose_data_from_old_map(&sound_vesk.sources);
}

bool new_sound_source_palette_entry(marker_palette_entry *entry)
{
    entry->tag_index = (int16_t)try_definition_tag_to_index(&ambient_sound_definitions, entry->tag, true, false);
    return entry->tag_index != NONE;
}

int32_t new_sound_source(marker_data *marker, marker_palette_entry *entry)
{
    marker->data_index = NONE;
    if (!entry || entry->tag_index == NONE || !sound_vesk.sources.blocks) return NONE;
    const int32_t index = new_datum(&sound_vesk.sources);
    if (index == NONE) return NONE;
    sound_source_data *source = (sound_source_data *)get_datum(&sound_vesk.sources, index);
    source->marker = marker;
    source->type = entry->tag_index;
    source->fade_start_time = NONE;
    source->fade_period = 0;
    source->volume = source->fade_volume = (marker->flags & _marker_is_invisible_flag) ? 0 : SHORT_FIXED_ONE;
    marker->data_index = (int16_t)index;
    marker->data_identifier = source->identifier;
    // Identifier 0 would free the slot behind the array's back: such a
    // source keeps its own and cannot be found by the script.
    if (marker->identifier != 0)
        set_datum_identifier(&sound_vesk.sources, index, marker->identifier);
    else
        log_message(__FILE__, __LINE__, "sound source marker %d has identifier 0", (int)marker->marker_index);
    return index;
}

sound_source_data *get_sound_source_by_identifier(int16_t identifier)
{
    if (!sound_vesk.sources.blocks || identifier == 0) return nullptr;
    for (int32_t i = 0; i < sound_vesk.sources.count; ++i)
    {
        sound_source_data *source = (sound_source_data *)get_datum(&sound_vesk.sources, i);
        if (source && source->identifier == identifier) return source;
    }
    return nullptr;
}

int32_t sound_source_current_volume(sound_source_data *source, int32_t local_time)
{
    if (source->fade_start_time == NONE) return source->volume;
    const int32_t elapsed = local_time - source->fade_start_time;
    // A fade begun this very tick starts from its start volume: the update
    // usually runs at the same local time as the script that began it.
    if (elapsed < 0 || elapsed >= source->fade_period)
    {
        source->fade_start_time = NONE;
        source->volume = source->fade_volume;
        return source->volume;
    }
    return source->volume + (source->fade_volume - source->volume) * elapsed / source->fade_period;
}

void adjust_ambient_sound_source_volume(int16_t identifier, int32_t volume, int32_t period)
{
    sound_source_data *source = get_sound_source_by_identifier(identifier);
    if (!source) return;
    const int32_t now = game_->local_time.load();
    const bool fading = source->fade_start_time != NONE;
    if (fading ? source->fade_volume == volume : source->volume == volume) return;
    // Retargeting: the new fade leaves from where the old one has got to,
    // not from where it began.
    if (fading) source->volume = (short_fixed)sound_source_current_volume(source, now);
    source->fade_volume = (short_fixed)volume;
    source->fade_start_time = now;
    source->fade_period = (int16_t)(period < 0 ? 0 : period > 0x7FFF ? 0x7FFF : period);
}

bool get_ambient_sound_source_location(int16_t identifier, world_point3d *point)
{
    const sound_source_data *source = get_sound_source_by_identifier(identifier);
    *point = source && source->marker ? source->marker->location.position : world_point3d{0, 0, 0};
    return source && source->marker;
}

void report_ambient_sound_sources_proc(void *user_data, int32_t *report_count, ambient_sound_report_procedure report)
{
    const world_location3d *listener = get_sound_listener();
    if (!listener || !report_count || !report) return;
    const world_point2d ear{listener->position.x, listener->position.y};

    int16_t weather = NONE;
    short_fixed intensity = 0;
    if (particle_system_ambient_sound(&ear, &weather, &intensity) && weather != NONE &&
        *report_count < MAXIMUM_RAW_AMBIENT_SOUNDS)
    {
        int32_t i = intensity < 0 ? 0 : intensity > 256 ? 256 : intensity;
        report(user_data, &listener->position, weather, (short_fixed)(256 - ((256 - i) * (256 - i) >> 8)));
        ++*report_count;
    }

    if (!sound_vesk.sources.blocks) return;
    const int32_t now = game_->local_time.load();
    for (int32_t index = 0; index < sound_vesk.sources.count; ++index)
    {
        sound_source_data *source = (sound_source_data *)get_datum(&sound_vesk.sources, index);
        if (!source || !source->marker) continue;
        const ambient_sound_definition *definition = get_ambient_sound_definition(source->type);
        if (!definition) continue;
        int32_t volume = sound_source_current_volume(source, now);
        const world_point3d &at = source->marker->location.position;
        if (!(definition->flags & _ambient_sound_has_infinite_radius_flag))
        {
            if (at.x < ear.x - MAXIMUM_AMBIENT_SOUND_RADIUS || at.x > ear.x + MAXIMUM_AMBIENT_SOUND_RADIUS ||
                at.y < ear.y - MAXIMUM_AMBIENT_SOUND_RADIUS || at.y > ear.y + MAXIMUM_AMBIENT_SOUND_RADIUS)
                continue;
            const world_point2d where{at.x, at.y};
            const int32_t d = distance2d(&where, &ear);
            const int32_t inner = definition->inner_radius, outer = definition->outer_radius;
            if (d >= outer) continue;
            if (d >= inner && outer - inner >= 1) volume = (outer - d) * volume / (outer - inner);
        }
        if (volume == 0) continue;
        if (*report_count >= MAXIMUM_RAW_AMBIENT_SOUNDS) continue;
        report(user_data, (definition->flags & _ambient_sound_has_no_position_flag) ? nullptr : &at, source->type,
               (short_fixed)volume);
        ++*report_count;
    }
}
