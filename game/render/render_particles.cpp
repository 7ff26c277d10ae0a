// Particle systems and their splashes as surfaces of the frame.
#include "render/render_particles.h"

#include <algorithm>
#include <cmath>
#include <initializer_list>

#include "cseries/log.h"
#include "cseries/tags.h"
#include "mesh.h"
#include "particles.h"
#include "render/mesh_region.h"
#include "render/render.h"
#include "render/render_effects.h"
#include "render/render_world_effects.h"
#include "render/terrain_surfaces.h"
#include "shapes.h"
#include "vesk_random.h"
#include "wind.h"

namespace {

struct weather_particle
{
    int32_t x, y, z;  // world units, 8.8
    int16_t dx, dy;   // its own drift, world units per tick, 8.8
    int16_t frame;    // of the particle's sequence, view 0
    bool placed;
};

struct weather_splash
{
    world_point3d position;
    int32_t age; // game ticks since it landed
    bool live;
};

struct particle_surface_state
{
    weather_particle particles[MAXIMUM_WEATHER_PARTICLES];
    weather_splash splashes[MAXIMUM_WEATHER_SPLASHES];
    int32_t next_splash;
    bool logged; // the look's first fault this map
} particle_surface_globals;

// 0 .. limit - 1 from the display generator; 0 when limit < 1.
int32_t display_random_below(int32_t limit)
{
    if (limit <= 1) return 0;
    const uint32_t value = ((uint32_t)local_random() << 16) | local_random();
    return (int32_t)(value % (uint32_t)limit);
}

// Where new particles may appear: the visible cells near the eye.
struct spawn_area
{
    const mesh_region *region;
    int32_t x0, x1; // cells, both included
    int32_t y0, y1;
    int32_t cell_count;
};

mesh_span clipped_span(const spawn_area *area, int32_t y)
{
    mesh_span span = *get_mesh_region_span(area->region, y);
    if (span.x0 < area->x0) span.x0 = (int16_t)area->x0;
    if (span.x1 > area->x1) span.x1 = (int16_t)area->x1;
    return span;
}

spawn_area make_spawn_area(const view_data *view)
{
    spawn_area area = {view->region, 0, -1, 0, -1, 0};
    const mesh_region *region = view->region;
    if (!region || !region->spans) return area;
    const int32_t eye_x = view->location.position.x >> WORLD_FRACTIONAL_BITS;
    const int32_t eye_y = view->location.position.y >> WORLD_FRACTIONAL_BITS;
    area.x0 = eye_x - WEATHER_SPAWN_RADIUS_CELLS;
    area.x1 = eye_x + WEATHER_SPAWN_RADIUS_CELLS;
    area.y0 = eye_y - WEATHER_SPAWN_RADIUS_CELLS < region->y0 ? region->y0 : eye_y - WEATHER_SPAWN_RADIUS_CELLS;
    area.y1 = eye_y + WEATHER_SPAWN_RADIUS_CELLS > region->y1 ? region->y1 : eye_y + WEATHER_SPAWN_RADIUS_CELLS;
    for (int32_t y = area.y0; y <= area.y1; ++y)
    {
        const mesh_span span = clipped_span(&area, y);
        area.cell_count += span_cell_count_inclusive(&span);
    }
    return area;
}

// A particle anywhere in the area (any height of its column) or, `at_top`,
// at the top of its column; false when the area has no cell with ground.
bool place_particle(const spawn_area *area, weather_particle *particle, int32_t frame_count, bool at_top)
{
    if (area->cell_count <= 0) return false;
    int32_t pick = display_random_below(area->cell_count);
    for (int32_t y = area->y0; y <= area->y1; ++y)
    {
        const mesh_span span = clipped_span(area, y);
        const int32_t count = span_cell_count_inclusive(&span);
        if (pick >= count)
        {
            pick -= count;
            continue;
        }
        const world_point2d point = {((span.x0 + pick) << WORLD_FRACTIONAL_BITS) + display_random_below(WORLD_ONE),
                                     (y << WORLD_FRACTIONAL_BITS) + display_random_below(WORLD_ONE)};
        const world_distance ground = get_mesh_height(&point, _mesh_surface_height);
        if (ground == MESH_NO_HEIGHT) return false;
        const int32_t height = at_top ? WEATHER_COLUMN_HEIGHT : display_random_below(WEATHER_COLUMN_HEIGHT);
        particle->x = point.x << 8;
        particle->y = point.y << 8;
        particle->z = (ground + height) << 8;
        particle->dx = (int16_t)(display_random_below(2 * WEATHER_DRIFT + 1) - WEATHER_DRIFT);
        particle->dy = (int16_t)(display_random_below(2 * WEATHER_DRIFT + 1) - WEATHER_DRIFT);
        particle->frame = (int16_t)display_random_below(frame_count);
        particle->placed = true;
        return true;
    }
    return false;
}

void add_splash(const world_point3d *position)
{
    particle_surface_state &g = particle_surface_globals;
    g.splashes[g.next_splash] = {*position, 0, true};
    g.next_splash = (g.next_splash + 1) % MAXIMUM_WEATHER_SPLASHES;
}

// The sequence `sequence_index` of the look's collection when it has a frame
// to draw, else null (the first fault of the map logged).
const sequence_data *look_sequence(int32_t collection_index, int32_t sequence_index, const char *what)
{
    const int32_t count = get_collection_sequence_count(collection_index);
    const sequence_data *sequence =
        sequence_index >= 0 && sequence_index < count ? get_sequence(collection_index, sequence_index) : nullptr;
    if (sequence && sequence->number_of_views >= 1 && sequence->frames_per_view >= 1) return sequence;
    if (!particle_surface_globals.logged)
    {
        particle_surface_globals.logged = true;
        log_message(__FILE__, __LINE__, "weather: the %s sequence #%d of collection #%d (%d sequences) has nothing "
                    "to draw", what, (int)sequence_index, (int)collection_index, (int)count);
    }
    return nullptr;
}

// The map's weather look, or false (nothing to draw).  A look naming a
// collection that did not load is logged once a map.
bool weather_look(const weather_definition **definition, int16_t *collection_index)
{
    *definition = get_map_weather_definition();
    if (!*definition || (*definition)->collection_tag == NONE || (*definition)->collection_tag == 0) return false;
    *collection_index = get_map_weather_collection_index();
    if (*collection_index != NONE) return true;
    if (!particle_surface_globals.logged)
    {
        particle_surface_globals.logged = true;
        log_message(__FILE__, __LINE__, "weather: the look's collection '%s' is missing; no particles are drawn",
                    tag_to_string((*definition)->collection_tag));
    }
    return false;
}

const bitmap_instance_data *frame_instance(int32_t collection_index, int32_t sequence_index, int32_t frame)
{
    const int32_t index = get_sequence_instance_index(collection_index, sequence_index, 0, frame);
    return index == NONE ? nullptr : get_bitmap_instance(collection_index, index);
}

} // namespace

