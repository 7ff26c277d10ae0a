// The overhead map: the battlefield's picture, blips, flags, sketches and the camera.
#include "overhead_map.h"
#include "overhead_map_procedures.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "observer.h"
#include "bitmap_drawing.h"
#include "bitmaps.h"
#include "console/console_popup.h"
#include "cseries/errors.h"
#include "cseries/log.h"
#include "tag_files/data.h"
#include "flags.h"
#include "game_hooks.h"
#include "game_records.h"
#include "game_time.h"
#include "gameplay_versions.h"
#include "mesh.h"
#include "mesh_format.h"
#include "monster_definitions.h"
#include "monster_visibility.h"
#include "monsters.h"
#include "objects.h"
#include "commands.h"
#include "game_preferences.h"
#include "hardware_rasterizer.h"
#include "players.h"
#include "recording.h"
#include "render/mesh_region.h"
#include "render/render_effects.h"
#include "render/render_surfaces.h"
#include "screen.h"
#include "selection.h"
#include "shapes.h"
#include "sniffing.h"
#include "vesk.h"
#include "vesk/string_lists.h"

static overhead_map_globals overhead;

const uint8_t banner_icon_bits[6] = {0x3F, 0x3F, 0x33, 0x33, 0x3F, 0x3F};
const uint8_t token_icon_bits[6] = {0x33, 0x33, 0x0C, 0x0C, 0x33, 0x33};

// Slots 0-5 in friend-or-foe colours; in team colours slots 4 and up are the
// teams' and only 0-3 come from here.
static const rgb_color overhead_map_slot_colors[NUMBER_OF_FRIEND_OR_FOE_SLOTS] = {
    {65535, 65535, 0, 0}, // camera
    {0, 0, 65535, 0}, // allied units
    {65535, 65535, 0, 0}, // neutral
    {65535, 0, 0, 0}, // sketch lines
    {0, 65535, 0, 0}, // own
    {65535, 0, 0, 0}, // enemy
};
// A team without a captain has no colour of its own: a neutral grey.
static const rgb_color captainless_team_color = {32768, 32768, 32768, 0};

enum
{
    OVERHEAD_MAP_EDGE_INSET = 5, // from the view hole's top-right corner
    OVERHEAD_MAP_FRAME_MARGIN = 10,
};

static int32_t local_time_now(void) { return game_->local_time.load(); }

static bool hardware_renderer(void) { return active_screen.rasterizer_code != _rasterizer_software; }

overhead_map_globals *get_overhead_map_globals(void) { return &overhead; }
bool overhead_map_initialized(void) { return overhead.initialized; }

// ---- geometry ---------------------------------------------------------------------------

void overhead_map_window_size(int16_t width, int16_t height, int16_t *window_width, int16_t *window_height)
{
    *window_width = width <= 800 ? 128 : width <= 1280 ? 256 : width <= 1680 ? 384 : 512;
    *window_height = height <= 640 ? 128 : height <= 1080 ? 256 : height <= 1400 ? 384 : 512;
}

point2d overhead_map_picture_position(const world_point2d *point)
{
    point2d p = {0, 0};
    const bitmap_data *picture = overhead.original_bitmap;
    if (!picture || mesh_width <= 0 || mesh_height <= 0) return p;
    // Real arithmetic truncated toward zero, as every conversion of the map.
    const double fx = (1.0 - (double)point->x / 512.0 / mesh_width) * picture->width;
    const double fy = (double)point->y / 512.0 / mesh_height * picture->height;
    p.x = (int16_t)std::clamp(fx, -32768.0, 32767.0);
    p.y = (int16_t)std::clamp(fy, -32768.0, 32767.0);
    return p;
}

// Screen position of a world point relative to the map's top-left corner.
static point2d overhead_map_relative_position(const world_point2d *point)
{
    const point2d picture = overhead_map_picture_position(point);
    point2d p;
    p.x = (int16_t)((picture.x - overhead.offset.x) * overhead.scale);
    p.y = (int16_t)((picture.y - overhead.offset.y) * overhead.scale);
    return p;
}

void get_overhead_map_view_projection_corners(const world_point2d *center, angle yaw, world_point2d corners[4])
{
    const int32_t dx = cosine_table[trig_index_rounded(yaw)], dy = sine_table[trig_index_rounded(yaw)];
    const angle perpendicular = (angle)(yaw + 16384);
    const int32_t px = cosine_table[trig_index_rounded(perpendicular)],
                  py = sine_table[trig_index_rounded(perpendicular)];
    static const int32_t forward[4] = {15360, 15360, 3072, 3072};
    static const int32_t side[4] = {-7680, 7680, 3584, -3584};
    for (int32_t i = 0; i < 4; ++i)
    {
        corners[i].x = center->x + ((forward[i] * dx + side[i] * px) >> TRIG_SHIFT);
        corners[i].y = center->y + ((forward[i] * dy + side[i] * py) >> TRIG_SHIFT);
    }
}

// ---- the picture --------------------------------------------------------------------------

static int16_t overhead_map_collection(void)
{
    mesh_header *header = get_mesh_header();
    if (!header) return NONE;
    if (header->overhead_map_collection_index == NONE && header->overhead_map_collection_tag != NONE &&
        header->overhead_map_collection_tag != 0)
    {
        const int32_t index = get_collection_index(header->overhead_map_collection_tag);
        if (index != NONE) header->overhead_map_collection_index = (int16_t)index;
    }
    return header->overhead_map_collection_index;
}

bitmap_data *get_original_overhead_map_bitmap(void)
{
    const int16_t collection = overhead_map_collection();
    if (collection == NONE) return nullptr;
    if (!get_sequence(collection, 0))
    {
        ERROR_MESSAGE(_error_data_mismatch, "sequence #0 not found in overhead map collection");
        return nullptr;
    }
    bitmap_data *bitmap = get_sequence_bitmap(collection, 0, 0, 0, nullptr, nullptr);
    if (!bitmap)
    {
        ERROR_MESSAGE(_error_data_mismatch, "bitmap not found in overhead map collection");
        return nullptr;
    }
    // One byte a pixel, in rows the map can address.
    if ((bitmap->flags & (_1bit_transparency_encoded_flag | _no_row_address_table_flag |
                          _4bit_transparency_encoded_flag | _bitmap_extended_encoding_flag)) ||
        bitmap->logical_bit_depth != 8 || bitmap->bytes_per_row != bitmap->width)
    {
        ERROR_MESSAGE(_error_data_mismatch, "incorrect bitmap format for overhead map");
        return nullptr;
    }
    if (bitmap->width > MAXIMUM_OVERHEAD_MAP_DIMENSION || bitmap->height > MAXIMUM_OVERHEAD_MAP_DIMENSION)
    {
        ERROR_MESSAGE(_error_data_mismatch, "overhead map dimensions exceed %dx%d", MAXIMUM_OVERHEAD_MAP_DIMENSION,
                      MAXIMUM_OVERHEAD_MAP_DIMENSION);
        return nullptr;
    }
    return bitmap;
}

// ---- palettes -------------------------------------------------------------------------------

