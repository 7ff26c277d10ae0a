// Surfaces of the world effects: lightning, connectors, mesh effects, mirrors, local projectiles.
#include "render/render_world_effects.h"

#include <algorithm>
#include <cstdlib>
#include <initializer_list>

#include "cseries/log.h"
#include "connectors.h"
#include "lightning.h"
#include "local_projectiles.h"
#include "mesh.h"
#include "mesh_effects.h"
#include "mirror_groups.h"
#include "model_animations.h"
#include "models.h"
#include "objects.h"
#include "render/bitmap_surfaces.h"
#include "render/mesh_region.h"
#include "render/render.h"
#include "render/render_objects.h"
#include "render/terrain_overlays.h"
#include "shapes.h"
#include "tag_files/definitions.h"
#include "vesk_random.h"

// A reflected particle shows this much of itself at most (the rest of its
// opacity is lost in the water), like the under-media part of a sprite.
static const int32_t REFLECTED_EFFECT_TRANSPARENCY = 0xE000;

// A bad look stays bad every frame: each kind of effect logs its first one
// once per map.
static struct world_effect_globals
{
    bool local_projectile_logged;
    bool lightning_logged;
} world_effect_globals;

void initialize_world_effects_for_new_map(void)
{
    world_effect_globals.local_projectile_logged = false;
    world_effect_globals.lightning_logged = false;
}

// ---- shared helpers ----------------------------------------------------------------

bool effect_point_in_region(const mesh_region *region, const world_point3d *point)
{
    if (!region || !region->spans || point->x < 0 || point->y < 0) return false;
    const int32_t cell_x = point->x >> WORLD_FRACTIONAL_BITS, cell_y = point->y >> WORLD_FRACTIONAL_BITS;
    if (cell_x >= mesh_width || cell_y >= mesh_height) return false;
    const mesh_span *span = get_mesh_region_span(region, cell_y);
    return span && cell_in_span_inclusive(span, cell_x);
}

// The sequence of an effect's look, or null (logged once per map through
// `*logged`) for a collection that is not loaded, a sequence the collection
// lacks, or one without views or frames.
static const sequence_data *effect_sequence(int32_t collection_index, int32_t sequence_index, const char *what,
                                            bool *logged)
{
    const int32_t count = get_collection_sequence_count(collection_index);
    const sequence_data *sequence =
        sequence_index >= 0 && sequence_index < count ? get_sequence(collection_index, sequence_index) : nullptr;
    if (sequence && sequence->number_of_views >= 1 && sequence->frames_per_view >= 1) return sequence;
    if (!*logged)
    {
        *logged = true;
        log_message(__FILE__, __LINE__, "%s: sequence #%d of collection #%d (%d sequences) has nothing to draw",
                    what, (int)sequence_index, (int)collection_index, (int)count);
    }
    return nullptr;
}

// The bitmap instance of view 0 of `frame` (which must lie in the sequence),
// or null (logged once per map through `*logged`) when the collection does not give one.
static const bitmap_instance_data *effect_instance(int32_t collection_index, int32_t sequence_index,
                                                   const sequence_data *sequence, int32_t frame, const char *what,
                                                   bool *logged)
{
    const int32_t instance_index =
        frame >= 0 && frame < sequence->frames_per_view
            ? get_sequence_instance_index(collection_index, sequence_index, 0, frame)
            : (int32_t)NONE;
    if (instance_index != NONE) return get_bitmap_instance(collection_index, instance_index);
    if (!*logged)
    {
        *logged = true;
        log_message(__FILE__, __LINE__, "%s: frame #%d not in [#0,#%d) of sequence #%d of collection #%d", what,
                    (int)frame, (int)sequence->frames_per_view, (int)sequence_index, (int)collection_index);
    }
    return nullptr;
}

