// Object sprites, their marks and shadows, local sprites and ground overlays.
#include "render/render_objects.h"

#include <algorithm>
#include <cstring>

#include "cseries/log.h"
#include "game_time.h"
#include "mesh.h"
#include "render/mesh_region.h"
#include "render/render.h"
#include "render/terrain_maps.h"
#include "shapes.h"
#include "bitmap_text.h"
#include "game_preferences.h"
#include "geometry.h"
#include "game_records.h"
#include "input/input_definitions.h"
#include "input/keyboard.h"
#include "interface_definitions.h"
#include "map_actions/world_knot_action_procs.h"
#include "media.h"
#include "models.h"
#include "monster_definitions.h"
#include "monster_lists.h"
#include "monster_visibility.h"
#include "monsters.h"
#include "object_definitions.h"
#include "overhead_text.h"
#include "render/bitmap_surfaces.h"
#include "render/render_geometry.h"
#include "render/render_sort.h"
#include "scenery.h"
#include "selection.h"
#include "vesk/string_lists.h"

local_sprite_globals_data local_sprite_globals = {0, -1, {}};

static void render_object_geometry(view_data *view, mesh_region *region, const object_data *object,
                                   int32_t object_index, bool reflection);

// ---- ground overlays ------------------------------------------------------------------

fixed_fraction overlay_density_for_transfer_mode(fixed_fraction density, int16_t transfer_mode, fixed_fraction phase)
{
    const int32_t d = density >> 8;
    switch (transfer_mode)
    {
    case _transfer_mode_transparent_fade_out: return (fixed_fraction)(d * ((~phase & 65535) >> 8));
    case _transfer_mode_transparent_fade_in: return (fixed_fraction)(d * (phase >> 8));
    case _transfer_mode_transparent_appearing: return (fixed_fraction)(d * (255 - ((65535 - phase / 2) >> 8)));
    case _transfer_mode_transparent_disappearing: return (fixed_fraction)(d * (255 - ((phase / 2 + 32767) >> 8)));
    default: return density;
    }
}

void build_render_map_overlay(view_data *view, mesh_region *region, int16_t collection_index, int16_t object_scale,
                              uint32_t object_flags, int16_t shadow_map_index, int16_t shadow_generating_instance_index,
                              int16_t transfer_mode, fixed_fraction transfer_phase, const world_point3d *position,
                              int32_t height_above_ground, fixed_fraction opacity)
{
    (void)region;
    (void)object_scale;
    (void)object_flags;
    (void)shadow_generating_instance_index;
    const collection_header *header = get_collection_header(collection_index);
    if (!view || !position || !header || shadow_map_index < 0 ||
        shadow_map_index >= header->blocks[_collection_block_shadow_maps].count)
        return;
    const shadow_map_data *shadow_map = get_shadow_map(collection_index, shadow_map_index);
    if (!shadow_map) return;
    const bitmap_data *bitmap = get_bitmap(collection_index, shadow_map->bitmap_index);
    // The stamp reads plain rows of one byte per texel.
    if (!bitmap || !bitmap->row_addresses[0] || bitmap->logical_bit_depth != 8 || bitmap->bytes_per_row <= 0 ||
        (bitmap->flags & (_1bit_transparency_encoded_flag | _4bit_transparency_encoded_flag)))
        return;

    const bool light_map = (shadow_map->flags & 1) != 0;
    const int64_t h = height_above_ground;
    int64_t d = 65535, shift = 0;
    if (h < 0)
        d = 65536 - (-h * 65536) / ZERO_REFRACTION_DENSITY_HEIGHT;
    else if (h > 0)
    {
        const int64_t f = (h * 65536) / (light_map ? ZERO_LIGHT_DENSITY_HEIGHT : ZERO_SHADOW_DENSITY_HEIGHT);
        if (!light_map) shift = (f * MAXIMUM_SHADOW_SHIFT) >> 16;
        d = std::min<int64_t>(65536 - f, 65535);
    }
    d *= opacity >> 8;
    if ((d >> 8) < 1) return;

    render_map_overlay *overlay = render_new<render_map_overlay>();
    if (!overlay) return;
    overlay->x0 = position->x - (shadow_map->registration_x >> 10) + (int32_t)shift;
    overlay->y0 = position->y - (shadow_map->registration_y >> 10) + (int32_t)shift;
    overlay->pixels = bitmap->row_addresses[0];
    overlay->width = bitmap->width;
    overlay->height = bitmap->height;
    overlay->bytes_per_row = bitmap->bytes_per_row;
    overlay->density = overlay_density_for_transfer_mode((fixed_fraction)(d >> 8), transfer_mode, transfer_phase);
    overlay->mode = light_map ? _overlay_light_map : _overlay_shadow_map;
    overlay->next_map_overlay = nullptr;
    add_overlay_to_overlay_lists(view, overlay);
}

void add_overlay_to_overlay_lists(view_data *view, render_map_overlay *overlay)
{
    if (!view || !overlay || overlay->bytes_per_row < overlay->width) return;
    const bool light = overlay->mode == _overlay_light_map;
    if (global_maps_mode != _maps_mode_tiles || !terrain_maps_globals.mesh_tiles)
    {
        render_map_overlay **list = light ? &view->light_map_overlays : &view->shadow_map_overlays;
        overlay->next_map_overlay = *list;
        *list = overlay;
        return;
    }
    const int32_t across = mesh_tile_width, down = mesh_tile_height;
    const int32_t tx0 = std::max(0, (overlay->x0 / WORLD_ONE - 1) / MESH_TILE_CELL_WIDTH);
    const int32_t tx1 = std::min(across - 1, ((overlay->x0 + overlay->width * 64) / WORLD_ONE + 1) / MESH_TILE_CELL_WIDTH);
    const int32_t ty0 = std::max(0, (overlay->y0 / WORLD_ONE - 1) / MESH_TILE_CELL_WIDTH);
    const int32_t ty1 = std::min(down - 1, ((overlay->y0 + overlay->height * 64) / WORLD_ONE + 1) / MESH_TILE_CELL_WIDTH);
    for (int32_t ty = ty0; ty <= ty1; ++ty)
        for (int32_t tx = tx0; tx <= tx1; ++tx)
        {
            mesh_tile *tile = &terrain_maps_globals.mesh_tiles[tx + ty * across];
            render_map_overlay *copy = render_new<render_map_overlay>();
            if (!copy) return;
            *copy = *overlay;
            render_map_overlay **list = light ? &tile->light_map_overlays : &tile->shadow_map_overlays;
            copy->next_map_overlay = *list;
            *list = copy;
        }
}