static bool store_shading_pixel(shading_table *table, int16_t encoding, int32_t index, const rgb_color *color)
{
    switch (encoding)
    {
    case _16bit_555_encoding:
        store_pixel16(table->pixels + 2 * index, rgb_color_to_pixel16_555(color));
        return true;
    case _16bit_565_encoding:
        store_pixel16(table->pixels + 2 * index, rgb_color_to_pixel16_565(color));
        return true;
    case _32bit_encoding:
        store_pixel32(table->pixels + 4 * index, rgb_color_to_pixel32(color));
        return true;
    default:
        return false;
    }
}

// The colour of palette index `index` through `table`, back as an rgb colour.
static rgb_color shading_table_color(const shading_table *table, int16_t encoding, int32_t index)
{
    rgb_color c = {0, 0, 0, 0};
    if (encoding == _32bit_encoding)
    {
        const uint32_t p = load_pixel32(table->pixels + 4 * index);
        c.red = (uint16_t)((p >> 8) & 0xFF00);
        c.green = (uint16_t)(p & 0xFF00);
        c.blue = (uint16_t)(p << 8);
    }
    else if (encoding == _16bit_565_encoding)
    {
        const uint16_t p = load_pixel16(table->pixels + 2 * index);
        c.red = (uint16_t)((p >> 11) << 11);
        c.green = (uint16_t)((p >> 5) << 10);
        c.blue = (uint16_t)(p << 11);
    }
    else if (encoding == _16bit_555_encoding)
    {
        const uint16_t p = load_pixel16(table->pixels + 2 * index);
        c.red = (uint16_t)((p >> 10) << 11);
        c.green = (uint16_t)((p >> 5) << 11);
        c.blue = (uint16_t)(p << 11);
    }
    return c;
}

// The team's record; null for NONE and other indexes no team of the game has.
static const team_data *team_or_null(int32_t team_index)
{
    return team_index >= 0 && team_index < get_team_count() ? get_team_data(team_index) : nullptr;
}

static int32_t overhead_map_team_slot_count(void)
{
    int32_t teams = get_team_count();
    // More teams than slots would write past the colour arrays.
    if (!VASSERT(teams <= MAXIMUM_OVERHEAD_MAP_TEAMS, "more teams than the overhead map has colours"))
        teams = MAXIMUM_OVERHEAD_MAP_TEAMS;
    return std::max(teams, 0);
}

static rgb_color team_color(int32_t team_index)
{
    const team_data *team = team_or_null(team_index);
    if (team && team->captain_player_index != NONE)
    {
        const player_data *captain = team->captain_player_index < get_player_count()
                                         ? get_player_data(team->captain_player_index)
                                         : nullptr;
        if (captain) return captain->appearance.primary_color;
    }
    return captainless_team_color;
}

bool build_overhead_map_shading_table(shading_table *table, uint8_t color_indexes[NUMBER_OF_OVERHEAD_MAP_COLOR_SLOTS],
                                      bool use_team_colors, bitmap_data *picture, const color_table *colors,
                                      int16_t encoding)
{
    memset(color_indexes, 255, NUMBER_OF_OVERHEAD_MAP_COLOR_SLOTS);
    memset(table->pixels, 0, sizeof(table->pixels));
    if (encoding != _16bit_555_encoding && encoding != _16bit_565_encoding && encoding != _32bit_encoding)
    {
        HALT(nullptr);
        return false;
    }
    if (!VASSERT(picture->width == picture->bytes_per_row, "bitmap->width==bitmap->bytes_per_row")) return false;

    rgb_color palette[MAXIMUM_COLORS_PER_TABLE] = {};
    const int32_t color_count = colors ? std::clamp(colors->color_count, 0, (int32_t)MAXIMUM_COLORS_PER_TABLE) : 0;
    for (int32_t i = 0; i < color_count; ++i) palette[i] = colors->colors[i];
    for (int32_t i = 0; i < MAXIMUM_COLORS_PER_TABLE; ++i) store_shading_pixel(table, encoding, i, &palette[i]);
    // Index 0 is the colour key: it stays transparent and is never a slot.
    store_shading_pixel(table, encoding, 0, &palette[0]);
    memset(table->pixels, 0, 4);

    const int32_t slot_count = use_team_colors ? overhead_map_team_slot_count() + _overhead_map_first_team_slot
                                               : (int32_t)NUMBER_OF_FRIEND_OR_FOE_SLOTS;
    int32_t counts[MAXIMUM_COLORS_PER_TABLE] = {};
    uint8_t *pixels = picture->row_addresses[0];
    const int32_t pixel_count = picture->width * picture->height;
    for (int32_t i = 0; i < pixel_count; ++i) counts[pixels[i]]++;

    bool taken[MAXIMUM_COLORS_PER_TABLE] = {};
    taken[0] = true;
    const int32_t searched = std::max(color_count, 1);
    for (int32_t slot = 0; slot < slot_count; ++slot)
    {
        int32_t freed = NONE;
        for (int32_t i = 1; i < MAXIMUM_COLORS_PER_TABLE; ++i)
            if (!taken[i] && (freed == NONE || counts[i] < counts[freed])) freed = i;
        if (freed == NONE) break;
        taken[freed] = true;
        color_indexes[slot] = (uint8_t)freed;
        const rgb_color remembered = palette[freed];
        palette[freed].red = palette[freed].green = palette[freed].blue = 0;
        int32_t nearest = 0, best = INT32_MAX;
        for (int32_t i = 0; i < searched; ++i)
        {
            const int32_t dr = ((int32_t)remembered.red - palette[i].red) >> 4;
            const int32_t dg = ((int32_t)remembered.green - palette[i].green) >> 4;
            const int32_t db = ((int32_t)remembered.blue - palette[i].blue) >> 4;
            const int32_t distance = 5 * dg * dg + 2 * dr * dr + db * db;
            if (distance < best) best = distance, nearest = i;
        }
        if (counts[freed])
        {
            for (int32_t i = 0; i < pixel_count; ++i)
                if (pixels[i] == freed) pixels[i] = (uint8_t)nearest;
            counts[nearest] += counts[freed];
            counts[freed] = 0;
        }
    }

    for (int32_t slot = 0; slot < slot_count; ++slot)
    {
        if (color_indexes[slot] == 255 && slot >= 1) continue;
        rgb_color color;
        if (use_team_colors && slot >= _overhead_map_first_team_slot)
            color = team_color(slot - _overhead_map_first_team_slot);
        else
            color = overhead_map_slot_colors[slot];
        store_shading_pixel(table, encoding, color_indexes[slot], &color);
    }
    return true;
}

// ---- life cycle --------------------------------------------------------------------------------

static void use_drawing_state(int16_t state)
{
    overhead.drawing_state = state;
    if (state == _overhead_map_team_colors)
    {
        overhead.active_shading_table = &overhead.team_shading_table;
        overhead.active_color_indexes = overhead.team_color_indexes;
    }
    else
    {
        overhead.active_shading_table = &overhead.good_bad_shading_table;
        overhead.active_color_indexes = overhead.good_bad_color_indexes;
    }
}

static void set_overhead_map_transparencies(void)
{
    const int32_t ticks = std::clamp(overhead.ticks, 0, (int32_t)OVERHEAD_MAP_FADE_TICKS);
    switch (overhead.state)
    {
    case _overhead_map_opening:
        overhead.map_transparency = (fixed_fraction)~(uint16_t)(ticks * 49151 / 15);
        overhead.overlay_transparency = (fixed_fraction)~(uint16_t)(ticks * 4369);
        break;
    case _overhead_map_open:
        overhead.map_transparency = 16384;
        overhead.overlay_transparency = 0;
        break;
    case _overhead_map_closing:
        overhead.map_transparency = (fixed_fraction)(ticks * 49151 / 15 + 16384);
        overhead.overlay_transparency = (fixed_fraction)(ticks * 4369);
        break;
    default:
        overhead.map_transparency = overhead.overlay_transparency = 65535;
        break;
    }
}

