// Markers and palettes, the marker-type table, placement, and the hooks of
// the object world.  See markers.h.

#include "markers.h"

#include <cstdlib>
#include <cstring>

#include "collection_references.h"
#include "cseries/errors.h"
#include "cseries/log.h"
#include "cseries/registration.h"
#include "cseries/tags.h"
#include "game_hooks.h"
#include "game_records.h"
#include "flags.h"
#include "game_time.h"
#include "lightning.h"
#include "mesh.h"
#include "model_animations.h"
#include "model_effects.h"
#include "models.h"
#include "object_definitions.h"
#include "objects.h"
#include "scenery.h"
#include "state_hash.h"
#include "tag_files/data.h"

struct marker_type_table
{
    marker_palette_entry *palette; // MAXIMUM_MARKER_PALETTE_ENTRIES_PER_MAP
    int32_t palette_count;
    marker_data *markers; // MAXIMUM_MARKERS_PER_MAP
    int32_t marker_count;
};

static struct marker_globals
{
    bool initialized;
    marker_type_table types[NUMBER_OF_MARKER_TYPES];
} marker_globals;

static marker_type_table *type_table(int16_t type)
{
    if (type < 0 || type >= NUMBER_OF_MARKER_TYPES || !marker_globals.initialized) return nullptr;
    return &marker_globals.types[type];
}

// Outside marker_globals: one owner per type, kept across start-ups and maps.
static procedure_table<marker_palette_procedure, NUMBER_OF_MARKER_TYPES> palette_slots("marker type palette entry");
static procedure_table<marker_placement_procedure, NUMBER_OF_MARKER_TYPES> placement_slots("marker type placement");

bool register_marker_type_procedures(int16_t type, const marker_type_procedures *procedures)
{
    if (!VASSERT(procedures, "marker type procedures missing")) return false;
    return fill_registration_pair(palette_slots.raw(), placement_slots.raw(), type,
                                  reinterpret_cast<any_procedure>(procedures->new_palette_entry),
                                  reinterpret_cast<any_procedure>(procedures->new_from_marker));
}

// ---- the core's own types --------------------------------------------------------

static bool resolve_in_group(definition_globals *group, marker_palette_entry *entry)
{
    entry->tag_index = (int16_t)try_definition_tag_to_index(group, entry->tag, true, false);
    return entry->tag_index != NONE;
}

static bool observer_palette_entry(marker_palette_entry *) { return true; }
static int32_t observer_from_marker(marker_data *, marker_palette_entry *) { return NONE; }

// A record placed from a marker takes the marker's identifier in the slot's
// identifier field, except 0: that value marks a free slot, and a map whose
// marker carries it would free the record behind its array's back (the slot
// then handed out again while cells still name it).  Such a record keeps the
// identifier its array gave it.
static bool marker_identifier_can_be_taken(const marker_data *marker)
{
    if (marker->identifier != 0) return true;
    log_message(__FILE__, __LINE__, "marker %d of type %d has identifier 0: its record keeps its own",
                (int)marker->marker_index, (int)marker->type);
    return false;
}

static bool scenery_palette_entry(marker_palette_entry *entry) { return resolve_in_group(&scenery_definitions, entry); }
static int32_t scenery_from_marker(marker_data *marker, marker_palette_entry *entry)
{
    const int32_t object_index =
        new_scenery(entry->tag_index, &marker->location, (marker->flags & _marker_is_invisible_flag) != 0);
    if (object_index == NONE) return NONE;
    if (marker_identifier_can_be_taken(marker)) set_datum_identifier(get_object_array(), object_index, marker->identifier);
    marker->data_identifier = get_object(object_index)->identifier;
    return object_index;
}

static bool model_palette_entry(marker_palette_entry *entry) { return resolve_in_group(&model_definitions, entry); }

// Models and model animations stand at the marker's height above the surface.
static world_point3d point_above_surface(const world_location3d *location)
{
    world_point3d point = location->position;
    const world_point2d where = {point.x, point.y};
    const world_distance surface = get_mesh_height(&where, _mesh_surface_height);
    if (surface != MESH_NO_HEIGHT) point.z += surface;
    return point;
}