void affect_rectangle_transfer_mode(render_surface *rectangle, int16_t transfer_mode, fixed_fraction phase)
{
    if (!rectangle) return;
    uint16_t transparency;
    switch (transfer_mode)
    {
    case _transfer_mode_transparent_fade_out: transparency = phase; break;
    case _transfer_mode_transparent_fade_in: transparency = (uint16_t)~phase; break;
    case _transfer_mode_transparent_appearing: transparency = (uint16_t)~((phase >> 1) & 65535); break;
    case _transfer_mode_transparent_disappearing: transparency = (uint16_t)((phase >> 1) + 32768); break;
    case _transfer_mode_transparent_cycle:
        transparency = (uint16_t)(sine_table[((phase + 32) & 65535) >> 6] + 32767);
        break;
    default: return;
    }
    rectangle->transparency = transparency;
    rectangle->packed = (uint16_t)(rectangle->packed | _surface_transparent_flag);
}

// ---- local sprites ----------------------------------------------------------------------

void initialize_local_sprites_for_new_map(void)
{
    local_sprite_globals.count = 0;
    local_sprite_globals.fade_out_start_time = -1;
}

void new_local_sprite(const world_point3d *location, int16_t collection_index, int16_t sequence_index)
{
    local_sprite_globals_data &g = local_sprite_globals;
    if (!location) return;
    if (g.fade_out_start_time != -1)
        initialize_local_sprites_for_new_map();
    else if (g.count >= MAXIMUM_LOCAL_SPRITES)
    {
        log_message(__FILE__, __LINE__, "local sprite list full (%d): marker ignored", (int32_t)MAXIMUM_LOCAL_SPRITES);
        return;
    }
    local_sprite_data *sprite = &g.sprites[g.count++];
    memset(sprite, 0, sizeof(*sprite));
    sprite->collection_index = collection_index;
    sprite->sequence_index = sequence_index;
    sprite->location.position = *location;
}

void remove_local_sprites(int16_t mode)
{
    local_sprite_globals_data &g = local_sprite_globals;
    if (mode == _remove_local_sprites_delayed)
        g.fade_out_start_time = game_->local_time.load();
    else if (g.fade_out_start_time == -1)
        g.count = 0;
}

// ---- the frame's objects --------------------------------------------------------------

namespace
{
// The facts one sprite's pieces share.
struct sprite_frame
{
    world_point3d position;   // world, bob included
    world_point3d viewer;     // viewer space
    int32_t precise_z;        // the unshifted rotated z
    float scale;              // screen pixels per viewer unit at this depth (negative)
    int16_t x0, y0, x1, y1;   // the sprite's screen rectangle
    rectangle2d_32 viewer_rect;
};
} // namespace

// The sprite's world bounds about its registration point after the object's
// mirroring and, for a reflection, the flip about the surface; the surface
// mirror flags those and the instance's own mirroring give.
static uint32_t mirrored_sprite_bounds(const object_data *object, const bitmap_instance_data *instance, bool reflection,
                                       int32_t *left, int32_t *right, int32_t *top, int32_t *bottom)
{
    *left = instance->world_left, *right = instance->world_right;
    *top = instance->world_top, *bottom = instance->world_bottom;
    uint32_t flags = 0;
    auto flip = [&flags](int32_t *low, int32_t *high, uint32_t flag) {
        std::swap(*low, *high);
        *low = -*low;
        *high = -*high;
        flags ^= flag;
    };
    if (object->flags & _object_is_horizontally_mirrored_flag) flip(left, right, _surface_mirror_horizontal_flag);
    if (object->flags & _object_is_vertically_mirrored_flag) flip(top, bottom, _surface_mirror_vertical_flag);
    if (reflection) flip(top, bottom, _surface_mirror_vertical_flag);
    if (instance->flags & _bitmap_instance_mirror_horizontal_flag) flags ^= _surface_mirror_horizontal_flag;
    if (instance->flags & _bitmap_instance_mirror_vertical_flag) flags ^= _surface_mirror_vertical_flag;
    return flags;
}

// The rotated z before the 2.14 shift: the sprite's sort key.
static int32_t unshifted_viewer_z(const view_data *view, const world_point3d *world, bool reflected)
{
    world_point3d viewer;
    transform_world_point_to_viewer_space(view, world, &viewer, reflected);
    // The transform shifts the same sum right by 14; keep its fraction.
    const int64_t dx = (int64_t)world->x - view->location.position.x;
    const int64_t dy = (int64_t)world->y - view->location.position.y;
    int64_t dz = (int64_t)world->z - view->location.position.z;
    if (reflected)
    {
        const mesh_cell *cell = get_mesh_cell(world->x >> WORLD_FRACTIONAL_BITS, world->y >> WORLD_FRACTIONAL_BITS);
        if (world->z > cell->media_height) dz = 2 * (int64_t)cell->media_height - view->location.position.z - world->z;
    }
    const int16_t(*m)[3] = view->world_to_viewer_rotation;
    const int64_t z = m[0][2] * dx + m[1][2] * dy + m[2][2] * dz;
    if ((z >> 14) != viewer.z) return (int32_t)((uint32_t)viewer.z << 14);
    return (int32_t)z;
}

static int16_t clamp_screen(float value)
{
    if (!(value > -32768.0f)) return -32768;
    if (!(value < 32767.0f)) return 32767;
    return (int16_t)value; // truncated toward zero
}

// The screen row of world height `z` straight below or above the sprite's position.
static int16_t screen_row_of_height(const view_data *view, const world_point3d *position, int32_t z, bool reflected)
{
    const world_point3d world = {position->x, position->y, z};
    world_point3d viewer;
    transform_world_point_to_viewer_space(view, &world, &viewer, reflected);
    if (viewer.z >= 0) return viewer.y > 0 ? -32768 : 32767;
    return clamp_screen((float)view->yk + (float)viewer.y * (view->fworld_to_screen / (float)viewer.z));
}

// The viewer-space height, on the sprite's upright plane, that the screen
// row `row` shows.
static int16_t viewer_height_of_row(const view_data *view, const sprite_frame *frame, int16_t row)
{
    return clamp_screen(((float)row - (float)view->yk) / frame->scale);
}