bool initialize_overhead_map(void)
{
    register_postrasterization_effect_procedure(rasterize_overhead_map, OVERHEAD_MAP_POSTRASTERIZATION_PRIORITY);
    overhead.initialized = false;
    return true;
}

bool initialize_overhead_map_for_new_game(const new_game_data *)
{
    if (overhead.initialized)
    {
        VWARN(false, "!overhead.initialized");
        dispose_overhead_map_from_old_game();
    }
    memset(&overhead, 0, sizeof(overhead));
    overhead.last_blip_update_tick = NONE;
    overhead.scale = 1.0f;
    overhead_map_window_size(active_screen.width, active_screen.height, &overhead.limited_visibility_width,
                             &overhead.limited_visibility_height);
    overhead.map_transparency = overhead.overlay_transparency = 65535;

    const mesh_header *header = get_mesh_header();
    bitmap_data *picture = get_original_overhead_map_bitmap();
    overhead.original_bitmap = picture;
    if (picture && header)
    {
        const bool observer = game_->type == _game_type_networked && local_player_team_index == NONE;
        const bool network_film = game_->type == _game_type_replay && !game_is_solo_replay();
        const int16_t drawing_state =
            (observer || network_film) ? _overhead_map_team_colors : _overhead_map_friend_or_foe_colors;
        overhead.limited_terrain_visibility = (header->flags & _mesh_has_limited_terrain_visibility_flag) != 0;
        int16_t width = picture->width, height = picture->height;
        if (overhead.limited_terrain_visibility && !(header->flags & _mesh_overhead_map_doesnt_scroll_flag))
        {
            width = std::min(width, overhead.limited_visibility_width);
            height = std::min(height, overhead.limited_visibility_height);
        }
        if (overhead.limited_terrain_visibility)
        {
            overhead.limited_visibility_width = width;
            overhead.limited_visibility_height = height;
        }
        overhead.bitmap = new_bitmap(width, height, 0, _8bit_encoding, _bitmap_color_key_transparency_flag);
        overhead.display_width = (int16_t)(picture->width * overhead.scale);
        overhead.display_height = (int16_t)(picture->height * overhead.scale);
        const int16_t collection = header->overhead_map_collection_index;
        const color_table *colors = get_color_table(collection);
        const int16_t encoding = active_screen.encoding;
        build_overhead_map_shading_table(&overhead.good_bad_shading_table, overhead.good_bad_color_indexes, false,
                                         picture, colors, encoding);
        build_overhead_map_shading_table(&overhead.team_shading_table, overhead.team_color_indexes, true, picture,
                                         colors, encoding);
        overhead.desired_drawing_state = drawing_state;
        use_drawing_state(drawing_state);
        overhead.sketch_point_granularity_x = overhead.sketch_point_granularity_y = 1;
        if (current_gameplay_version > 1600)
        {
            overhead.sketch_point_granularity_x = (int16_t)((picture->width + 255) / 256);
            overhead.sketch_point_granularity_y = (int16_t)((picture->height + 255) / 256);
        }
    }
    if (overhead.bitmap)
    {
        overhead.sketching = false;
        overhead.local_team_is_eliminated = false;
        overhead.initialized = true;
        if (hardware_renderer()) rezoom_overhead_map();
    }
    // A map that names no picture simply has no overhead map; only a named
    // picture that could not be used is worth a line on the console.
    else if (header && header->overhead_map_collection_tag != NONE && header->overhead_map_collection_tag != 0 &&
             !(header->flags & _mesh_is_complete_flag))
    {
        print_to_console_procedure print = get_print_to_console_procedure();
        if (print) print("### overhead map preprocessing failed");
    }
    return true;
}

void update_overhead_map_for_new_resolution(void)
{
    if (!overhead.initialized || !overhead.bitmap) return;
    int16_t width, height;
    overhead_map_window_size(active_screen.width, active_screen.height, &width, &height);
    const bitmap_data *picture = overhead.original_bitmap;
    const mesh_header *header = get_mesh_header();
    if (!overhead.limited_terrain_visibility)
    {
        overhead.limited_visibility_width = width;
        overhead.limited_visibility_height = height;
    }
    else if (picture && header && !(header->flags & _mesh_overhead_map_doesnt_scroll_flag))
    {
        width = std::min(width, picture->width);
        height = std::min(height, picture->height);
        if (width != overhead.bitmap->width || height != overhead.bitmap->height)
        {
            // Without memory for the new window the old one stays: a smaller
            // or larger window than the screen asks for, never none.
            bitmap_data *bitmap = new_bitmap(width, height, 0, _8bit_encoding, _bitmap_color_key_transparency_flag);
            if (bitmap)
            {
                dispose_bitmap(overhead.bitmap);
                overhead.bitmap = bitmap;
                overhead.limited_visibility_width = width;
                overhead.limited_visibility_height = height;
                overhead.last_real_update_tick = 0; // refilled at the next drawing
            }
        }
    }
    if (hardware_renderer()) rezoom_overhead_map();
}

void dispose_overhead_map_from_old_game(void)
{
    dispose_bitmap(overhead.bitmap);
    overhead.bitmap = nullptr;
    overhead.original_bitmap = nullptr;
    overhead.initialized = false;
}

// ---- visibility and fading ----------------------------------------------------------------------

void set_overhead_map_visibility(bool visible)
{
    if (!overhead.initialized) return;
    if (!visible && overhead.sketching) change_sketch_mode(false);
    switch (overhead.state)
    {
    case _overhead_map_closed:
        if (visible)
        {
            overhead.state = _overhead_map_opening;
            overhead.ticks = 0;
            overhead.last_real_update_tick = 0;
        }
        break;
    case _overhead_map_open:
        if (!visible)
        {
            overhead.state = _overhead_map_closing;
            overhead.ticks = 0;
            overhead.sketching = false;
        }
        break;
    case _overhead_map_opening:
        if (!visible)
        {
            overhead.state = _overhead_map_closing;
            overhead.ticks = 14 - overhead.ticks;
        }
        break;
    case _overhead_map_closing:
        if (visible)
        {
            overhead.state = _overhead_map_opening;
            overhead.ticks = 14 - overhead.ticks;
        }
        break;
    }
    overhead.ticks = std::max(overhead.ticks, 0);
    set_overhead_map_transparencies();
    overhead.bounds = {0, 0, 0, 0};
}

bool get_overhead_map_state(void) { return overhead.initialized && overhead.state == _overhead_map_open; }

void advance_overhead_map_fade(int32_t ticks)
{
    overhead.ticks += ticks;
    if (overhead.state == _overhead_map_opening && overhead.ticks >= OVERHEAD_MAP_FADE_TICKS)
        overhead.state = _overhead_map_open;
    else if (overhead.state == _overhead_map_closing && overhead.ticks > OVERHEAD_MAP_FADE_TICKS - 1)
        overhead.state = _overhead_map_closed;
    set_overhead_map_transparencies();
}