render_rectangle *build_effect_rectangle(view_data *view, const bitmap_instance_data *instance,
                                         int16_t collection_index, int16_t color_table_index,
                                         fixed_fraction transparency, const world_point3d *p,
                                         short_fixed scale, bool reflected)
{
    if (p->z >= EFFECT_NEAREST_VIEWER_Z) return nullptr;
    int32_t top = instance->world_top, bottom = instance->world_bottom;
    if (reflected)
    {
        const int32_t old_top = top;
        top = -bottom;
        bottom = -old_top;
    }
    const rectangle2d_32 viewer = {p->x + (int32_t)(((int64_t)instance->world_left * scale) >> 8),
                                   p->y + (int32_t)(((int64_t)top * scale) >> 8),
                                   p->x + (int32_t)(((int64_t)instance->world_right * scale) >> 8),
                                   p->y + (int32_t)(((int64_t)bottom * scale) >> 8)};
    const double s = (double)view->fworld_to_screen / (double)p->z;
    const double x0 = (double)view->xk - viewer.left * s, x1 = (double)view->xk - viewer.right * s;
    const double y0 = (double)view->yk + viewer.top * s, y1 = (double)view->yk + viewer.bottom * s;
    // Out-of-range conversions are undefined: test before truncating.
    for (const double v : {x0, x1, y0, y1})
        if (!(v > -32769.0 && v < 32768.0)) return nullptr;
    const int16_t sx0 = (int16_t)x0, sx1 = (int16_t)x1, sy0 = (int16_t)y0, sy1 = (int16_t)y1;
    if (sx0 >= sx1 || sy0 >= sy1) return nullptr;
    if (sx1 <= 0 || sy1 <= 0 || sx0 >= view->screen_width || sy0 >= view->screen_height) return nullptr;
    render_rectangle *rectangle = build_bitmap_surface_rectangle(instance, view, collection_index, color_table_index,
                                                                 transparency, p, &viewer, sx0, sx1, sy0, sy1);
    if (rectangle && reflected)
    {
        const uint32_t flags = surface_word_flags(rectangle->header.packed) ^ _surface_mirror_vertical_flag;
        rectangle->header.packed =
            pack_surface_word(flags | _surface_reflection_flag | _surface_transparent_flag, _surface_type_rectangle,
                              _surface_subtype_object_rectangle);
        rectangle->bitmap_identifier = make_bitmap_identifier(collection_index, instance->bitmap_index,
                                                              color_table_index, 3);
    }
    return rectangle;
}

// 65535 - opacity: a fade's opacity as a surface's transparency.
static fixed_fraction transparency_of_opacity(fixed_fraction opacity)
{
    return (fixed_fraction)(FIXED_FRACTION_ONE - opacity);
}

// ---- local projectiles -------------------------------------------------------------

// What one particle draws with: its look, position and frame.  False for a
// free slot, a particle without a look or one outside the region.
struct particle_look
{
    local_projectile_surface surface;
    const sequence_data *sequence;
    const bitmap_instance_data *instance;
};

static bool get_particle_look(int32_t projectile_index, const mesh_region *region, particle_look *look, bool *logged)
{
    if (!get_local_projectile_surface(projectile_index, &look->surface)) return false;
    local_projectile_surface *surface = &look->surface;
    if (surface->collection_index == NONE || surface->opacity == 0) return false;
    world_point3d interpolated;
    if (interpolate_local_projectile_history(projectile_index, &interpolated)) surface->position = interpolated;
    if (!effect_point_in_region(region, &surface->position)) return false;
    look->sequence = effect_sequence(surface->collection_index, surface->sequence_index, "local projectile", logged);
    if (!look->sequence) return false;
    look->instance = effect_instance(surface->collection_index, surface->sequence_index, look->sequence,
                                     surface->frame_index, "local projectile", logged);
    return look->instance != nullptr;
}