void initialize_particle_system_surfaces(void)
{
    register_prerender_effect_procedure(build_particle_system_surface_list, PARTICLE_SYSTEM_PRERENDER_PRIORITY);
}

void initialize_particle_system_surfaces_for_new_map(void) { particle_surface_globals = {}; }

int32_t weather_particles_to_draw(const weather_definition *definition, int32_t count)
{
    int32_t limit = definition->maximum_particles;
    if (limit > MAXIMUM_WEATHER_PARTICLES) limit = MAXIMUM_WEATHER_PARTICLES;
    if (count > limit) count = limit;
    return count < 0 ? 0 : count;
}

// Whether the terrain drawn this frame covers the cell under the world point
// (x, y); false off any map.
static bool drawn_under(const view_data *view, double x, double y)
{
    if (!(x > -(1 << 24) && x < (1 << 24) && y > -(1 << 24) && y < (1 << 24))) return false; // far off any map
    return terrain_draws_cell(view->region, (int32_t)std::floor(x) >> WORLD_FRACTIONAL_BITS,
                              (int32_t)std::floor(y) >> WORLD_FRACTIONAL_BITS);
}

// Whether the ground the eye sees past the point is drawn.  Past it, the
// line of sight comes down on the terrain somewhere between the point and
// where it reaches the map's lowest ground; the cells under that stretch are
// looked at every half cell, so that it is seen against terrain, not against
// the void beyond the map's edge or the cells the frame leaves out.
static bool drawn_behind(const view_data *view, const world_point3d &point)
{
    const world_point3d &eye = view->location.position;
    const double above_point = (double)eye.z - point.z;
    if (above_point <= 0.0) return false; // seen level or from below: only the void lies behind it
    const double reach = (double)(point.z - min_cell_height) / above_point;
    if (reach < 0.0) return false; // under the lowest ground: nothing is drawn there
    const double dx = (double)(point.x - eye.x) * reach, dy = (double)(point.y - eye.y) * reach;
    if (!(std::fabs(dx) < (1 << 24) && std::fabs(dy) < (1 << 24))) return false; // far off any map
    const int32_t steps = 1 + (int32_t)std::min(64.0, std::max(std::fabs(dx), std::fabs(dy)) / (WORLD_ONE / 2));
    for (int32_t step = 0; step <= steps; ++step)
        if (!drawn_under(view, point.x + dx * step / steps, point.y + dy * step / steps)) return false;
    return true;
}