void toggle_overhead_map_drawing_state(void)
{
    if (!overhead.initialized) return;
    const int32_t list = string_list_tag_to_string_index(OVERHEAD_MAP_STRING_LIST_TAG);
    if (list == NONE) return;
    overhead.desired_drawing_state = overhead.desired_drawing_state == _overhead_map_friend_or_foe_colors
                                         ? _overhead_map_team_colors
                                         : _overhead_map_friend_or_foe_colors;
    const char *left = get_string_from_list(list, 0);
    const char *right = get_string_from_list(list, overhead.desired_drawing_state + 1);
    set_console_popup(left ? left : "", right ? right : "", 15);
}

// ---- blips ---------------------------------------------------------------------------------------

int16_t overhead_map_blip_slot(const overhead_map_blip_facts *unit, const overhead_map_blip_context *game)
{
    if (unit->ambient_life_class) return NONE;
    int16_t slot = NONE;
    if (game->observer)
    {
        slot = unit->team == NONE ? (int16_t)_overhead_map_neutral_slot : (int16_t)(_overhead_map_first_team_slot + unit->team);
    }
    else
    {
        if (unit->ambient_for_selection)
        {
            slot = unit->targetable_if_ambient ? _overhead_map_enemy_slot : _overhead_map_neutral_slot;
            if (unit->invisible_definition && !(unit->hunted && game->hunting)) slot = NONE;
        }
        else if (!unit->allied)
        {
            if ((game->allow_overhead_map || game->network_film) && !unit->object_hidden)
                slot = _overhead_map_enemy_slot;
        }
        else if (unit->own && !unit->ignores_user_commands)
            slot = _overhead_map_own_slot;
        else
            slot = _overhead_map_allied_slot;
        if (slot != NONE && game->limited_visibility && (!unit->allied || unit->same_team) && !unit->on_visible_cell)
            slot = NONE;
        if (slot != NONE && game->team_colors && unit->team != NONE)
            slot = (int16_t)(_overhead_map_first_team_slot + unit->team);
    }
    if (slot != NONE && game->hunting && unit->hunted) slot = _overhead_map_neutral_slot;
    if (slot >= NUMBER_OF_OVERHEAD_MAP_COLOR_SLOTS) slot = NONE;
    return slot;
}

static int32_t blip_rank(int16_t slot)
{
    switch (slot)
    {
    case _overhead_map_allied_slot: return 3;
    case _overhead_map_neutral_slot: return 2;
    case _overhead_map_enemy_slot: return 1;
    case _overhead_map_own_slot: return 0;
    default: return 4;
    }
}

void sort_friendly_blips_last(blip *blips, int32_t count)
{
    std::stable_sort(blips, blips + count,
                     [](const blip &a, const blip &b) { return blip_rank(a.color_index) > blip_rank(b.color_index); });
}

static uint32_t cell_visibility_at(const uint32_t *buffer, const world_point3d *location)
{
    return get_cell_visibility(buffer, location->x >> 9, location->y >> 9);
}

void update_monster_blips(void)
{
    const team_data *local_team = team_or_null(local_player_team_index);
    if (game_->type == _game_type_networked && local_team && (local_team->flags & _team_has_been_eliminated_flag) &&
        !overhead.local_team_is_eliminated)
    {
        overhead.desired_drawing_state = _overhead_map_team_colors;
        overhead.local_team_is_eliminated = true;
    }
    overhead_map_blip_context context = {};
    context.observer = game_->type == _game_type_networked && local_player_team_index == NONE;
    context.team_colors = overhead.drawing_state == _overhead_map_team_colors;
    context.hunting = game_->scoring == _game_scoring_hunting;
    context.allow_overhead_map = (game_->option_flags & _game_option_allow_overhead_map_flag) != 0;
    context.network_film = game_->type == _game_type_replay && !game_is_solo_replay();
    context.limited_visibility = (game_->option_flags & _game_option_limited_visibility_flag) != 0;

    overhead.number_of_blips = 0;
    const datum_globals *array = get_monster_array();
    const int32_t count = array ? array->count : 0;
    const uint32_t *front = visibility_front_buffer();
    for (int32_t index = 0; index < count && overhead.number_of_blips < MAXIMUM_OVERHEAD_MAP_BLIPS; ++index)
    {
        const monster_data *monster = get_monster_data(index);
        if (!monster || (monster->flags & _monster_has_left_the_mesh_flag)) continue;
        const object_data *object = get_object(monster->object_index);
        const monster_definition *definition = get_monster_definition(monster->type);
        if (!object || !definition) continue;
        overhead_map_blip_facts facts = {};
        facts.ambient_life_class = definition->monster_class == _monster_class_ambient_life;
        facts.ambient_for_selection = monster_is_ambient_for_selection_purposes(index);
        facts.targetable_if_ambient = (definition->flags & _monster_targetable_if_ambient_flag) != 0;
        facts.invisible_definition = (definition->flags & _monster_invisible_on_overhead_map_flag) != 0;
        facts.hunted = (monster->extra_flags & _monster_is_hunted_creature_extra_flag) != 0;
        facts.allied = teams_are_allied(local_player_team_index, monster->owner_team_index);
        facts.same_team = monster->owner_team_index == local_player_team_index;
        facts.own = local_player_index != NONE && monster->owner_player_index == local_player_index;
        facts.ignores_user_commands = (monster->flags & _monster_ignores_user_commands_flag) != 0;
        facts.object_hidden = (object->flags & (_object_wholly_under_media_flag | _object_invisible_on_overhead_map_flag)) ||
                              object->transfer_mode == _transfer_mode_disappearing;
        facts.on_visible_cell = visibility_is_visible(cell_visibility_at(front, &object->location.position));
        facts.team = monster->owner_team_index;
        const int16_t slot = overhead_map_blip_slot(&facts, &context);
        if (slot == NONE) continue;
        blip *b = &overhead.blips[overhead.number_of_blips++];
        b->object_index = monster->object_index;
        b->color_index = slot;
    }
    sort_friendly_blips_last(overhead.blips, overhead.number_of_blips);
}

// ---- flags -----------------------------------------------------------------------------------------

int16_t overhead_map_flag_slot(const flag_data *flag, int16_t local_team, bool team_colors)
{
    if (flag->number == NONE)
    {
        if (flag->owner_team_index == NONE) return _overhead_map_neutral_slot;
        if (team_colors) return (int16_t)(_overhead_map_first_team_slot + flag->owner_team_index);
        return flag->owner_team_index == local_team ? _overhead_map_own_slot : _overhead_map_enemy_slot;
    }
    const team_data *team = team_or_null(local_team);
    if (team && (team->numbered_flags_captured_flags & (1u << (flag->number & 31))))
        return team_colors ? (int16_t)(_overhead_map_first_team_slot + local_team) : (int16_t)_overhead_map_own_slot;
    return _overhead_map_neutral_slot;
}

static int16_t slot_palette_index(int16_t slot)
{
    if (slot < 0 || slot >= NUMBER_OF_OVERHEAD_MAP_COLOR_SLOTS || !overhead.active_color_indexes) return NONE;
    return overhead.active_color_indexes[slot];
}