void build_local_projectiles_surface_list(view_data *view, mesh_region *region)
{
    const int32_t count = get_local_projectile_count();
    for (int32_t index = 0; index < count; ++index)
    {
        particle_look look;
        if (!get_particle_look(index, region, &look, &world_effect_globals.local_projectile_logged)) continue;
        const local_projectile_surface &s = look.surface;
        world_point3d p;
        transform_world_point_to_viewer_space(view, &s.position, &p, false);
        if (!build_effect_rectangle(view, look.instance, s.collection_index, s.color_table_index,
                                    transparency_of_opacity(s.opacity), &p, s.scale, false))
            continue;
        const sequence_frame_data *frame = get_sequence_frame(s.collection_index, s.sequence_index, s.frame_index);
        if (frame && frame->shadow_map_index != NONE)
        {
            const world_point2d ground = {s.position.x, s.position.y};
            build_render_map_overlay(view, region, s.collection_index, s.scale, 0, frame->shadow_map_index, NONE,
                                     _transfer_mode_none, 0, &s.position,
                                     s.position.z - get_mesh_height(&ground, 0), s.opacity);
        }
    }
}

void build_media_local_projectile_effects(view_data *view, mesh_region *region)
{
    if (view->flags & _render_view_omit_reflections_flag) return;
    const int32_t count = get_local_projectile_count();
    for (int32_t index = 0; index < count; ++index)
    {
        particle_look look;
        if (!get_particle_look(index, region, &look, &world_effect_globals.local_projectile_logged)) continue;
        const local_projectile_surface &s = look.surface;
        const mesh_cell *cell =
            get_mesh_cell(s.position.x >> WORLD_FRACTIONAL_BITS, s.position.y >> WORLD_FRACTIONAL_BITS);
        if (!cell || !mesh_cell_media_bit(cell, _mesh_cell_has_reflection_flag) || s.position.z <= cell->media_height) continue;
        world_point3d p;
        transform_world_point_to_viewer_space(view, &s.position, &p, true);
        // The reflection shows at most an eighth of the particle's opacity.
        const int32_t shown = (int32_t)s.opacity * (FIXED_FRACTION_ONE - REFLECTED_EFFECT_TRANSPARENCY) /
                              FIXED_FRACTION_ONE;
        build_effect_rectangle(view, look.instance, s.collection_index, s.color_table_index,
                               transparency_of_opacity((fixed_fraction)shown), &p, s.scale, true);
    }
}

// ---- lightning ---------------------------------------------------------------------

// Where a bolt reaches now: its end point once struck, else the share of
// the way its age covered.
static world_point3d lightning_tip(const lightning_data *bolt, const lightning_definition *definition)
{
    if (bolt->state == _lightning_struck) return bolt->strike_point;
    const int64_t strike_ticks = definition->strike_ticks > 0 ? definition->strike_ticks : 1;
    const int64_t age = bolt->age < 0 ? 0 : (bolt->age > strike_ticks ? strike_ticks : bolt->age);
    world_point3d tip;
    tip.x = (world_distance)(bolt->origin.x + ((int64_t)bolt->end_point.x - bolt->origin.x) * age / strike_ticks);
    tip.y = (world_distance)(bolt->origin.y + ((int64_t)bolt->end_point.y - bolt->origin.y) * age / strike_ticks);
    tip.z = (world_distance)(bolt->origin.z + ((int64_t)bolt->end_point.z - bolt->origin.z) * age / strike_ticks);
    return tip;
}

// -jitter .. jitter, drawn from the local generator (the look only).
static world_distance lightning_wander(int32_t jitter)
{
    if (jitter <= 0) return 0;
    return (world_distance)((int32_t)(local_random() % (uint32_t)(2 * jitter + 1)) - jitter);
}