static void set_rectangle_fields(render_rectangle *rectangle, const sprite_frame *frame)
{
    rectangle->x0 = frame->x0;
    rectangle->y0 = frame->y0;
    rectangle->x1 = frame->x1;
    rectangle->y1 = frame->y1;
    rectangle->clip_top = -32768;
    rectangle->clip_bottom = 32767;
    rectangle->viewer_rect = frame->viewer_rect;
    rectangle->viewer_clip_top = 32767;
    rectangle->viewer_clip_bottom = -32768;
}

// A mark of the sprite: a filled rectangle at its depth.
static void add_filled_mark(view_data *view, const sprite_frame *frame, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                            const rgb_color *color, uint16_t transparency)
{
    if (x0 >= x1 || y0 >= y1) return;
    render_filled_rectangle *mark = render_new<render_filled_rectangle>();
    if (!mark) return;
    *mark = {};
    uint32_t flags = _surface_precise_z_flag;
    if (transparency) flags |= _surface_transparent_flag;
    mark->header.packed = pack_surface_word(flags, _surface_type_rectangle, _surface_subtype_filled_rectangle);
    mark->header.transparency = transparency;
    mark->header.precise_z = frame->precise_z;
    mark->header.z = frame->viewer.z;
    mark->header.obj_view_y = frame->viewer.y;
    sprite_frame box = *frame;
    box.x0 = (int16_t)std::clamp(x0, -32768, 32767);
    box.y0 = (int16_t)std::clamp(y0, -32768, 32767);
    box.x1 = (int16_t)std::clamp(x1, -32768, 32767);
    box.y1 = (int16_t)std::clamp(y1, -32768, 32767);
    set_rectangle_fields(reinterpret_cast<render_rectangle *>(mark), &box);
    mark->color = *color;
    add_surface_to_surface_list(view, &mark->header);
}

// A text mark centred on screen column `centre_x` with its bottom at `bottom`.
static void add_text_mark(view_data *view, const sprite_frame *frame, const char *string, int32_t font_index,
                          int16_t style, const rgb_color *color, uint32_t text_flags, int32_t centre_x, int32_t bottom)
{
    if (!string || !*string || font_index < 0) return;
    const size_t length = strlen(string);
    int32_t lines = 1;
    const int32_t width = string_width_multiline(font_index, style, string, &lines);
    const int32_t height = get_font_line_height(font_index) * std::max(lines, 1);
    if (width <= 0 || height <= 0) return;
    render_text_rectangle *text = static_cast<render_text_rectangle *>(render_malloc(render_text_rectangle_size(length)));
    if (!text) return;
    memset(text, 0, render_text_rectangle_size(length));
    text->header.packed = pack_surface_word(_surface_precise_z_flag, _surface_type_rectangle, _surface_subtype_text_rectangle);
    text->header.precise_z = frame->precise_z;
    text->header.z = frame->viewer.z;
    text->header.obj_view_y = frame->viewer.y;
    sprite_frame box = *frame;
    box.x0 = (int16_t)std::clamp(centre_x - width / 2, -32768, 32767);
    box.x1 = (int16_t)std::clamp(centre_x - width / 2 + width, -32768, 32767);
    box.y0 = (int16_t)std::clamp(bottom - height, -32768, 32767);
    box.y1 = (int16_t)std::clamp(bottom, -32768, 32767);
    set_rectangle_fields(reinterpret_cast<render_rectangle *>(text), &box);
    text->style = style;
    text->font_index = (int16_t)font_index;
    text->color = *color;
    text->text_flags = text_flags;
    memcpy(text->string, string, length + 1);
    add_surface_to_surface_list(view, &text->header);
}

// Which marks an object gets this frame (units and other marked objects).
static bool caps_lock_shows_marks(void)
{
    const input_definition *definition = get_input_definition();
    if (!definition || !key_down(_key_caps_lock)) return false;
    return definition->caps_lock_action == _caps_lock_selection_boxes ||
           definition->caps_lock_action == _caps_lock_health_bars;
}

// The interface colour of a marked object's box.
static int32_t mark_color_index(const object_data *object)
{
    if (object->owner != _object_is_monster) return _interface_color_inanimate_object;
    const uint32_t evaluation = evaluate_monster(object->owner_index);
    if (evaluation & _monster_is_owned_evaluation_flag) return _interface_color_friendly_unit;
    if (evaluation & _monster_is_friendly_evaluation_flag) return _interface_color_allied_unit;
    return _interface_color_enemy_unit;
}