void draw_flag_blips(void *data, flag_blip_drawer drawer)
{
    const bool team_colors = overhead.drawing_state == _overhead_map_team_colors;
    const uint32_t *front = visibility_front_buffer();
    const int32_t bounds_width = overhead.bounds.right - overhead.bounds.left;
    const int32_t bounds_height = overhead.bounds.bottom - overhead.bounds.top;
    for (int32_t index = 0; index < get_flag_slot_count(); ++index)
    {
        const flag_data *flag = get_flag_data(index);
        if (!flag || (flag->flags & _flag_is_invisible_on_overhead_map_flag)) continue;
        int16_t slot = overhead_map_flag_slot(flag, local_player_team_index, team_colors);
        if (slot >= NUMBER_OF_OVERHEAD_MAP_COLOR_SLOTS) continue;
        const object_data *object = get_object(flag->object_index);
        if (object && (object->flags & _object_respects_monster_visibility_flag) &&
            visibility_is_visible(cell_visibility_at(front, &flag->location)))
            continue;
        const world_point2d location = {flag->location.x, flag->location.y};
        point2d p = overhead_map_relative_position(&location);
        if (p.x < 0 || p.x >= bounds_width || p.y < 0 || p.y >= bounds_height) continue;
        const point2d corner = {(int16_t)(p.x - 3), (int16_t)(p.y - 3)};
        const int16_t color = slot_palette_index(slot);
        if (overhead.updates & 1)
            drawer(data, &corner, flag->type == 0 ? banner_icon_bits : token_icon_bits, NONE, color);
        else
            drawer(data, &corner, flag->type == 0 ? banner_icon_bits : token_icon_bits, color, NONE);
    }
}

static void rasterize_one_flag_blip(void *data, const point2d *corner, const uint8_t *icon_bits, int16_t set_color,
                                    int16_t clear_color)
{
    bitmap_data *bitmap = (bitmap_data *)data;
    if (corner->x < 0 || corner->y < 0 || corner->x + 5 >= bitmap->width || corner->y + 5 >= bitmap->height) return;
    for (int32_t row = 0; row < 6; ++row)
        for (int32_t column = 0; column < 6; ++column)
        {
            const int16_t color = (icon_bits[row] >> column) & 1 ? set_color : clear_color;
            if (color != NONE) bitmap->row_addresses[corner->y + row][corner->x + column] = (uint8_t)color;
        }
}

// ---- the working bitmap -----------------------------------------------------------------------------

static void fill_limited_visibility_window(void)
{
    bitmap_data *bitmap = overhead.bitmap;
    const bitmap_data *picture = overhead.original_bitmap;
    if (!VASSERT(!(bitmap->flags & _no_row_address_table_flag), "!(bitmap->flags&_no_row_address_table_flag)") ||
        !VASSERT(!(picture->flags & _no_row_address_table_flag),
                 "!(original_bitmap->flags&_no_row_address_table_flag)"))
        return;
    const int32_t w = bitmap->width, h = bitmap->height, W = picture->width, H = picture->height;
    world_point2d center;
    get_center_of_visibility_buffer(&center);
    const int32_t cx = (mesh_width - center.x) * W / std::max<int32_t>(mesh_width, 1);
    const int32_t cy = center.y * H / std::max<int32_t>(mesh_height, 1);
    int32_t left = std::min(std::max(0, cx - w / 2), W - w);
    int32_t top = std::max(std::min(cy - h / 2, H - h), 0);
    left = std::max(left, 0);
    overhead.offset = {(int16_t)left, (int16_t)top};
    const uint32_t *permanent = visibility_permanent_buffer();
    const int32_t column_step = ((int32_t)mesh_width << 16) / std::max(W, 1);
    const int32_t row_step = ((int32_t)mesh_height << 16) / std::max(H, 1);
    int32_t min_column = w, max_column = -1, min_row = h, max_row = -1;
    for (int32_t r = 0; r < h; ++r)
    {
        uint8_t *destination = bitmap->row_addresses[r];
        const uint8_t *source = picture->row_addresses[top + r];
        const int32_t cell_y = ((top + r) * row_step) >> 16;
        for (int32_t c = 0; c < w; ++c)
        {
            const int32_t cell_x = (((int32_t)mesh_width << 16) - 1 - (left + c) * column_step) >> 16;
            if (visibility_is_visible(get_cell_visibility(permanent, cell_x, cell_y)))
            {
                destination[c] = source[left + c];
                min_column = std::min(min_column, c), max_column = std::max(max_column, c);
                min_row = std::min(min_row, r), max_row = std::max(max_row, r);
            }
            else
                destination[c] = 0;
        }
    }
    if (max_column >= 0)
    {
        overhead.visual_offset.x = (int16_t)(((min_column + w - max_column) >> 1) - min_column);
        overhead.visual_offset.y = (int16_t)(((min_row + h - max_row) >> 1) - min_row);
    }
    else
        overhead.visual_offset = {0, 0};
    // Rounded corners: 4, 2, 1 and 1 pixels in the four rows nearest each corner.
    static const int32_t corner_widths[4] = {4, 2, 1, 1};
    for (int32_t i = 0; i < 4 && i < h; ++i)
    {
        const int32_t n = std::min(corner_widths[i], w);
        uint8_t *top_row = bitmap->row_addresses[i];
        uint8_t *bottom_row = bitmap->row_addresses[h - 1 - i];
        memset(top_row, 0, n), memset(top_row + w - n, 0, n);
        memset(bottom_row, 0, n), memset(bottom_row + w - n, 0, n);
    }
}

// Lines between consecutive sketch points, in the working bitmap's own pixels
// (picture pixels less the window's offset).
static void draw_sketch_lines_into_bitmap(void)
{
    const int16_t color = slot_palette_index(_overhead_map_sketch_slot);
    bitmap_data *bitmap = overhead.bitmap;
    for (int32_t i = 1; i < overhead.visible_sketch_point_count; ++i)
    {
        const sketch_point2d a = overhead.visible_sketch_points[i - 1], b = overhead.visible_sketch_points[i];
        if ((a.x == 0 && a.y == 0) || (b.x == 0 && b.y == 0)) continue;
        const int32_t x0 = a.x * overhead.sketch_point_granularity_x - overhead.offset.x;
        const int32_t y0 = a.y * overhead.sketch_point_granularity_y - overhead.offset.y;
        const int32_t x1 = b.x * overhead.sketch_point_granularity_x - overhead.offset.x;
        const int32_t y1 = b.y * overhead.sketch_point_granularity_y - overhead.offset.y;
        const int32_t steps = std::max(std::abs(x1 - x0), std::abs(y1 - y0));
        for (int32_t s = 0; s <= steps; ++s)
        {
            const int32_t x = steps ? x0 + (x1 - x0) * s / steps : x0;
            const int32_t y = steps ? y0 + (y1 - y0) * s / steps : y0;
            if (x >= 0 && y >= 0 && x < bitmap->width && y < bitmap->height && color != NONE)
                bitmap->row_addresses[y][x] = (uint8_t)color;
        }
    }
}

void mark_overhead_map_changed(void)
{
    use_drawing_state(overhead.desired_drawing_state);
    const int32_t now = local_time_now();
    if (now - overhead.last_real_update_tick > OVERHEAD_MAP_REDRAW_TICKS)
    {
        overhead.updates++;
        overhead.last_real_update_tick = now;
    }
    overhead.last_update_tick = game_->game_time;
    if (overhead.bitmap) overhead.bitmap->flags |= _bitmap_changed_flag;
}

