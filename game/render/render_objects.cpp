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

local_sprite_globals_data local_sprite_globals = {0, -1, {}};

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

void build_objects_surface_list(view_data *view, mesh_region *region)
{
    (void)view;
    (void)region;
}

void build_render_objects_for_mesh_cell(view_data *view, mesh_region *region, int32_t x, int32_t y)
{
    (void)view;
    (void)region;
    (void)x;
    (void)y;
}

void build_render_sprite(view_data *view, mesh_region *region, bool reflection, bool fully_visible, bool under_media,
                         bool shadow_only, const object_data *object, int32_t object_index)
{
    (void)view;
    (void)region;
    (void)reflection;
    (void)fully_visible;
    (void)under_media;
    (void)shadow_only;
    (void)object;
    (void)object_index;
}

void register_render_objects_hooks(void) {}