// The selection box, its frame, the vitality and mana bars, the name label
// and the overhead text of a marked object.
static void build_sprite_marks(view_data *view, const sprite_frame *frame, const object_data *object,
                               bool submerged)
{
    const monster_data *monster = object->owner == _object_is_monster ? get_monster_data(object->owner_index) : nullptr;
    const uint32_t highlight = _object_is_selected_flag | _object_attack_highlighted_flag;
    const bool highlighted = (object->flags & highlight) != 0;
    const bool mouse_over = (object->flags & _object_mouse_over_highlighted_flag) != 0;
    const bool caps_lock = monster && local_player_index != NONE && monster->owner_player_index == local_player_index &&
                           caps_lock_shows_marks();

    // Overhead text is shown whether or not the unit is marked.
    const overhead_text_data *overhead = monster && monster->current_overhead_text_index != NONE
                                             ? get_overhead_text(monster->current_overhead_text_index)
                                             : nullptr;
    if (!highlighted && !mouse_over && !caps_lock && !overhead) return;

    // The box: the object's radius either side of its position and its
    // heights above it, projected at the sprite's depth.
    const float s = frame->scale;
    const int32_t r = object->radius;
    const int32_t bx0 = clamp_screen((float)view->xk - (float)(frame->viewer.x - r) * s);
    const int32_t bx1 = clamp_screen((float)view->xk - (float)(frame->viewer.x + r) * s);
    const int32_t by0 = clamp_screen((float)view->yk + (float)(frame->viewer.y + object->height1) * s);
    const int32_t by1 = clamp_screen((float)view->yk + (float)(frame->viewer.y + object->height0) * s);
    const int32_t left = std::min(bx0, bx1), right = std::max(bx0, bx1) + 1;
    const int32_t top = std::min(by0, by1), bottom = std::max(by0, by1) + 1;

    rgb_color color;
    if (highlighted || mouse_over || caps_lock)
    {
        get_interface_color(mark_color_index(object), &color);
        uint16_t transparency = highlighted || caps_lock ? SELECTION_SURFACE_TRANSPARENCY
                                                         : MOUSEOVER_SELECTION_SURFACE_TRANSPARENCY;
        if (submerged) transparency = SUBMERGED_SELECTION_TRANSPARENCY;
        const game_preferences *preferences = get_game_preferences();
        const int32_t w = SELECTION_FRAME_WIDTH +
                          (preferences && (preferences->flags & _game_pref_vux_selection_boxes_flag) ? 1 : 0);
        add_filled_mark(view, frame, left, top, right, top + w, &color, transparency);             // _frame_top
        add_filled_mark(view, frame, left, bottom - w, right, bottom, &color, transparency);       // _frame_bottom
        add_filled_mark(view, frame, left, top + w, left + w, bottom - w, &color, transparency);   // _frame_left
        add_filled_mark(view, frame, right - w, top + w, right, bottom - w, &color, transparency); // _frame_right

        // The vitality bar, left of the box: full length for a unit whose
        // maximum vitality (in whole points) reaches twice its height over
        // VITALITY_TO_HEIGHT_RATIO, shorter for weaker units; filled from the
        // bottom by the vitality fraction.  No bar without a maximum.
        const object_definition *definition = get_object_definition(object->type);
        const bool draws_vitality = monster || (definition && (definition->flags &
                                                               FLAG(_object_definition_draws_vitality_bar_bit)));
        if (draws_vitality && object->maximum_vitality > 0)
        {
            const int32_t f = std::clamp((int32_t)(((int64_t)std::max<int16_t>(object->vitality, 0) << 16) /
                                                   object->maximum_vitality),
                                         0, 65536);
            const int32_t height = std::max(1, (int32_t)object->height1 - object->height0);
            const int32_t original = definition && definition->maximum_vitality > 0 ? definition->maximum_vitality
                                                                                    : object->maximum_vitality;
            const int64_t capacity =
                std::min<int64_t>(65536, ((int64_t)original * VITALITY_TO_HEIGHT_RATIO * 65536 / SHORT_FIXED_ONE) /
                                             (2 * (int64_t)height));
            const int32_t full = (int32_t)(((int64_t)(bottom - top) * capacity) >> 16);
            const int32_t x1 = left - VITALITY_BAR_SEPARATION, x0 = x1 - VITALITY_BAR_WIDTH;
            const int32_t bar_bottom = bottom, bar_top = bottom - std::max(full, 2 * VITALITY_BAR_CAP_HEIGHT + 1);
            const int32_t inner_top = bar_top + VITALITY_BAR_CAP_HEIGHT, inner_bottom = bar_bottom - VITALITY_BAR_CAP_HEIGHT;
            const int32_t filled_top = inner_bottom - (int32_t)(((int64_t)(inner_bottom - inner_top) * f) >> 16);
            const int32_t grade = (21 * std::min(f, 65535)) >> 16;
            rgb_color filled, empty;
            get_interface_color(_interface_color_vitality_filled + grade, &filled);
            get_interface_color(_interface_color_vitality_empty + grade, &empty);
            add_filled_mark(view, frame, x0, inner_bottom, x1, bar_bottom, &color, 0);      // _bar_footer
            add_filled_mark(view, frame, x0, filled_top, x1, inner_bottom, &filled, 0);     // the filled part
            add_filled_mark(view, frame, x0, inner_top, x1, filled_top, &empty, 0);         // _bar_empty
            add_filled_mark(view, frame, x0, bar_top, x1, inner_top, &color, 0);            // _bar_header
        }

        // The mana bar, above the box, as long as the box is wide times the
        // mana fraction.
        const monster_definition *unit = monster ? get_monster_definition(monster->type) : nullptr;
        if (unit && unit->maximum_mana > 0 && !(unit->hack_flags & _monster_hack_mana_isnt_shown_flag) &&
            !((unit->hack_flags & _monster_hack_enemies_cant_see_mana_flag) && game_->type == _game_type_networked &&
              monster->owner_team_index != local_player_team_index))
        {
            const int32_t f = std::clamp((int32_t)(((int64_t)std::max<int16_t>(monster->mana, 0) << 16) /
                                                   unit->maximum_mana),
                                         0, 65536);
            const int32_t length = (int32_t)(((int64_t)(right - left) * f) >> 16);
            const rgb_color blue = {0, 0, 65535, 0};
            add_filled_mark(view, frame, left, top - MANA_BAR_SEPARATION - MANA_BAR_HEIGHT, left + length,
                            top - MANA_BAR_SEPARATION, &blue, 0);
        }

        // The name label, above the bars.
        if (monster && monster->name[0])
        {
            char name[MAXIMUM_MONSTER_NAME_LENGTH + 1];
            memcpy(name, monster->name, sizeof(name));
            name[MAXIMUM_MONSTER_NAME_LENGTH] = 0;
            get_interface_color(_interface_color_label_text, &color);
            add_text_mark(view, frame, name, get_interface_font_index(0), 0, &color, 0, (left + right) / 2,
                          top - MANA_BAR_SEPARATION - MANA_BAR_HEIGHT - MANA_BAR_CAP_HEIGHT);
        }
    }

    if (overhead)
    {
        const char *string = get_string_from_list(overhead->string_list_index, overhead->string_index);
        const int32_t line = overhead->font_index >= 0 ? get_font_line_height(overhead->font_index) : 0;
        add_text_mark(view, frame, string, overhead->font_index, (int16_t)overhead->style, &overhead->color,
                      overhead->text_flags, (left + right) / 2,
                      top - MANA_BAR_SEPARATION - MANA_BAR_HEIGHT - MANA_BAR_CAP_HEIGHT - line);
    }
}

// The media line facts of the object's cell.
static int32_t media_wobble(void)
{
    const mesh_header *header = get_mesh_header();
    const media_definition *media = header ? get_media_definition(header->media_type) : nullptr;
    return media ? media->wobble_magnitude[2] : 0;
}

// How faint a mirror image is: the map's media's reflection transparency.
static uint16_t reflection_transparency(void)
{
    const mesh_header *header = get_mesh_header();
    const media_definition *media = header ? get_media_definition(header->media_type) : nullptr;
    return media ? media->reflection_transparency : 0;
}

// Whether the object lies wholly under the media line of its cell.
static bool object_is_submerged(const object_data *object, const mesh_cell *cell)
{
    const int32_t wobble = media_wobble();
    const int32_t top = object->location.position.z + std::max(object->height0, object->height1);
    switch (object->owner)
    {
    case _object_is_monster:
        return (object->flags & _object_wholly_under_media_flag) && top < cell->media_height - wobble;
    case _object_is_scenery:
        return top < cell->media_height - wobble;
    case _object_is_projectile:
    case _object_is_dormant_projectile:
        return object->location.position.z <= cell->media_height &&
               top < cell->media_height - wobble / 2 - 256;
    default:
        return false;
    }
}