void rebuild_overhead_map_bitmap(void)
{
    if (!overhead.bitmap || !overhead.original_bitmap) return;
    mark_overhead_map_changed();
    bitmap_data *bitmap = overhead.bitmap;
    const bitmap_data *picture = overhead.original_bitmap;
    if (overhead.limited_terrain_visibility)
        fill_limited_visibility_window();
    else if (VASSERT(picture->width == bitmap->width && picture->height == bitmap->height &&
                         picture->bytes_per_row == bitmap->bytes_per_row,
                     "bitmaps don't match"))
    {
        for (int32_t r = 0; r < bitmap->height; ++r)
            memcpy(bitmap->row_addresses[r], picture->row_addresses[r], bitmap->width);
    }
    if (hardware_renderer()) return;
    // Blips (already in drawing order), flags and sketches go into the bitmap
    // on the software renderer.
    const int32_t bounds_width = overhead.bounds.right - overhead.bounds.left;
    const int32_t bounds_height = overhead.bounds.bottom - overhead.bounds.top;
    for (int32_t i = 0; i < overhead.number_of_blips; ++i)
    {
        const object_data *object = get_object(overhead.blips[i].object_index);
        if (!object) continue;
        const world_point2d location = {object->location.position.x, object->location.position.y};
        const point2d p = overhead_map_relative_position(&location);
        const int16_t color = slot_palette_index(overhead.blips[i].color_index);
        if (color == NONE) continue;
        if (p.x >= 0 && p.x < bounds_width && p.x < bitmap->width - 1 && p.y >= 0 && p.y < bounds_height &&
            p.y < bitmap->height - 1)
        {
            bitmap->row_addresses[p.y][p.x] = bitmap->row_addresses[p.y][p.x + 1] = (uint8_t)color;
            bitmap->row_addresses[p.y + 1][p.x] = bitmap->row_addresses[p.y + 1][p.x + 1] = (uint8_t)color;
        }
    }
    draw_flag_blips(bitmap, rasterize_one_flag_blip);
    draw_sketch_lines_into_bitmap();
}

// ---- drawing -----------------------------------------------------------------------------------------

static rgb_color slot_color(int16_t slot)
{
    const int16_t index = slot_palette_index(slot);
    if (index == NONE) return overhead_map_slot_colors[0];
    return shading_table_color(overhead.active_shading_table, active_screen.encoding, index);
}

static world_point2d screen_point_of(const world_point2d *point)
{
    const point2d p = overhead_map_relative_position(point);
    return {overhead.bounds.left + p.x, overhead.bounds.top + p.y};
}

static void draw_clipped_line(bitmap_data *screen, const rgb_color *color, const world_point2d *a,
                              const world_point2d *b)
{
    const point2d p0 = {(int16_t)std::clamp(a->x, -32768, 32767), (int16_t)std::clamp(a->y, -32768, 32767)};
    const point2d p1 = {(int16_t)std::clamp(b->x, -32768, 32767), (int16_t)std::clamp(b->y, -32768, 32767)};
    // A translucent line blends through the transparency table like the map itself.
    draw_line(screen, color, overhead.overlay_transparency,
              overhead.overlay_transparency ? get_transparency_table(_transparency_normal) : nullptr, &overhead.bounds,
              &p0, &p1);
}

void rasterize_camera_trapezoid(view_data *view)
{
    if (!view || !view->region || !view->screen) return;
    const rgb_color yellow = overhead_map_slot_colors[_overhead_map_camera_slot];
    const mesh_region *region = view->region;
    const world_point2d first = screen_point_of(&region->central_ray[0]);
    const world_point2d second = screen_point_of(&region->central_ray[1]);
    draw_clipped_line(view->screen, &yellow, &first, &second);
    const double dx = (double)region->central_ray[1].x - region->central_ray[0].x;
    const double dy = (double)region->central_ray[1].y - region->central_ray[0].y;
    const double length = std::sqrt(dx * dx + dy * dy);
    // A camera looking straight down has no direction: no arrow head then.
    if (length > 0)
    {
        const double k = 2560.0 / length;
        for (int32_t side = -1; side <= 1; side += 2)
        {
            const double bx = dx + side * 0.5773077 * -dy, by = dy + side * 0.5773077 * dx;
            const world_point2d back = {(int32_t)(region->central_ray[1].x - k * bx),
                                        (int32_t)(region->central_ray[1].y - k * by)};
            const world_point2d end = screen_point_of(&back);
            draw_clipped_line(view->screen, &yellow, &second, &end);
        }
    }
    const int32_t count = region->polygon_corners ? region->polygon_corner_count : 0;
    for (int32_t i = 0; i < count; ++i)
    {
        const world_point2d a = screen_point_of(&region->polygon_corners[i]);
        const world_point2d b = screen_point_of(&region->polygon_corners[(i + 1) % count]);
        draw_clipped_line(view->screen, &yellow, &a, &b);
    }
}

// A hardware frame has no pixels to draw blips into: the unzoomed picture is
// stretched onto the map's bounds, and the blips, flags and sketches are
// drawn over it through the 2D drawers, at the picture's scale.
static void fill_map_rectangle(bitmap_data *screen, const rgb_color *color, int32_t left, int32_t top,
                               int32_t width, int32_t height)
{
    const rectangle2d area = {(int16_t)(overhead.bounds.top + top), (int16_t)(overhead.bounds.left + left),
                              (int16_t)(overhead.bounds.top + top + height),
                              (int16_t)(overhead.bounds.left + left + width)};
    fill_rectangle_clipped(screen, color, &area, &overhead.bounds, overhead.overlay_transparency, nullptr);
}

static void rasterize_one_flag_blip_hardware(void *data, const point2d *corner, const uint8_t *icon_bits,
                                             int16_t set_color, int16_t clear_color)
{
    bitmap_data *screen = (bitmap_data *)data;
    const int32_t pixel = std::max(1, (int32_t)std::lround(overhead.scale));
    for (int32_t row = 0; row < 6; ++row)
        for (int32_t column = 0; column < 6; ++column)
        {
            const int16_t index = (icon_bits[row] >> column) & 1 ? set_color : clear_color;
            if (index == NONE) continue;
            const rgb_color color = shading_table_color(overhead.active_shading_table, active_screen.encoding, index);
            fill_map_rectangle(screen, &color, corner->x + column * pixel, corner->y + row * pixel, pixel, pixel);
        }
}

static void rasterize_overhead_map_hardware(bitmap_data *screen)
{
    const rectangle2d picture = {0, 0, overhead.bitmap->height, overhead.bitmap->width};
    stretch_copy_bitmap_hardware(screen, overhead.bitmap, overhead.active_shading_table->pixels, &picture,
                                 &overhead.bounds, overhead.map_transparency);
    const int32_t blip = std::max(2, (int32_t)std::lround(2 * overhead.scale));
    for (int32_t i = 0; i < overhead.number_of_blips; ++i)
    {
        const object_data *object = get_object(overhead.blips[i].object_index);
        if (!object || slot_palette_index(overhead.blips[i].color_index) == NONE) continue;
        const world_point2d location = {object->location.position.x, object->location.position.y};
        const point2d p = overhead_map_relative_position(&location);
        const rgb_color color = slot_color(overhead.blips[i].color_index);
        fill_map_rectangle(screen, &color, p.x, p.y, blip, blip);
    }
    draw_flag_blips(screen, rasterize_one_flag_blip_hardware);
    const rgb_color sketch = slot_color(_overhead_map_sketch_slot);
    for (int32_t i = 1; i < overhead.visible_sketch_point_count; ++i)
    {
        const sketch_point2d a = overhead.visible_sketch_points[i - 1], b = overhead.visible_sketch_points[i];
        if ((a.x == 0 && a.y == 0) || (b.x == 0 && b.y == 0)) continue;
        const auto on_screen = [](const sketch_point2d &point) {
            const float x = (float)(point.x * overhead.sketch_point_granularity_x - overhead.offset.x);
            const float y = (float)(point.y * overhead.sketch_point_granularity_y - overhead.offset.y);
            return point2d{(int16_t)std::clamp((int32_t)(overhead.bounds.left + x * overhead.scale), -32768, 32767),
                           (int16_t)std::clamp((int32_t)(overhead.bounds.top + y * overhead.scale), -32768, 32767)};
        };
        const point2d p0 = on_screen(a), p1 = on_screen(b);
        draw_line(screen, &sketch, 0, nullptr, &overhead.bounds, &p0, &p1);
    }
}