static void build_lightning_bolt(view_data *view, mesh_region *region, const lightning_data *bolt,
                                 const lightning_definition *definition, bool *logged)
{
    if (definition->collection_tag == NONE || definition->collection_tag == 0) return;
    const int32_t collection = try_definition_tag_to_index(&collections, definition->collection_tag, true,
                                                           _definition_lookup_quiet_flag);
    if (collection == NONE) return;
    const world_point3d tip = lightning_tip(bolt, definition);
    if (!effect_point_in_region(region, &bolt->origin) && !effect_point_in_region(region, &tip)) return;
    const sequence_data *sequence = effect_sequence(collection, 0, "lightning", logged);
    if (!sequence) return;
    const int32_t frame = bolt->age < 0 ? 0 : bolt->age % sequence->frames_per_view;
    const bitmap_instance_data *instance = effect_instance(collection, 0, sequence, frame, "lightning", logged);
    if (!instance) return;

    // A streak's direction is a 16-bit vector: long bolts take more segments.
    int64_t extent = 0;
    for (const int64_t d : {(int64_t)tip.x - bolt->origin.x, (int64_t)tip.y - bolt->origin.y,
                            (int64_t)tip.z - bolt->origin.z})
        if (std::llabs(d) > extent) extent = std::llabs(d);
    int32_t segments = definition->segment_count;
    if (segments < 1) segments = 1;
    if (extent / segments > MAXIMUM_LIGHTNING_SEGMENT_LENGTH)
        segments = (int32_t)(extent / MAXIMUM_LIGHTNING_SEGMENT_LENGTH) + 1;
    if (segments > MAXIMUM_LIGHTNING_SEGMENTS) segments = MAXIMUM_LIGHTNING_SEGMENTS;
    build_bitmap_triangles_data data = {};
    data.collection_index = (int16_t)collection;
    data.color_table_index = 0;
    data.transparency = 0;
    data.horizontal_scale = data.vertical_scale = SHORT_FIXED_ONE;
    world_point3d start = bolt->origin;
    for (int32_t i = 1; i <= segments; ++i)
    {
        world_point3d end = tip;
        if (i < segments)
        {
            end.x = (world_distance)(bolt->origin.x + ((int64_t)tip.x - bolt->origin.x) * i / segments) +
                    lightning_wander(definition->jitter);
            end.y = (world_distance)(bolt->origin.y + ((int64_t)tip.y - bolt->origin.y) * i / segments) +
                    lightning_wander(definition->jitter);
            end.z = (world_distance)(bolt->origin.z + ((int64_t)tip.z - bolt->origin.z) * i / segments) +
                    lightning_wander(definition->jitter);
        }
        // The streak runs back from its end by the segment's length; a
        // segment too long for its vector (a bolt longer than the segments
        // can carry) is left out.
        const int32_t dx = end.x - start.x, dy = end.y - start.y, dz = end.z - start.z;
        const int32_t limit = MAXIMUM_LIGHTNING_SEGMENT_LENGTH + 2 * (definition->jitter > 0 ? definition->jitter : 0);
        world_point3d p;
        transform_world_point_to_viewer_space(view, &end, &p, false);
        if (p.z < EFFECT_NEAREST_VIEWER_Z && std::abs(dx) <= limit && std::abs(dy) <= limit && std::abs(dz) <= limit &&
            limit <= INT16_MAX)
        {
            const world_vector3d direction = {(int16_t)dx, (int16_t)dy, (int16_t)dz};
            build_extended_bitmap_surface_triangles(instance, &p, &direction, view, nullptr, &data);
        }
        start = end;
    }

    // The strike lights (or darkens) the ground where it hit.
    const sequence_frame_data *frame_data = get_sequence_frame(collection, 0, frame);
    if (bolt->state == _lightning_struck && frame_data && frame_data->shadow_map_index != NONE)
        build_render_map_overlay(view, region, (int16_t)collection, SHORT_FIXED_ONE, 0, frame_data->shadow_map_index,
                                 NONE, _transfer_mode_none, 0, &bolt->strike_point, 0, FIXED_FRACTION_ONE);
}

void build_lightning_surface_list(view_data *view, mesh_region *region)
{
    for (int32_t index = 0; index < MAXIMUM_LIGHTNING_BOLTS; ++index)
    {
        const lightning_data *bolt = get_lightning_data(index);
        if (!bolt) continue;
        const lightning_definition *definition = get_lightning_definition(bolt->type);
        if (definition) build_lightning_bolt(view, region, bolt, definition, &world_effect_globals.lightning_logged);
    }
}

// ---- animated shadows --------------------------------------------------------------