static void draw_parasite(view_data *view, mesh_region *region, bool fully_visible, bool under_media,
                          const object_data *host)
{
    // A parasite may carry its own; a chain that loops back (bad records)
    // must not recurse for ever.
    static int32_t depth = 0;
    const object_data *parasite = get_object(host->parasitic_object_index);
    if (!parasite || parasite == host || depth >= 4) return;
    ++depth;
    if (parasite->geometry_index == NONE)
        build_render_sprite(view, region, false, fully_visible, under_media, false, parasite,
                            host->parasitic_object_index);
    else
        render_object_geometry(view, region, parasite, host->parasitic_object_index, false);
    --depth;
}

// The screen point of a world point, 16.16; false behind (or too near) the viewer.
static bool project_shadow_point(const view_data *view, const world_point3d *world, int32_t viewer_x_offset,
                                 int64_t *screen_x, int64_t *screen_y)
{
    world_point3d viewer;
    transform_world_point_to_viewer_space(view, world, &viewer, false);
    if (viewer.z >= -34) return false;
    const double scale = (double)view->fworld_to_screen / (double)viewer.z;
    *screen_x = (int64_t)(((double)view->xk - (double)(viewer.x + viewer_x_offset) * scale) * 65536.0);
    *screen_y = (int64_t)(((double)view->yk + (double)viewer.y * scale) * 65536.0);
    return std::llabs(*screen_x) < ((int64_t)32767 << 16) && std::llabs(*screen_y) < ((int64_t)32767 << 16);
}

// A sprite's shadow shaped like the sprite: its rectangle laid flat on the
// ground along the light, each point at height h above the ground falling
// h × MAXIMUM_SHADOW_SHIFT / ZERO_SHADOW_DENSITY_HEIGHT along +x and +y from
// its foot, as the stamped shadows and the models' shadows fall.  Drawn on the
// screen just behind the sprite, so it darkens the ground it lies on but
// never the sprite.  `lift` is the object's height above the ground.
static void build_sprite_shadow(view_data *view, const object_data *object, const bitmap_instance_data *instance,
                                int32_t sprite_key, int32_t lift, fixed_fraction phase)
{
    if (lift >= ZERO_SHADOW_DENSITY_HEIGHT) return;
    // As dark as a stamped shadow at the foot, fading with height as stamps do.
    int64_t density = lift <= 0 ? 65535 : 65536 - ((int64_t)lift * 65536) / ZERO_SHADOW_DENSITY_HEIGHT;
    density = overlay_density_for_transfer_mode((fixed_fraction)std::min<int64_t>(density, 65535),
                                                object->transfer_mode, phase);
    const uint32_t darkness = (uint32_t)((density * SPRITE_SHADOW_DARKNESS) >> 16);
    if (darkness < 4096) return; // lighter than the table's first level

    int32_t left, right, top, bottom;
    const uint32_t flags = mirrored_sprite_bounds(object, instance, false, &left, &right, &top, &bottom);
    const int32_t scale = object->scale;
    left = (left * scale) >> 8;
    right = (right * scale) >> 8;
    top = (top * scale) >> 8;
    bottom = (bottom * scale) >> 8;
    if (top <= bottom || right <= left) return;

    // The foot edge (the sprite's bottom row) and the top edge on the ground.
    auto laid = [&](int32_t height, world_point3d *point) {
        const int32_t shift = (int32_t)(((int64_t)std::max(lift + height, 0) * MAXIMUM_SHADOW_SHIFT) /
                                        ZERO_SHADOW_DENSITY_HEIGHT);
        const world_point2d at = {(world_distance)(object->location.position.x + shift),
                                  (world_distance)(object->location.position.y + shift)};
        const int32_t ground = get_mesh_height(&at, _mesh_ground_height);
        *point = {at.x, at.y, (world_distance)(ground == MESH_NO_HEIGHT ? object->location.position.z - lift : ground)};
    };
    world_point3d foot, head;
    laid(bottom, &foot);
    laid(top, &head);
    int64_t foot_left, foot_right, foot_row, top_left, top_right, top_row, unused;
    if (!project_shadow_point(view, &foot, left, &foot_left, &foot_row) ||
        !project_shadow_point(view, &foot, right, &foot_right, &unused) ||
        !project_shadow_point(view, &head, left, &top_left, &top_row) ||
        !project_shadow_point(view, &head, right, &top_right, &unused))
        return;
    if (foot_left > foot_right)
    {
        std::swap(foot_left, foot_right);
        std::swap(top_left, top_right);
    }
    // Seen along the light the silhouette would fold into a line; it keeps
    // a third of its width in depth, as a body's footprint would.
    const int64_t least_rise = std::max<int64_t>((foot_right - foot_left) / 3, 2 * 65536);
    if (std::llabs(top_row - foot_row) < least_rise)
        top_row = std::clamp<int64_t>(foot_row + (top_row > foot_row ? least_rise : -least_rise),
                                      -((int64_t)32767 << 16), (int64_t)32767 << 16);

    render_shadow_rectangle *shadow = render_new<render_shadow_rectangle>();
    if (!shadow) return;
    *shadow = {};
    shadow->header.packed = pack_surface_word(flags | _surface_precise_z_flag | _surface_transparent_flag,
                                              _surface_type_rectangle, _surface_subtype_object_shadow);
    shadow->header.transparency = (uint16_t)(65535 - darkness);
    // One step farther than the sprite: drawn before it, after the ground.
    shadow->header.precise_z = (int32_t)((uint32_t)sprite_key - 1u);
    world_point3d foot_viewer;
    transform_world_point_to_viewer_space(view, &foot, &foot_viewer, false);
    shadow->header.z = foot_viewer.z;
    shadow->header.obj_view_y = foot_viewer.y;
    auto to_pixel = [](int64_t v, bool up) {
        return (int16_t)std::clamp<int64_t>(up ? (v + 65535) >> 16 : v >> 16, -32768, 32767);
    };
    shadow->x0 = to_pixel(std::min(foot_left, top_left), false);
    shadow->x1 = to_pixel(std::max(foot_right, top_right), true);
    shadow->y0 = to_pixel(std::min(foot_row, top_row), false);
    shadow->y1 = to_pixel(std::max(foot_row, top_row), true);
    if (shadow->x1 <= 0 || shadow->y1 <= 0 || shadow->x0 >= view->screen_width || shadow->y0 >= view->screen_height)
        return;
    shadow->clip_top = -32768;
    shadow->clip_bottom = 32767;
    shadow->viewer_clip_top = 32767;
    shadow->viewer_clip_bottom = -32768;
    shadow->bitmap_identifier = make_bitmap_identifier(object->shape_collection_index, instance->bitmap_index,
                                                       object->color_table_index, object->color_table_permutation);
    shadow->foot_left = (int32_t)foot_left;
    shadow->foot_right = (int32_t)foot_right;
    shadow->foot_row = (int32_t)foot_row;
    shadow->top_left = (int32_t)top_left;
    shadow->top_right = (int32_t)top_right;
    shadow->top_row = (int32_t)top_row;
    add_surface_to_surface_list(view, &shadow->header);
}