// Whether every pixel of the flake's rectangle (viewer space, at the
// flake's depth) is seen against drawn terrain: its four corners, a pixel
// out, each lie before drawn ground.  A near flake is large: its middle
// over the map says nothing of its corners.
static bool map_lies_behind(const view_data *view, const world_point3d &viewer, const bitmap_instance_data *instance,
                            short_fixed scale)
{
    const double pixel = view->fworld_to_screen > 0.0f ? -(double)viewer.z / view->fworld_to_screen : 0.0;
    const double left = viewer.x + (((int64_t)instance->world_left * scale) >> 8) - pixel;
    const double right = viewer.x + (((int64_t)instance->world_right * scale) >> 8) + pixel;
    const double top = viewer.y + (((int64_t)instance->world_top * scale) >> 8) + pixel;
    const double bottom = viewer.y + (((int64_t)instance->world_bottom * scale) >> 8) - pixel;
    const int16_t(*m)[3] = view->world_to_viewer_rotation;
    const world_point3d &eye = view->location.position;
    for (const double x : {left, right})
        for (const double y : {top, bottom})
        {
            // Back from the viewer's axes to the world's: the rotation's transpose.
            const double v[3] = {x, y, (double)viewer.z};
            double w[3];
            for (int32_t r = 0; r < 3; ++r)
                w[r] = (m[r][0] * v[0] + m[r][1] * v[1] + m[r][2] * v[2]) / (double)(1 << TRIG_SHIFT);
            const double wx = eye.x + w[0], wy = eye.y + w[1], wz = eye.z + w[2];
            if (!(wx > -(1 << 24) && wx < (1 << 24) && wy > -(1 << 24) && wy < (1 << 24) && wz > -(1 << 24) &&
                  wz < (1 << 24)))
                return false;
            const world_point3d corner = {(world_distance)wx, (world_distance)wy, (world_distance)wz};
            if (!drawn_behind(view, corner)) return false;
        }
    return true;
}