static int32_t model_from_marker(marker_data *marker, marker_palette_entry *entry)
{
    new_model_data data;
    memset(&data, 0, sizeof(data));
    data.type = entry->tag_index;
    data.location = point_above_surface(&marker->location);
    data.yaw = marker->location.yaw;
    data.pitch = marker->location.pitch;
    const int32_t model_index = new_model(&data);
    if (model_index == NONE) return NONE;
    model_data *model = get_model(model_index);
    model->marker_index = marker->marker_index;
    if (marker_identifier_can_be_taken(marker))
        set_datum_identifier(get_model_array(), model_index, marker->identifier);
    marker->data_identifier = model->identifier;
    return model_index;
}

static bool model_animation_palette_entry(marker_palette_entry *entry)
{
    return resolve_in_group(&model_animation_definitions, entry);
}

static int32_t model_animation_from_marker(marker_data *marker, marker_palette_entry *entry)
{
    const world_point3d location = point_above_surface(&marker->location);
    const int32_t animation_index =
        new_model_animation(entry->tag_index, &location, marker->location.yaw, marker->location.pitch);
    if (animation_index == NONE) return NONE;
    model_animation_data *animation = get_model_animation(animation_index);
    if (marker_identifier_can_be_taken(marker)) animation->identifier = marker->identifier;
    animation->marker_index = marker->marker_index;
    marker->data_identifier = animation->identifier;
    return animation_index;
}

// ---- life cycle --------------------------------------------------------------------

// Once per process (and again after tests empty every registration): the
// object world's hooks register them, and a test that starts the markers alone
// gets them from the markers' start-up.
static void register_core_marker_types(void)
{
    if (placement_slots.get(_marker_observer)) return;
    const marker_type_procedures observer = {observer_palette_entry, observer_from_marker};
    const marker_type_procedures scenery = {scenery_palette_entry, scenery_from_marker};
    const marker_type_procedures model = {model_palette_entry, model_from_marker};
    const marker_type_procedures animation = {model_animation_palette_entry, model_animation_from_marker};
    register_marker_type_procedures(_marker_observer, &observer);
    register_marker_type_procedures(_marker_scenery, &scenery);
    register_marker_type_procedures(_marker_model, &model);
    register_marker_type_procedures(_marker_model_animation, &animation);
}

bool initialize_markers(void)
{
    register_core_marker_types();
    if (marker_globals.initialized) return true;
    for (int32_t type = 0; type < NUMBER_OF_MARKER_TYPES; ++type)
    {
        marker_type_table *table = &marker_globals.types[type];
        table->palette = (marker_palette_entry *)calloc(MAXIMUM_MARKER_PALETTE_ENTRIES_PER_MAP, sizeof(marker_palette_entry));
        table->markers = (marker_data *)calloc(MAXIMUM_MARKERS_PER_MAP, sizeof(marker_data));
        if (!table->palette || !table->markers)
        {
            ERROR_MESSAGE(_error_out_of_memory, "no memory for the markers");
            return false;
        }
    }
    register_state_hash_procedure_at_start_up(hash_markers);
    marker_globals.initialized = true;
    return true;
}

void dispose_markers_from_old_map(void)
{
    for (int32_t type = 0; type < NUMBER_OF_MARKER_TYPES; ++type)
    {
        marker_globals.types[type].palette_count = 0;
        marker_globals.types[type].marker_count = 0;
    }
}