void rasterize_overhead_map(view_data *view)
{
    if (!overhead.initialized || overhead.state == _overhead_map_closed || !overhead.bitmap ||
        !overhead.active_shading_table || !view || !view->screen)
        return;
    rectangle2d frame;
    calculate_destination_frame(&frame);
    const int32_t width = overhead.bitmap->width, height = overhead.bitmap->height;
    float scale = overhead.scale;
    if (scale < 0.5f)
        scale = 0.5f;
    else
    {
        const float fit_x = (float)(frame.right - frame.left - OVERHEAD_MAP_FRAME_MARGIN) / (float)std::max(width, 1);
        const float fit_y = (float)(frame.bottom - frame.top - OVERHEAD_MAP_FRAME_MARGIN) / (float)std::max(height, 1);
        scale = std::min(scale, std::min(fit_x, fit_y));
    }
    if (hardware_renderer()) zoom_overhead_map(scale);

    if (game_->game_time > overhead.last_blip_update_tick)
    {
        update_monster_blips();
        overhead.last_blip_update_tick = game_->game_time;
    }
    overhead.scaled_visual_offset = {(int16_t)(overhead.visual_offset.x * overhead.scale),
                                     (int16_t)(overhead.visual_offset.y * overhead.scale)};
    const int32_t now = local_time_now();
    if (overhead.last_real_update_tick == 0 || game_->game_time - overhead.last_update_tick > OVERHEAD_MAP_REDRAW_TICKS ||
        now - overhead.last_real_update_tick > OVERHEAD_MAP_REDRAW_TICKS)
        rebuild_overhead_map_bitmap();

    int32_t display_width = overhead.display_width, display_height = overhead.display_height;
    if (overhead.limited_terrain_visibility)
    {
        display_width = (int32_t)(width * overhead.scale);
        display_height = (int32_t)(height * overhead.scale);
    }
    const int32_t right = view->hole.right - OVERHEAD_MAP_EDGE_INSET + overhead.scaled_visual_offset.x;
    const int32_t top = view->hole.top + OVERHEAD_MAP_EDGE_INSET + overhead.scaled_visual_offset.y;
    overhead.bounds = {(int16_t)top, (int16_t)(right - display_width), (int16_t)(top + display_height),
                       (int16_t)right};

    if (hardware_renderer())
        rasterize_overhead_map_hardware(view->screen);
    else
    {
        const point2d corner = {overhead.bounds.left, overhead.bounds.top};
        copy_bitmap(view->screen, &corner, overhead.bitmap, nullptr, overhead.active_shading_table->pixels,
                    overhead.map_transparency, get_transparency_table(_transparency_normal));
    }
    if (overhead.sketching)
    {
        const rgb_color red = slot_color(_overhead_map_sketch_slot);
        const int16_t left = (int16_t)(overhead.bounds.left - overhead.scaled_visual_offset.x);
        const int16_t right_edge = (int16_t)(overhead.bounds.right - overhead.scaled_visual_offset.x);
        const int16_t rows[4] = {overhead.bounds.top, (int16_t)(overhead.bounds.top + 1),
                                 (int16_t)(overhead.bounds.bottom - 1), (int16_t)(overhead.bounds.bottom - 2)};
        for (int16_t row : rows)
        {
            const point2d a = {left, row}, b = {(int16_t)(right_edge - 1), row};
            draw_line(view->screen, &red, 0, nullptr, nullptr, &a, &b);
        }
    }
    rasterize_camera_trapezoid(view);
}

// ---- zoom ------------------------------------------------------------------------------------

// The picture's own pixels (the window's, with limited visibility), as the
// software renderer draws it: both renderers show the map at one size on one
// screen (a map 154 pixels wide at 1024 x 768, whatever its picture, made the
// OpenGL map a quarter smaller than the software one at 1280 x 1024).  The
// player's zoom is kept relative to it.
float overhead_map_default_scale(void)
{
    return 1.0f;
}

static void set_overhead_map_scale(float scale)
{
    overhead_map_globals *overhead = get_overhead_map_globals();
    overhead->scale = scale;
    overhead->display_width = (int16_t)(overhead->original_bitmap->width * scale);
    overhead->display_height = (int16_t)(overhead->original_bitmap->height * scale);
    const float default_scale = overhead_map_default_scale();
    game_preferences *preferences = get_game_preferences();
    if (preferences && default_scale > 0) preferences->overhead_map_scale_relative_to_default = scale / default_scale;
}

void zoom_overhead_map(float scale)
{
    const overhead_map_globals *overhead = get_overhead_map_globals();
    if (!overhead->initialized || !overhead->original_bitmap || !hardware_renderer() || !(scale > 0)) return;
    set_overhead_map_scale(scale);
}

void rezoom_overhead_map(void)
{
    const overhead_map_globals *overhead = get_overhead_map_globals();
    if (!overhead->original_bitmap || !hardware_renderer()) return;
    const game_preferences *preferences = get_game_preferences();
    float factor = preferences ? preferences->overhead_map_scale_relative_to_default : 1.0f;
    if (!(factor > 0) || !std::isfinite(factor)) factor = 1.0f;
    set_overhead_map_scale(overhead_map_default_scale() * factor);
}

// ---- clicks ------------------------------------------------------------------------------------

const world_point2d *get_overhead_map_click_location(void)
{
    const overhead_map_globals *overhead = get_overhead_map_globals();
    return overhead->valid_map_click_location ? &overhead->map_click_location : nullptr;
}

// ---- sketches ------------------------------------------------------------------------------------

const byte_swap_code command_sketch_data_byte_swapping_data[] = {_begin_bs_array, 1, _2byte, _2byte, _end_bs_array};
static const byte_swap_code sketch_point2d_byte_swapping_data[] = {_begin_bs_array, 1, _byte, _byte, _end_bs_array};

void add_visible_sketch_points(int32_t count, const sketch_point2d *points)
{
    overhead_map_globals *overhead = get_overhead_map_globals();
    if (!VASSERT(count <= MAXIMUM_VISIBLE_SKETCH_POINTS, "new_points_needed<=MAXIMUM_VISIBLE_SKETCH_POINTS"))
        count = MAXIMUM_VISIBLE_SKETCH_POINTS;
    if (count <= 0) return;
    const int32_t excess = overhead->visible_sketch_point_count + count - MAXIMUM_VISIBLE_SKETCH_POINTS;
    if (excess > 0)
    {
        memmove(overhead->visible_sketch_points, overhead->visible_sketch_points + excess,
                (overhead->visible_sketch_point_count - excess) * sizeof(sketch_point2d));
        overhead->visible_sketch_point_count = (int16_t)(overhead->visible_sketch_point_count - excess);
    }
    memcpy(overhead->visible_sketch_points + overhead->visible_sketch_point_count, points,
           count * sizeof(sketch_point2d));
    overhead->visible_sketch_point_count = (int16_t)(overhead->visible_sketch_point_count + count);
}