void build_particle_system_surface_list(view_data *view)
{
    const weather_definition *definition;
    int16_t collection;
    if (!weather_look(&definition, &collection)) return;
    const sequence_data *sequence = look_sequence(collection, definition->sequence_index, "particle");
    if (!sequence || !view->region) return;
    const int32_t count = weather_particles_to_draw(definition, particle_system_particle_count());

    particle_surface_state &g = particle_surface_globals;
    int32_t ticks = view->game_ticks_elapsed;
    if (ticks < 0) ticks = 0;
    if (ticks > WEATHER_MAXIMUM_FRAME_TICKS) ticks = WEATHER_MAXIMUM_FRAME_TICKS;
    for (weather_splash &splash : g.splashes)
        if (splash.live) splash.age += ticks;

    int32_t wind_x = 0, wind_y = 0; // 8.8 per tick
    if (const fixed_vector3d *wind = get_wind_velocity())
    {
        wind_x = wind->i >> 8;
        wind_y = wind->j >> 8;
    }
    const bool splashes = definition->splash_sequence_index != NONE;
    const spawn_area area = make_spawn_area(view);
    for (int32_t i = 0; i < count; ++i)
    {
        weather_particle &particle = g.particles[i];
        world_point3d position = {particle.x >> 8, particle.y >> 8, particle.z >> 8};
        // A particle the eye has left behind comes back into sight.
        if (!particle.placed || !effect_point_in_region(view->region, &position))
        {
            if (!place_particle(&area, &particle, sequence->frames_per_view, false)) continue;
        }
        else if (ticks > 0)
        {
            particle.x += (wind_x + particle.dx) * ticks;
            particle.y += (wind_y + particle.dy) * ticks;
            particle.z -= definition->fall_speed * ticks;
            const world_point2d point = {particle.x >> 8, particle.y >> 8};
            const world_distance ground = get_mesh_height(&point, _mesh_surface_height);
            if (ground == MESH_NO_HEIGHT || (particle.z >> 8) <= ground)
            {
                if (ground != MESH_NO_HEIGHT && splashes)
                {
                    const world_point3d landing = {point.x, point.y, ground};
                    add_splash(&landing);
                }
                if (!place_particle(&area, &particle, sequence->frames_per_view, true)) continue;
            }
        }
        position = {particle.x >> 8, particle.y >> 8, particle.z >> 8};
        // One that drifted out of sight is replaced at once: the snow stays as dense.
        if (!effect_point_in_region(view->region, &position))
        {
            if (!place_particle(&area, &particle, sequence->frames_per_view, false)) continue;
            position = {particle.x >> 8, particle.y >> 8, particle.z >> 8};
        }
        const int32_t frame = particle.frame < sequence->frames_per_view ? particle.frame : 0;
        const bitmap_instance_data *instance = frame_instance(collection, definition->sequence_index, frame);
        if (!instance) continue;
        world_point3d p;
        transform_world_point_to_viewer_space(view, &position, &p, false);
        // One passing the eye would cover the picture.
        if (p.z > -WEATHER_NEAREST_VIEWER_DISTANCE || !map_lies_behind(view, p, instance, definition->particle_scale))
            continue;
        build_effect_rectangle(view, instance, collection, 0, 0, &p, definition->particle_scale, false);
    }
}

void build_particle_system_splashes(view_data *view, mesh_region *region)
{
    const weather_definition *definition;
    int16_t collection;
    if (!region || !weather_look(&definition, &collection) || definition->splash_sequence_index == NONE) return;
    const sequence_data *sequence = look_sequence(collection, definition->splash_sequence_index, "splash");
    if (!sequence) return;
    const int32_t ticks_per_frame = sequence->ticks_per_frame > 0 ? sequence->ticks_per_frame : 1;
    for (weather_splash &splash : particle_surface_globals.splashes)
    {
        if (!splash.live) continue;
        const int32_t frame = splash.age / ticks_per_frame;
        if (frame >= sequence->frames_per_view)
        {
            splash.live = false;
            continue;
        }
        if (!effect_point_in_region(region, &splash.position)) continue;
        const bitmap_instance_data *instance = frame_instance(collection, definition->splash_sequence_index, frame);
        if (!instance) continue;
        world_point3d p;
        transform_world_point_to_viewer_space(view, &splash.position, &p, false);
        build_effect_rectangle(view, instance, collection, 0, 0, &p, definition->particle_scale, false);
    }
}