bool initialize_markers_for_new_map(void)
{
    if (!marker_globals.initialized) return false;
    dispose_markers_from_old_map();
    int32_t palette_count = 0, marker_count = 0;
    const mesh_marker_palette_entry *palette = get_mesh_marker_palette_entries(&palette_count);
    const mesh_marker *markers = get_mesh_markers(&marker_count);
    for (int32_t i = 0; i < palette_count; ++i)
    {
        marker_type_table *table = type_table(palette[i].type);
        if (!table || table->palette_count >= MAXIMUM_MARKER_PALETTE_ENTRIES_PER_MAP)
        {
            log_message(__FILE__, __LINE__, "marker palette entry %d of unknown type %d dropped", (int)i,
                        (int)palette[i].type);
            continue;
        }
        marker_palette_entry *entry = &table->palette[table->palette_count++];
        memset(entry, 0, sizeof(*entry));
        entry->type = palette[i].type;
        entry->team_index = palette[i].team_index;
        entry->flags = palette[i].flags;
        entry->tag = palette[i].tag;
        entry->player_index = palette[i].player_index;
        entry->tag_index = NONE;
    }
    for (int32_t i = 0; i < marker_count; ++i)
    {
        const mesh_marker *stored = &markers[i];
        marker_type_table *table = type_table(stored->type);
        if (!table || table->marker_count >= MAXIMUM_MARKERS_PER_MAP)
        {
            log_message(__FILE__, __LINE__, "marker %d of unknown type %d dropped", (int)i, (int)stored->type);
            continue;
        }
        if (stored->palette_index != NONE &&
            (stored->palette_index < 0 || stored->palette_index >= table->palette_count))
        {
            log_message(__FILE__, __LINE__, "marker %d names palette entry %d of %d: dropped", (int)i,
                        (int)stored->palette_index, (int)table->palette_count);
            continue;
        }
        marker_data *marker = &table->markers[table->marker_count];
        memset(marker, 0, sizeof(*marker));
        marker->type = stored->type;
        marker->palette_index = stored->palette_index;
        marker->identifier = stored->identifier;
        marker->minimum_difficulty_level = stored->minimum_difficulty_level;
        marker->flags = stored->flags;
        marker->location.position = stored->position;
        marker->location.yaw = stored->yaw;
        marker->location.pitch = stored->pitch;
        marker->player_index = stored->player_index;
        marker->marker_index = (int16_t)table->marker_count;
        marker->data_index = NONE;
        marker->data_identifier = NONE;
        table->marker_count += 1;
    }
    return true;
}

// ---- lookups -------------------------------------------------------------------------

int32_t get_marker_count(int16_t type)
{
    const marker_type_table *table = type_table(type);
    return table ? table->marker_count : 0;
}

int32_t get_marker_palette_entry_count(int16_t type)
{
    const marker_type_table *table = type_table(type);
    return table ? table->palette_count : 0;
}

marker_data *get_marker_by_index(int16_t type, int32_t marker_index)
{
    marker_type_table *table = type_table(type);
    if (!table || marker_index < 0 || marker_index >= table->marker_count) return nullptr;
    return &table->markers[marker_index];
}

marker_data *get_marker_by_identifier(int16_t type, int16_t identifier)
{
    marker_type_table *table = type_table(type);
    if (!table) return nullptr;
    for (int32_t i = 0; i < table->marker_count; ++i)
        if (table->markers[i].identifier == identifier) return &table->markers[i];
    return nullptr;
}

marker_palette_entry *get_marker_palette_entry(int16_t type, int32_t palette_index)
{
    marker_type_table *table = type_table(type);
    if (!table || palette_index < 0 || palette_index >= table->palette_count) return nullptr;
    return &table->palette[palette_index];
}

int32_t new_marker_palette_entry(int16_t type, const marker_palette_entry *entry)
{
    marker_type_table *table = type_table(type);
    if (!table || table->palette_count >= MAXIMUM_MARKER_PALETTE_ENTRIES_PER_MAP) return NONE;
    marker_palette_entry *copy = &table->palette[table->palette_count];
    *copy = *entry;
    copy->type = type;
    copy->count = 0;
    copy->resolved = 0;
    copy->tag_index = NONE;
    return table->palette_count++;
}

bool palette_compatible_with_game_scoring(const marker_palette_entry *entry)
{
    if (!entry) return false;
    if (entry->flags & _marker_palette_hunted_creature_flag) return game_->scoring == _game_scoring_hunting;
    return true;
}

// ---- placement -----------------------------------------------------------------------

static bool resolve_palette_entry(int16_t type, marker_palette_entry *entry)
{
    if (entry->resolved == 0)
    {
        const marker_palette_procedure new_palette_entry = palette_slots.get(type);
        const bool ok = new_palette_entry && new_palette_entry(entry);
        entry->resolved = ok ? 1 : -1;
        if (!ok)
            log_message(__FILE__, __LINE__, "marker palette entry of type %d naming '%s' cannot be used; its markers are skipped",
                        (int)entry->type, tag_to_string(entry->tag));
    }
    return entry->resolved == 1;
}