// The sprite's rectangle, split at the media line: the part above it as
// usual, the part below it faint in the water's tint (all of it for a
// submerged object, and the whole mirror image in the reflection pass).
// False when the surface list is full.
static bool add_sprite_rectangles(view_data *view, const sprite_frame *frame_in, const object_data *object,
                                  int32_t object_index, int16_t collection_index, const bitmap_instance_data *instance,
                                  uint32_t flags, fixed_fraction phase, bool reflection, bool under_media,
                                  bool submerged, const mesh_cell *cell)
{
    const sprite_frame &frame = *frame_in;
    const uint32_t identifier = make_bitmap_identifier(collection_index, instance->bitmap_index,
                                                       object->color_table_index,
                                                       object->color_table_permutation);
    // What is seen in or through the water takes the water's tint.
    const uint32_t tinted_identifier = make_bitmap_identifier(collection_index, instance->bitmap_index,
                                                              object->color_table_index,
                                                              _shading_table_reflection);
    // The media line: its screen row under (or over) the sprite.
    // Drawn in parts: the sprite above it as usual, the part below it faint in
    // the reflection pass (all of it for a submerged object).
    struct part
    {
        int16_t clip_top, clip_bottom;
        bool under;
    } parts[2];
    int32_t part_count = 0;
    const int16_t split = under_media || submerged || reflection
                              ? screen_row_of_height(view, &frame.position, cell->media_height, false)
                              : (int16_t)-32768;
    if (reflection)
        parts[part_count++] = {std::max<int16_t>(split, -32768), 32767, false};
    else if (!under_media && !submerged)
        parts[part_count++] = {-32768, 32767, false};
    else if (submerged || split <= frame.y0)
        parts[part_count++] = {-32768, 32767, true};
    else if (split >= frame.y1)
        parts[part_count++] = {-32768, 32767, false};
    else
    {
        parts[part_count++] = {-32768, split, false};
        parts[part_count++] = {split, 32767, true};
    }
    for (int32_t i = 0; i < part_count; ++i)
    {
        if (parts[i].clip_top >= parts[i].clip_bottom) continue;
        render_rectangle *rectangle = render_new<render_rectangle>();
        if (!rectangle) return false;
        *rectangle = {};
        uint32_t surface_flags = flags | _surface_precise_z_flag;
        uint16_t transparency = 0;
        if (reflection)
        {
            surface_flags |= _surface_reflection_flag | _surface_transparent_flag;
            transparency = reflection_transparency();
        }
        if (parts[i].under)
        {
            surface_flags |= _surface_reflection_flag | _surface_transparent_flag;
            transparency = UNDER_MEDIA_SPRITE_TRANSPARENCY;
        }
        rectangle->header.packed =
            pack_surface_word(surface_flags, _surface_type_rectangle, _surface_subtype_object_rectangle);
        rectangle->header.transparency = transparency;
        rectangle->header.precise_z = frame.precise_z;
        rectangle->header.z = frame.viewer.z;
        rectangle->header.obj_view_y = frame.viewer.y;
        set_rectangle_fields(rectangle, &frame);
        rectangle->clip_top = parts[i].clip_top;
        rectangle->clip_bottom = parts[i].clip_bottom;
        // The hardware back end cuts sprites in viewer space: the same rows.
        if (parts[i].clip_top != -32768)
            rectangle->viewer_clip_top = viewer_height_of_row(view, &frame, parts[i].clip_top);
        if (parts[i].clip_bottom != 32767)
            rectangle->viewer_clip_bottom = viewer_height_of_row(view, &frame, parts[i].clip_bottom);
        rectangle->bitmap_identifier = reflection || parts[i].under ? tinted_identifier : identifier;
        rectangle->object_index = (int16_t)object_index;
        if (object->transfer_mode != _transfer_mode_none && !parts[i].under)
            affect_rectangle_transfer_mode(&rectangle->header, object->transfer_mode, phase);
        add_surface_to_surface_list(view, &rectangle->header);
    }
    return true;
}

// The view of the sequence the viewer sees the object from (the object's own
// for a sequence without rotation).  NONE, logged, when it is not one of the
// sequence's views.
static int32_t sprite_view_index(const view_data *view, const object_data *object, const sprite_frame *frame_in,
                                 const sequence_data *sequence)
{
    const sprite_frame &frame = *frame_in;
    int32_t view_index = object->shape_view_index;
    if (!(sequence->flags & _sequence_has_no_rotation_flag))
    {
        angle facing = (angle)(arctangent(view->location.position.x - frame.position.x,
                                          view->location.position.y - frame.position.y) -
                               object->location.yaw);
        if (object->flags & _object_is_horizontally_mirrored_flag) facing = (angle)-facing;
        view_index = (int32_t)(((uint32_t)facing * (uint32_t)sequence->number_of_views + 32768u) >> 16);
        if (view_index == sequence->number_of_views) view_index = 0;
    }
    if (view_index < 0 || view_index >= sequence->number_of_views)
    {
        log_message(__FILE__, __LINE__, "view #%d not in [#0,#%d] (view_index>=0 && view_index<sequence->number_of_views)",
                    view_index, (int32_t)sequence->number_of_views - 1);
        return NONE;
    }
    return view_index;
}