void build_visible_animating_shadow_overlays(view_data *view)
{
    if (!view || !view->region) return;
    const int32_t count = get_model_animation_slot_count();
    for (int32_t index = 0; index < count; ++index)
    {
        const model_animation_data *animation = get_model_animation(index);
        const model_data *model = animation ? get_model(animation->current_model_index) : nullptr;
        const model_definition *definition = model ? get_model_definition(model->type) : nullptr;
        if (!definition || !effect_point_in_region(view->region, &model->location)) continue;
        const int32_t collection = definition->collection_index;
        const shadow_map_data *shadow = nullptr;
        const collection_header *header = get_collection_header(collection);
        if (header && animation->current_frame_index >= 0 &&
            animation->current_frame_index < header->blocks[_collection_block_shadow_maps].count)
            shadow = get_shadow_map(collection, animation->current_frame_index);
        const bitmap_data *bitmap = shadow ? get_bitmap(collection, shadow->bitmap_index) : nullptr;
        if (!bitmap || bitmap->bytes_per_row < bitmap->width || !bitmap->row_addresses[0]) continue;
        render_map_overlay *overlay = render_new<render_map_overlay>();
        if (!overlay) return;
        *overlay = {};
        // One overlay texel covers 64 world units; the registration point is
        // 16.16 pixels, so >> 10 makes it world units with the texel's 6
        // fractional bits.
        overlay->x0 = model->location.x - (shadow->registration_x >> 10);
        overlay->y0 = model->location.y - (shadow->registration_y >> 10);
        overlay->pixels = bitmap->row_addresses[0];
        overlay->width = bitmap->width;
        overlay->height = bitmap->height;
        overlay->bytes_per_row = bitmap->bytes_per_row;
        overlay->density = FIXED_FRACTION_ONE;
        overlay->mode = _overlay_animated_shadow_map;
        add_overlay_to_overlay_lists(view, overlay);
    }
}

// ---- mesh effects ------------------------------------------------------------------

// How each type of mesh effect marks the ground: its rings' width (texels
// from the crest to where the light ends, each side), the light at the crest,
// the shade of the trough that follows each crest inward (a ring's width
// behind it, as wide), and how many rings follow one another inward, evenly
// spaced.
struct mesh_effect_look
{
    int32_t ring_width;
    int32_t crest;
    int32_t trough;
    int32_t rings;
};
static const mesh_effect_look mesh_effect_looks[NUMBER_OF_MESH_EFFECT_TYPES] = {
    {2, 170, 150, 1}, // small shockwave: a thin ring
    {4, 230, 200, 1}, // large shockwave: a broad, bright ring and a deep trough
    {1, 140, 0, 3},   // ripple: three thin rings
};

// What the rings give a texel at `distance` (texels, 4 fractional bits) from
// the centre when the outer crest lies at `radius` (the same unit): the light
// of the nearest crest, or the shade of the nearest trough.
static void ring_marks(const mesh_effect_look &look, int32_t radius, int32_t distance, int32_t *light, int32_t *shade)
{
    const int32_t width = look.ring_width << 4;
    *light = *shade = 0;
    for (int32_t ring = 0; ring < look.rings; ++ring)
    {
        const int32_t crest = radius - radius * ring / look.rings;
        const int32_t off = std::abs(distance - crest);
        if (off < width) *light = std::max(*light, look.crest * (width - off) / width);
        const int32_t trough_off = std::abs(distance - (crest - 2 * width));
        if (trough_off < width && crest > 2 * width)
            *shade = std::max(*shade, look.trough * (width - trough_off) / width);
    }
}

// The marks the effect still leaves, as an overlay's density: full for the
// first half of its life, then fading to nothing at its end.
static fixed_fraction mesh_effect_density(const mesh_effect_data *effect, int32_t duration)
{
    const int32_t half = duration / 2, left = duration - effect->age;
    if (effect->age < half) return FIXED_FRACTION_ONE;
    if (left <= 0) return 0;
    return (fixed_fraction)((int64_t)FIXED_FRACTION_ONE * left / (duration - half));
}