int32_t place_markers_of_type(int16_t type)
{
    marker_type_table *table = type_table(type);
    const marker_placement_procedure new_from_marker = placement_slots.get(type);
    if (!table || !new_from_marker) return 0;
    for (int32_t i = 0; i < table->palette_count; ++i) resolve_palette_entry(type, &table->palette[i]);
    int32_t made = 0;
    for (int32_t i = 0; i < table->marker_count; ++i)
    {
        marker_data *marker = &table->markers[i];
        marker_palette_entry *entry = marker->palette_index == NONE ? nullptr : &table->palette[marker->palette_index];
        if (entry && entry->resolved != 1) continue;
        if (!entry && type != _marker_observer) continue;
        if (marker->minimum_difficulty_level > game_->difficulty_level) continue;
        const int32_t index = new_from_marker(marker, entry);
        if (index == NONE) continue;
        marker->data_index = (int16_t)index;
        if (entry) entry->count += 1;
        made += 1;
    }
    return made;
}

void get_marker_placement_order(int16_t *types)
{
    static const int16_t first[] = {_marker_observer, _marker_model, _marker_model_animation, _marker_scenery,
                                    _marker_projectile, _marker_monster, _marker_local_projectile_group,
                                    _marker_sound_source};
    int32_t count = 0;
    for (int16_t type : first) types[count++] = type;
    for (int16_t type = 0; type < NUMBER_OF_MARKER_TYPES; ++type)
    {
        bool listed = false;
        for (int16_t listed_type : first) listed = listed || listed_type == type;
        if (!listed) types[count++] = type;
    }
}

int32_t place_all_markers(void)
{
    int16_t order[NUMBER_OF_MARKER_TYPES];
    get_marker_placement_order(order);
    int32_t made = 0;
    for (int16_t type : order) made += place_markers_of_type(type);
    return made;
}

bool marker_type_is_local(int16_t type)
{
    return type == _marker_sound_source || type == _marker_local_projectile_group;
}

// Sound sources and local projectile groups are heard and seen, never read by
// the simulation: each machine keeps its own (what was made, their flags), so
// a difference there must not read as a game out of step.  Only their count,
// which the map fixes, is taken in.
void hash_markers(uint32_t *hash)
{
    for (int16_t type = 0; type < NUMBER_OF_MARKER_TYPES; ++type)
    {
        const marker_type_table *table = &marker_globals.types[type];
        state_hash_add_int32(hash, table->marker_count);
        if (marker_type_is_local(type)) continue;
        for (int32_t i = 0; i < table->marker_count; ++i)
        {
            const marker_data *marker = &table->markers[i];
            uint8_t unbatched[7 * 4];
            uint8_t *out = state_hash_begin_record(hash, sizeof(unbatched), unbatched);
            state_hash_cursor cursor = {out};
            cursor.put(marker->identifier);
            cursor.put((int32_t)marker->flags);
            cursor.put(marker->location.position.x);
            cursor.put(marker->location.position.y);
            cursor.put(marker->location.position.z);
            cursor.put(marker->data_index);
            cursor.put(marker->data_identifier);
            state_hash_end_record(hash, out, cursor.out, unbatched, sizeof(unbatched));
        }
        for (int32_t i = 0; i < table->palette_count; ++i)
        {
            state_hash_add_int32(hash, table->palette[i].tag_index);
            state_hash_add_int32(hash, table->palette[i].count);
        }
    }
}

// ---- hooks of the object world -----------------------------------------------------

static bool startup_models(void) { return initialize_models() && initialize_collection_references(); }
static bool startup_markers(void) { return initialize_markers(); }
static bool startup_objects(void) { return initialize_objects(); }
static bool startup_scenery(void) { return initialize_scenery(); }
static bool startup_model_animations(void) { return initialize_model_animations(); }
static bool startup_model_effects(void) { return initialize_model_effects(); }