bool queue_sketch_command(const command_sketch_data *data, int32_t count, const sketch_point2d *points)
{
    if (!VASSERT(count >= 0 && count <= MAXIMUM_POINTS_PER_SKETCH_COMMAND, "sketch point count out of range"))
        return false;
    alignas(8) uint8_t buffer[MAXIMUM_COMMAND_SIZE];
    command_codec_state state;
    command_encode_new(&state, buffer, _command_sketch);
    command_encode_data(&state, sizeof(command_sketch_data), data, command_sketch_data_byte_swapping_data);
    command_encode_array(&state, (int16_t)count, sizeof(sketch_point2d), points, sketch_point2d_byte_swapping_data);
    if (state.failed) return false;
    return queue_outgoing_command(state.header);
}

void read_sketch_command(command_codec_state *state, command_header *command)
{
    int16_t count = 0;
    command_decode_new(state, command, _command_sketch);
    command_decode_data(state, sizeof(command_sketch_data), command_sketch_data_byte_swapping_data);
    command_decode_array(state, &count, sizeof(sketch_point2d), sketch_point2d_byte_swapping_data);
}

bool decode_sketch_command(command_header *command, command_sketch_data *data, int32_t *count,
                           sketch_point2d points[MAXIMUM_POINTS_PER_SKETCH_COMMAND])
{
    command_codec_state state;
    command_decode_new(&state, command, _command_sketch);
    const command_sketch_data *record = (const command_sketch_data *)command_decode_data(
        &state, sizeof(command_sketch_data), command_sketch_data_byte_swapping_data);
    int16_t array_size = 0;
    const sketch_point2d *array = (const sketch_point2d *)command_decode_array(
        &state, &array_size, sizeof(sketch_point2d), sketch_point2d_byte_swapping_data);
    if (state.failed || !record || !array) return false;
    if (array_size > MAXIMUM_POINTS_PER_SKETCH_COMMAND)
    {
        log_message(__FILE__, __LINE__, "a sketch command of %d points was refused (at most %d)", array_size,
                  MAXIMUM_POINTS_PER_SKETCH_COMMAND);
        return false;
    }
    // Every command with points ends its points with (0, 0).
    if (array_size > 0 && (array[array_size - 1].x != 0 || array[array_size - 1].y != 0))
    {
        log_message(__FILE__, __LINE__, "a sketch command without its terminating point was refused");
        return false;
    }
    memcpy(data, record, sizeof(*data));
    memcpy(points, array, array_size * sizeof(sketch_point2d));
    *count = array_size;
    return true;
}

void issue_sketch_command(bool end_of_line, uint16_t flags)
{
    overhead_map_globals *overhead = get_overhead_map_globals();
    const int32_t count = overhead->queued_sketch_point_count;
    command_sketch_data data = {flags, 0};
    if (count == 0)
    {
        if (flags) queue_sketch_command(&data, 0, nullptr);
        return;
    }
    const sketch_point2d terminator = {0, 0};
    const sketch_point2d last = overhead->queued_sketch_points[count - 1];
    overhead->queued_sketch_points[count] = terminator;
    if (end_of_line) add_visible_sketch_points(1, &terminator);
    queue_sketch_command(&data, count + 1, overhead->queued_sketch_points);
    if (end_of_line)
        overhead->queued_sketch_point_count = 0;
    else
    {
        // The next command goes on with the same line.
        overhead->queued_sketch_points[0] = last;
        overhead->queued_sketch_point_count = 1;
    }
}

void change_sketch_mode(bool sketching)
{
    overhead_map_globals *overhead = get_overhead_map_globals();
    overhead->queued_sketch_point_count = 0;
    overhead->sketching = sketching;
    mark_overhead_map_changed();
    if (sketching) issue_sketch_command(false, _command_sketch_start_flag);
}

void erase_sketch_points(bool forward)
{
    overhead_map_globals *overhead = get_overhead_map_globals();
    overhead->visible_sketch_point_count = 0;
    overhead->queued_sketch_point_count = 0;
    mark_overhead_map_changed();
    if (forward) issue_sketch_command(false, _command_sketch_erase_flag);
}

void submit_sketch_points_to_overhead_map(int32_t, int32_t count, const sketch_point2d *points)
{
    const overhead_map_globals *overhead = get_overhead_map_globals();
    count = std::clamp(count, 0, (int32_t)MAXIMUM_POINTS_PER_SKETCH_COMMAND);
    if (!points || count == 0) return;
    // Points come from films and other machines: keep them on the picture.
    int32_t last_x = 255, last_y = 255;
    if (overhead->original_bitmap && overhead->sketch_point_granularity_x > 0 && overhead->sketch_point_granularity_y > 0)
    {
        last_x = std::min(255, (overhead->original_bitmap->width - 1) / overhead->sketch_point_granularity_x);
        last_y = std::min(255, (overhead->original_bitmap->height - 1) / overhead->sketch_point_granularity_y);
    }
    sketch_point2d clamped[MAXIMUM_POINTS_PER_SKETCH_COMMAND];
    for (int32_t i = 0; i < count; ++i)
    {
        clamped[i].x = (uint8_t)std::min<int32_t>(points[i].x, std::max(last_x, 0));
        clamped[i].y = (uint8_t)std::min<int32_t>(points[i].y, std::max(last_y, 0));
    }
    add_visible_sketch_points(count, clamped);
    mark_overhead_map_changed();
}

// ---- registration ---------------------------------------------------------------------------------------

static bool initialize_overhead_map_for_new_map_step(const new_game_data *data)
{
    // A headless run (the film checker, the simulation and render tools) has
    // no screen encoding to build the map's colours for, and shows nothing.
    if (vesk_is_headless()) return true;
    return initialize_overhead_map_for_new_game(data);
}

static bool overhead_map_click_location(const action_data *, world_point2d *location)
{
    const world_point2d *clicked = get_overhead_map_click_location();
    if (!clicked) return false;
    *location = *clicked;
    return true;
}

// The observer's limited-visibility test asks where a view meets the ground:
// the overhead map's outline of the camera from the eye's ground point.
static bool overhead_map_view_corners(const world_point3d *eye, angle yaw, world_point2d corners[4])
{
    const world_point2d center = {eye->x, eye->y};
    get_overhead_map_view_projection_corners(&center, yaw, corners);
    return true;
}

void register_overhead_map_hooks(void)
{
    register_startup_procedure(_startup_overhead_map, initialize_overhead_map);
    register_map_procedures(_map_overhead_map, initialize_overhead_map_for_new_map_step,
                            dispose_overhead_map_from_old_game);
    static const overhead_map_procedures procedures = {
        .view_projection_corners = overhead_map_view_corners,
        .click_location = overhead_map_click_location,
        .map_is_shown = get_overhead_map_state, // the tutorial's "map shown" question
    };
    register_overhead_map_procedures(&procedures);
}