// The sprite's shadow (or its shadow map laid on the ground), unless the
// object is under the media or casts none.
static void add_sprite_shadow(view_data *view, mesh_region *region, bool reflection, const object_data *object,
                              const world_point2d &at, const mesh_cell *cell, int16_t collection_index,
                              const sequence_frame_data *frame_data, const bitmap_instance_data *instance,
                              int32_t precise_z, fixed_fraction phase)
{
    if (!reflection && frame_data->shadow_map_index != NONE && !(object->flags & _object_has_no_shadow_flag) &&
        !((object->flags & (_object_partially_under_media_flag | _object_wholly_under_media_flag)) &&
          object->location.position.z + object->height1 <= cell->media_height))
    {
        const int32_t ground = get_mesh_height(&at, _mesh_ground_height);
        const shadow_map_data *shadow_map = get_shadow_map(collection_index, frame_data->shadow_map_index);
        if (shadow_map && (shadow_map->flags & _shadow_map_cast_by_sprite_flag) &&
            !(shadow_map->flags & _shadow_map_is_light_map_flag))
        {
            // Off the mesh there is no ground: the shadow lies level with the foot.
            if (!(instance->flags & _bitmap_instance_texture_flag))
                build_sprite_shadow(view, object, instance, precise_z,
                                    ground == MESH_NO_HEIGHT ? 0 : object->location.position.z - ground, phase);
        }
        else
            build_render_map_overlay(view, region, collection_index, object->scale, object->flags,
                                     frame_data->shadow_map_index, NONE, object->transfer_mode, phase,
                                     &object->location.position, object->location.position.z - ground, 65535);
    }
}

void build_render_sprite(view_data *view, mesh_region *region, bool reflection, bool fully_visible, bool under_media,
                         bool shadow_only, const object_data *object, int32_t object_index)
{
    if (!view || !object) return;
    const world_point2d at = {object->location.position.x, object->location.position.y};
    const mesh_cell *cell = get_mesh_cell(at.x >> WORLD_FRACTIONAL_BITS, at.y >> WORLD_FRACTIONAL_BITS);

    // Position, bob and depth.
    sprite_frame frame = {};
    frame.position = object->location.position;
    if ((object->flags & _object_floats_on_land_flag) ||
        ((object->flags & _object_on_media_flag) && (object->flags & _object_floats_on_media_flag)))
    {
        const uint32_t t = ((uint32_t)object_index * 57u + (uint32_t)game_->game_time) * 16u;
        frame.position.z += cosine_table[(t & 1008u)] >> 9;
    }
    // The mirror image stands upside down on the far side of the surface.  An
    // object whose foot is under the water mirrors too, so that the part of it
    // above the surface shows in the water (the transform's own mirroring
    // leaves points under the surface where they are).
    if (reflection) frame.position.z = 2 * (int32_t)cell->media_height - frame.position.z;
    transform_world_point_to_viewer_space(view, &frame.position, &frame.viewer, false);
    // Too near or behind the viewer the object is not drawn, but its shadow
    // may still lie in view.
    if (frame.viewer.z >= -34)
    {
        if (reflection) return;
        shadow_only = true;
    }
    frame.precise_z = unshifted_viewer_z(view, &frame.position, false);
    frame.scale = view->fworld_to_screen / (float)std::min(frame.viewer.z, -1);

    // Sequence, frame and view.
    int16_t sequence_index = object->shape_sequence_index, frame_index = object->shape_frame_index;
    if (object->owner == _object_is_scenery)
    {
        const object_data *scenery = object;
        int16_t s = sequence_index, f = frame_index;
        if (get_animation_parameters_for_scenery(scenery->type, &s, &f))
        {
            sequence_index = s;
            frame_index = f;
        }
    }
    const int16_t collection_index = object->shape_collection_index;
    const sequence_data *sequence = get_sequence(collection_index, sequence_index);
    if (!sequence) return;
    const int32_t view_index = sprite_view_index(view, object, &frame, sequence);
    if (view_index == NONE) return;
    const sequence_frame_data *frame_data = get_sequence_frame(collection_index, sequence_index, frame_index);
    const int32_t instance_index = get_sequence_instance_index(collection_index, sequence_index, view_index, frame_index);
    const bitmap_instance_data *instance =
        instance_index == NONE ? nullptr : get_bitmap_instance(collection_index, instance_index);
    if (!frame_data || !instance) return;
    // A bitmap of no (or absurd) size or a registration point off it would
    // place or scale the sprite, its shadow and its marks wrongly in either
    // renderer: skipped, logged once per bitmap.
    if (!sprite_instance_is_drawable(collection_index, instance)) return;

    // The phase of the transfer mode.
    fixed_fraction phase = 0;
    if (object->transfer_mode != _transfer_mode_none)
        phase = object->transfer_period > 0
                    ? (fixed_fraction)std::clamp<int32_t>(((int32_t)object->transfer_phase << 16) /
                                                              object->transfer_period,
                                                          0, 65535)
                    : 65535;

    const bool submerged = object_is_submerged(object, cell);
    if (!shadow_only)
    {
        // The bounds, mirrored as the object is.
        int32_t left, right, top, bottom;
        uint32_t flags = mirrored_sprite_bounds(object, instance, reflection, &left, &right, &top, &bottom);
        if (instance->flags & _bitmap_instance_transparent_flag)
            flags |= _surface_transparent_flag | _surface_transparent_overlay_flag;

        if (instance->flags & _bitmap_instance_texture_flag)
        {
            // Oriented bitmaps run along the object's velocity.
            build_bitmap_triangles_data data = {};
            data.flags = reflection ? _is_reflection_flag : 0;
            data.collection_index = collection_index;
            data.color_table_index = object->color_table_index;
            data.transparency = 0;
            data.horizontal_scale = data.vertical_scale = object->scale;
            build_extended_bitmap_surface_triangles(instance, &frame.viewer, &object->location.velocity, view, nullptr,
                                                    &data);
        }
        else
        {
            // The rectangle, split at the media line.
            if (reflection && submerged) return;
            const int32_t scale = object->scale;
            frame.viewer_rect.left = frame.viewer.x + ((left * scale) >> 8);
            frame.viewer_rect.right = frame.viewer.x + ((right * scale) >> 8);
            frame.viewer_rect.top = frame.viewer.y + ((top * scale) >> 8);
            frame.viewer_rect.bottom = frame.viewer.y + ((bottom * scale) >> 8);
            frame.x0 = clamp_screen((float)view->xk - (float)frame.viewer_rect.left * frame.scale);
            frame.x1 = clamp_screen((float)view->xk - (float)frame.viewer_rect.right * frame.scale);
            frame.y0 = clamp_screen((float)view->yk + (float)frame.viewer_rect.top * frame.scale);
            frame.y1 = clamp_screen((float)view->yk + (float)frame.viewer_rect.bottom * frame.scale);
            if (frame.x0 > frame.x1) std::swap(frame.x0, frame.x1);
            if (frame.y0 > frame.y1) std::swap(frame.y0, frame.y1);
            if (frame.x1 <= 0 || frame.y1 <= 0 || frame.x0 >= view->screen_width || frame.y0 >= view->screen_height)
                return;

            if (!add_sprite_rectangles(view, &frame, object, object_index, collection_index, instance, flags, phase,
                                       reflection, under_media, submerged, cell))
                return;

            // Selection and other marks.
            if (!reflection && object_index != NONE && !(view->flags & _render_view_omit_selections_flag))
                build_sprite_marks(view, &frame, object, submerged);
        }
    }

    add_sprite_shadow(view, region, reflection, object, at, cell, collection_index, frame_data, instance,
                      frame.precise_z, phase);

    // The parasitic object.
    if (!shadow_only && !reflection && object->parasitic_object_index != NONE)
        draw_parasite(view, region, fully_visible, under_media, object);
}