// Per-map stores, one procedure per owner's start-up step: emptied in
// start-up order before the players and the mesh, freed in the reverse order.
static bool empty_model_stores(const new_game_data *)
{
    initialize_collection_references_for_new_map();
    initialize_models_for_new_map();
    return true;
}
static void free_model_stores(void)
{
    dispose_models_from_old_map();
    dispose_collection_references_from_old_map();
}
static bool empty_object_stores(const new_game_data *)
{
    initialize_definitions_for_new_map(&object_definitions);
    initialize_objects_for_new_map();
    return true;
}
static void free_object_stores(void)
{
    dispose_objects_from_old_map();
    dispose_definitions_from_old_map(&object_definitions);
}
static bool empty_scenery_stores(const new_game_data *) { initialize_scenery_for_new_map(); return true; }
static bool empty_model_animation_stores(const new_game_data *)
{
    initialize_model_animations_for_new_map();
    return true;
}
static bool empty_model_effect_stores(const new_game_data *)
{
    initialize_model_effects_for_new_map();
    return true;
}

// After the mesh: its markers and palettes are copied.
static bool copy_markers_step(const new_game_data *) { return initialize_markers_for_new_map(); }

// The placement steps follow get_marker_placement_order: observers, models and
// model animations; scenery; projectiles; units; local projectile groups;
// sound sources and then every type no step names.
static bool place_models_step(const new_game_data *)
{
    place_markers_of_type(_marker_observer);
    place_markers_of_type(_marker_model);
    place_markers_of_type(_marker_model_animation);
    return true;
}
static bool place_scenery_step(const new_game_data *) { place_markers_of_type(_marker_scenery); return true; }
static bool place_projectiles_step(const new_game_data *) { place_markers_of_type(_marker_projectile); return true; }
static bool place_units_step(const new_game_data *) { place_markers_of_type(_marker_monster); return true; }
static bool place_local_projectile_groups_step(const new_game_data *)
{
    place_markers_of_type(_marker_local_projectile_group);
    return true;
}
static bool place_sound_sources_step(const new_game_data *)
{
    int16_t order[NUMBER_OF_MARKER_TYPES];
    get_marker_placement_order(order);
    bool reached = false;
    for (int16_t type : order)
    {
        reached = reached || type == _marker_sound_source;
        if (reached) place_markers_of_type(type);
    }
    return true;
}

void register_object_world_hooks(void)
{
    register_startup_procedure(_startup_models, startup_models);
    register_startup_procedure(_startup_markers, startup_markers);
    register_startup_procedure(_startup_objects, startup_objects);
    register_startup_procedure(_startup_scenery, startup_scenery);
    register_startup_procedure(_startup_model_animations, startup_model_animations);
    register_startup_procedure(_startup_model_effects, startup_model_effects);

    register_map_store_procedures(_startup_models, empty_model_stores, free_model_stores);
    register_map_store_procedures(_startup_objects, empty_object_stores, free_object_stores);
    register_map_store_procedures(_startup_scenery, empty_scenery_stores, dispose_scenery_from_old_map);
    register_map_store_procedures(_startup_model_animations, empty_model_animation_stores,
                                  dispose_model_animations_from_old_map);
    register_map_store_procedures(_startup_model_effects, empty_model_effect_stores,
                                  dispose_model_effects_from_old_map);
    register_map_procedures(_map_markers, copy_markers_step, dispose_markers_from_old_map);
    register_map_procedures(_map_place_models, place_models_step, nullptr);
    register_map_procedures(_map_place_scenery, place_scenery_step, nullptr);
    register_map_procedures(_map_place_projectiles, place_projectiles_step, nullptr);
    register_map_procedures(_map_place_units, place_units_step, nullptr);
    register_map_procedures(_map_place_local_projectile_groups, place_local_projectile_groups_step, nullptr);
    register_map_procedures(_map_place_sound_sources, place_sound_sources_step, nullptr);

    register_tick_procedure(_tick_model_effects, update_model_effects);
    register_tick_procedure(_tick_animating_scenery, update_animating_scenery);
    register_tick_procedure(_tick_model_animations, update_model_animations);

    register_core_marker_types();
}