// An overlay of `size` x `size` texels centred on the effect; null when the
// pool cannot hold it (only when a test replaced the fatal exit).
static render_map_overlay *new_mesh_effect_overlay(const mesh_effect_data *effect, int32_t half, fixed_fraction density,
                                                  char mode)
{
    const int32_t size = 2 * half;
    uint8_t *pixels = static_cast<uint8_t *>(render_malloc((size_t)size * (size_t)size));
    render_map_overlay *overlay = render_new<render_map_overlay>();
    if (!pixels || !overlay) return nullptr;
    *overlay = {};
    overlay->x0 = effect->origin.x - half * 64;
    overlay->y0 = effect->origin.y - half * 64;
    overlay->pixels = pixels;
    overlay->width = overlay->height = (int16_t)size;
    overlay->bytes_per_row = (int16_t)size;
    overlay->density = density;
    overlay->mode = mode;
    return overlay;
}

static void build_mesh_effect(view_data *view, const mesh_region *region, const mesh_effect_data *effect)
{
    if (effect->type < 0 || effect->type >= NUMBER_OF_MESH_EFFECT_TYPES) return;
    const int32_t duration = get_mesh_effect_duration(effect->type);
    const fixed_fraction density = mesh_effect_density(effect, duration);
    if (duration <= 0 || density == 0) return;
    const mesh_effect_look &look = mesh_effect_looks[effect->type];
    // The ring has left its centre by the end of its first tick.
    const int32_t radius_world = std::max<int32_t>(get_mesh_effect_radius(effect), WORLD_ONE / 8);
    const int32_t reach = radius_world + (look.ring_width + 1) * 64;
    bool seen = false;
    for (const world_point2d d : {world_point2d{0, 0}, world_point2d{(world_distance)reach, 0},
                                  world_point2d{(world_distance)-reach, 0}, world_point2d{0, (world_distance)reach},
                                  world_point2d{0, (world_distance)-reach}})
    {
        const world_point3d at = {(world_distance)(effect->origin.x + d.x), (world_distance)(effect->origin.y + d.y), 0};
        seen = seen || effect_point_in_region(region, &at);
    }
    if (!seen) return;

    // One overlay texel covers 64 world units.
    const int32_t half = reach / 64 + 1, size = 2 * half;
    render_map_overlay *light = new_mesh_effect_overlay(effect, half, density, _overlay_light_map);
    render_map_overlay *shade = look.trough ? new_mesh_effect_overlay(effect, half, density, _overlay_shadow_map) : nullptr;
    if (!light || (look.trough && !shade)) return;
    const int32_t radius = (radius_world << 4) / 64;
    for (int32_t j = 0; j < size; ++j)
        for (int32_t i = 0; i < size; ++i)
        {
            // The texel's centre from the effect's, in sixteenths of a texel.
            const int64_t dx = (int64_t)(2 * (i - half) + 1) * 8, dy = (int64_t)(2 * (j - half) + 1) * 8;
            int32_t lit, shaded;
            ring_marks(look, radius, (int32_t)isqrt64((uint64_t)(dx * dx + dy * dy)), &lit, &shaded);
            light->pixels[j * size + i] = (uint8_t)lit;
            if (shade) shade->pixels[j * size + i] = (uint8_t)shaded;
        }
    add_overlay_to_overlay_lists(view, light);
    if (shade) add_overlay_to_overlay_lists(view, shade);
}

void build_mesh_effect_surface_list(view_data *view, void *region)
{
    if (!view || !region) return;
    const int32_t count = get_mesh_effect_slot_count();
    for (int32_t index = 0; index < count; ++index)
        if (const mesh_effect_data *effect = get_mesh_effect_data(index))
            build_mesh_effect(view, static_cast<const mesh_region *>(region), effect);
}

// ---- the core's two other builders -------------------------------------------------

// No definition gives connectors or mirror groups a look yet.
void build_connector_surface_list(view_data *view, void *region) {}
void build_mirror_groups_surface_list(view_data *view, void *region) {}