// An object that carries geometry, through the model renderer.
static void render_object_geometry(view_data *view, mesh_region *region, const object_data *object,
                                   int32_t object_index, bool reflection)
{
    (void)object_index;
    geometry_definition *geometry = get_geometry_definition(object->geometry_index);
    if (!geometry) return;
    // The matrix's rows are the right, up and backward vectors (2.14).
    rotation_matrix m;
    build_rotation_matrix(m, object->location.yaw, object->location.pitch);
    const world_vector3d up = {m[1][0], m[1][1], m[1][2]};
    const world_vector3d forward = {(int16_t)-m[2][0], (int16_t)-m[2][1], (int16_t)-m[2][2]};
    const world_vector3d scale = {512, 512, 512};
    render_geometry(view, region, NONE, geometry, &object->location.position, &up, &forward, &scale,
                    reflection, 0);
}

void build_render_objects_for_mesh_cell(view_data *view, mesh_region *region, int32_t x, int32_t y)
{
    if (!view || !region) return;
    mesh_cell *cell = get_mesh_cell(x, y);
    const mesh_span *span = get_mesh_region_span(region, y);
    const bool shadow_only = y < region->y0 || y >= region->y1 || !span || x < span->x0 || x >= span->x1;
    const uint32_t visibility = get_cell_visibility(visibility_front_buffer(), x, y);

    int32_t guard = 0;
    for (int32_t index = cell->first_object_index; index != NONE && guard < 32768; ++guard)
    {
        const object_data *record = get_object(index);
        if (!record) break;
        const int32_t next = record->next_object_index;
        object_data object = *record;
        world_point3d interpolated;
        if (interpolate_object_history(index, &interpolated)) object.location.position = interpolated;

        bool fully_visible = true;
        if ((object.flags & (_object_is_not_rendered_flag | _object_is_invisible_flag)) ||
            !get_local_object_visibility_lowlevel(&object, visibility, &fully_visible))
        {
            index = next;
            continue;
        }
        const int32_t texel_x = object.location.position.x >> 6, texel_y = object.location.position.y >> 6;
        const bool under_media = (cell->flags & _mesh_cell_carries_media_flags) &&
                                 mesh_texture_pixel_is_media(texel_x, texel_y);

        if (!(object.flags & _object_is_media_surface_effect_flag))
        {
            if (object.geometry_index == NONE)
                build_render_sprite(view, region, false, fully_visible, under_media, shadow_only, &object, index);
            else if (!shadow_only)
                render_object_geometry(view, region, &object, index, false);
        }
        if (!shadow_only && !(view->flags & _render_view_omit_reflections_flag))
        {
            const mesh_cell *at = get_mesh_cell(object.location.position.x >> WORLD_FRACTIONAL_BITS,
                                                object.location.position.y >> WORLD_FRACTIONAL_BITS);
            if (mesh_cell_media_bit(at, _mesh_cell_has_reflection_flag) &&
                (at->model_index == NONE ||
                 object.location.position.z <
                     get_model_height_at_position(at->model_index, object.location.position.x,
                                                  object.location.position.y, MAXIMUM_OBJECT_HEIGHT)))
            {
                if (object.geometry_index == NONE)
                    build_render_sprite(view, region, true, fully_visible, under_media, false, &object, index);
                else
                    render_object_geometry(view, region, &object, index, true);
            }
        }
        index = next;
    }
}

void build_objects_surface_list(view_data *view, mesh_region *region)
{
    if (!view || !region) return;
    if (global_maps_mode == _maps_mode_tiles && region->tile_coverage_list && terrain_maps_globals.mesh_tiles)
    {
        for (int32_t i = 0; i < region->tile_coverage_list_size; ++i)
        {
            const mesh_tile *tile = covered_tile(region, i);
            if (!tile) continue;
            for (int32_t y = tile->mesh_y; y <= tile->mesh_y1; ++y)
                for (int32_t x = tile->mesh_x; x <= tile->mesh_x1; ++x)
                    build_render_objects_for_mesh_cell(view, region, x, y);
        }
    }
    else
    {
        for (int32_t y = region->y0; y <= region->y1; ++y)
        {
            const mesh_span *span = get_mesh_region_span(region, y);
            if (!span || !span_is_wider_than_one_cell(span)) continue;
            for (int32_t x = span->x0; x <= span->x1; ++x) build_render_objects_for_mesh_cell(view, region, x, y);
        }
    }

    // The local sprites, while no removal is pending or it began at most
    // LOCAL_SPRITE_SOLID_TIME ticks ago.
    const local_sprite_globals_data &g = local_sprite_globals;
    if (g.fade_out_start_time != -1 && game_->local_time.load() - g.fade_out_start_time > LOCAL_SPRITE_SOLID_TIME)
        return;
    for (int32_t i = 0; i < g.count; ++i)
    {
        object_data object = {};
        object.scale = SHORT_FIXED_ONE;
        object.location = g.sprites[i].location;
        object.shape_collection_index = g.sprites[i].collection_index;
        object.shape_sequence_index = g.sprites[i].sequence_index;
        object.transfer_mode = _transfer_mode_transparent_fade_out;
        object.transfer_period = 1;
        object.parasitic_object_index = NONE;
        object.geometry_index = NONE;
        object.type = NONE;
        build_render_sprite(view, region, false, true, false, false, &object, NONE);
    }
}

// ---- the selection's markers ------------------------------------------------------------

void new_selection_marker(const world_point3d *location, int16_t sequence)
{
    new_local_sprite(location, (int16_t)get_interface_collection(), sequence);
}

void remove_selection_markers(bool immediately)
{
    remove_local_sprites(immediately ? _remove_local_sprites_immediately : _remove_local_sprites_delayed);
}

void register_render_objects_hooks(void)
{
    // (The selection's markers join its table in register_built_subsystems.)
}
