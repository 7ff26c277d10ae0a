// Burning terrain.

#include "fire.h"

#include "cseries/registration.h"
#include "sound_procedures.h"
#include "mesh.h"
#include "state_hash.h"
#include "tag_files/data.h"

struct burning_cell
{
    int16_t identifier;
    int16_t owner_unit_type;
    int16_t owner_monster_identifier;
    int16_t cell_x, cell_y;
    int16_t unused;
    int32_t owner_monster_index;
    int32_t ticks_remaining;
};

static datum_globals burning_cell_globals = {.name = "burning cells", .size = sizeof(burning_cell),
                                             .maximum_count = MAXIMUM_BURNING_CELLS};

static void hash_fire(uint32_t *hash)
{
    for (int32_t i = 0; i < burning_cell_globals.count; ++i)
    {
        const burning_cell *cell = (const burning_cell *)get_datum(&burning_cell_globals, i);
        if (!cell) continue;
        state_hash_add_int32(hash, i);
        state_hash_add_int32(hash, cell->identifier);
        state_hash_add_int32(hash, cell->cell_x);
        state_hash_add_int32(hash, cell->cell_y);
        state_hash_add_int32(hash, cell->ticks_remaining);
        state_hash_add_int32(hash, cell->owner_unit_type);
    }
}

void initialize_fire(void)
{
    // Start-up runs once in the game; tests and tools may run it again.
    if (!burning_cell_globals.blocks) initialize_data(&burning_cell_globals);
    register_state_hash_procedure_at_start_up(hash_fire);
}

void initialize_fire_for_new_map(void) { initialize_data_for_new_map(&burning_cell_globals); }
void dispose_fire_from_old_map(void) { dispose_data_from_old_map(&burning_cell_globals); }

static int32_t find_burning_cell(int32_t cell_x, int32_t cell_y)
{
    for (int32_t i = 0; i < burning_cell_globals.count; ++i)
    {
        const burning_cell *cell = (const burning_cell *)get_datum(&burning_cell_globals, i);
        if (cell && cell->cell_x == cell_x && cell->cell_y == cell_y) return i;
    }
    return NONE;
}

void update_fire(void)
{
    data_iterator iterator = data_iterator_new(&burning_cell_globals);
    while (burning_cell *cell = (burning_cell *)data_iterator_next(&iterator))
    {
        if (--cell->ticks_remaining <= 0) delete_datum(&burning_cell_globals, iterator.index);
    }
}

bool try_to_start_fire(int16_t owner_unit_type, int32_t owner_monster_index, int16_t owner_monster_identifier,
                       int32_t cell_x, int32_t cell_y)
{
    const mesh_header *header = get_mesh_header();
    if (!header || !(header->flags & _mesh_can_catch_fire_flag)) return false;
    if (!mesh_cell_in_bounds(cell_x, cell_y)) return false;
    mesh_cell *cell = get_mesh_cell(cell_x, cell_y);
    if (cell->flags & (_mesh_cell_carries_media_flags | _mesh_cell_is_not_rendered_flag)) return false;
    if (find_burning_cell(cell_x, cell_y) != NONE) return false;
    const int32_t index = new_datum(&burning_cell_globals);
    if (index == NONE) return false;
    burning_cell *burning = (burning_cell *)get_datum(&burning_cell_globals, index);
    burning->owner_unit_type = owner_unit_type;
    burning->owner_monster_index = owner_monster_index;
    burning->owner_monster_identifier = owner_monster_identifier;
    burning->cell_x = (int16_t)cell_x;
    burning->cell_y = (int16_t)cell_y;
    burning->ticks_remaining = FIRE_BURN_TICKS;
    cell->flags |= _mesh_cell_was_or_is_on_fire_flag;
    return true;
}

bool cell_is_on_fire(int32_t cell_x, int32_t cell_y)
{
    if (!mesh_cell_in_bounds(cell_x, cell_y)) return false;
    // Only a cell marked as scorched can burn: the common answer costs one read.
    if (!(get_mesh_cell(cell_x, cell_y)->flags & _mesh_cell_was_or_is_on_fire_flag)) return false;
    return find_burning_cell(cell_x, cell_y) != NONE;
}

int32_t get_fire_ticks_remaining(int32_t cell_x, int32_t cell_y)
{
    const int32_t index = cell_is_on_fire(cell_x, cell_y) ? find_burning_cell(cell_x, cell_y) : NONE;
    return index == NONE ? 0 : ((const burning_cell *)get_datum(&burning_cell_globals, index))->ticks_remaining;
}

int32_t get_burning_cell_count(void)
{
    int32_t count = 0;
    for (int32_t i = 0; i < burning_cell_globals.count; ++i) count += get_datum(&burning_cell_globals, i) != nullptr;
    return count;
}

void report_fire_as_sound_source(void *user_data, int32_t *report_count, ambient_sound_report_procedure report)
{
    if (!report_count || !report || *report_count >= MAXIMUM_FIRE_SOUND_REPORTS) return;
    fire_sound_parameters parameters;
    const auto parameters_procedure = get_sound_procedures()->get_fire_sound_parameters;
    if (!parameters_procedure || !parameters_procedure(&parameters)) return;
    const world_point3d *listener = &parameters.listener;
    const int32_t near_distance = parameters.near_distance, far_distance = parameters.far_distance;
    int32_t candidates = 0;
    short_fixed loudest_volume = 0;
    world_point2d loudest = {0, 0};
    for (int32_t i = 0; i < burning_cell_globals.count && candidates < MAXIMUM_FIRE_SOUND_CANDIDATES; ++i)
    {
        const burning_cell *cell = (const burning_cell *)get_datum(&burning_cell_globals, i);
        if (!cell) continue;
        const world_point2d centre = {cell->cell_x * WORLD_ONE + WORLD_ONE_HALF, cell->cell_y * WORLD_ONE + WORLD_ONE_HALF};
        const int32_t dx = centre.x - listener->x, dy = centre.y - listener->y;
        if (dx < -MAXIMUM_AMBIENT_SOUND_RADIUS || dx > MAXIMUM_AMBIENT_SOUND_RADIUS ||
            dy < -MAXIMUM_AMBIENT_SOUND_RADIUS || dy > MAXIMUM_AMBIENT_SOUND_RADIUS)
            continue;
        const world_point2d ear = {listener->x, listener->y};
        const int32_t distance = distance2d(&centre, &ear);
        if (distance >= far_distance) continue;
        ++candidates;
        short_fixed volume = SHORT_FIXED_ONE;
        if (distance > near_distance && far_distance > near_distance)
            volume = (short_fixed)(((int64_t)SHORT_FIXED_ONE * (far_distance - distance)) /
                                   (far_distance - near_distance));
        if (volume > loudest_volume)
        {
            loudest_volume = volume;
            loudest = centre;
        }
    }
    if (loudest_volume == 0) return;
    const world_point3d point = {loudest.x, loudest.y, get_mesh_height(&loudest, _mesh_ground_height)};
    report(user_data, &point, parameters.ambient_sound_index, loudest_volume);
    ++*report_count;
}
