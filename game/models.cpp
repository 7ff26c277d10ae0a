// Models and model definitions.  See models.h.

#include "models.h"

#include <cstring>
#include <vector>

#include "cseries/log.h"
#include "cseries/tags.h"
#include "geometry.h"
#include "mesh.h"
#include "state_hash.h"
#include "tag_files/data.h"
#include "tag_files/tag_files.h"

const byte_swap_code model_definition_byte_swapping_data[] = {
    _begin_bs_array, 1,
    _4byte, _4byte, _2byte, _2byte, _4byte, _2byte, _2byte, 12,
    _begin_bs_array, MAXIMUM_MODEL_PERMUTATIONS, _4byte, _2byte, _2byte, MODEL_PERMUTATION_MATERIALS, _end_bs_array,
    _end_bs_array};

static void model_definition_dependencies(definition_globals *, int32_t, int32_t, void *record,
                                          definition_dependency_report report)
{
    model_definition *definition = (model_definition *)record;
    report(GEOMETRY_DEFINITION_GROUP_TAG, definition->geometry_tag, &definition->geometry_index, 0);
    const bool collections = get_definition_group(COLLECTION_GROUP_TAG) != nullptr;
    definition->collection_index = NONE;
    if (collections)
        report(COLLECTION_GROUP_TAG, definition->collection_tag, &definition->collection_index,
               _dependency_optional_flag);
    for (int32_t i = 0; i < MAXIMUM_MODEL_PERMUTATIONS; ++i)
    {
        model_permutation *permutation = &definition->model_permutations[i];
        permutation->collection_index = definition->collection_index;
        if (collections && permutation->collection_tag != NONE && permutation->collection_tag != 0)
            report(COLLECTION_GROUP_TAG, permutation->collection_tag, &permutation->collection_index,
                   _dependency_optional_flag);
    }
}

static bool postprocess_model_definition(definition_globals *, int32_t, int32_t, void *record)
{
    const model_definition *definition = (const model_definition *)record;
    if (definition->model_permutation_count < 1 || definition->model_permutation_count > MAXIMUM_MODEL_PERMUTATIONS)
    {
        log_message(__FILE__, __LINE__, "model definition refused: %d permutations (1..%d)",
                    (int)definition->model_permutation_count, (int)MAXIMUM_MODEL_PERMUTATIONS);
        return false;
    }
    if (!get_geometry_definition(definition->geometry_index))
    {
        log_message(__FILE__, __LINE__, "model definition refused: its geometry '%s' is missing",
                    tag_to_string(definition->geometry_tag));
        return false;
    }
    return true;
}

definition_globals model_definitions = {
    .name = "model",
    .group = MODEL_DEFINITION_GROUP_TAG,
    .current_version = MODEL_DEFINITION_VERSION,
    .maximum_count = MAXIMUM_MODEL_DEFINITIONS_PER_MAP,
    .size = sizeof(model_definition),
    .runtime_size = 0,
    .dependencies = model_definition_dependencies,
    .postprocess = postprocess_model_definition,
    .convert = nullptr,
    .default_definition = nullptr,
    .tag_header_user_data = nullptr,
    .byte_swapping_data = model_definition_byte_swapping_data,
};

static datum_globals model_data_globals = {
    .name = "model", .size = sizeof(model_data), .maximum_count = MAXIMUM_MODELS_PER_MAP,
    .flags = _data_array_muids_flag};

struct surface_bounds
{
    world_distance x0, x1, y0, y1;
};

// A model's vertices in the world, kept with what placed them there: the
// placement (location, orientation, scale) and the geometry.  Local, never
// hashed; the heights and obstructions are read from them as they would be
// from the vertices transformed afresh.
struct model_world_vertices
{
    bool valid;
    int16_t type;
    const geometry_definition *geometry;
    world_point3d location;
    world_vector3d up_vector, forward_vector, scale_vector;
    std::vector<world_point3d> vertices;
    std::vector<surface_bounds> surfaces; // by surface: its corners' box seen from above
};

static struct model_globals
{
    bool initialized;
    std::vector<model_world_vertices> world_vertices; // by model index
} model_globals;

// ---- helpers -------------------------------------------------------------------

static const geometry_definition *model_geometry(const model_data *model)
{
    const model_definition *definition = get_model_definition(model->type);
    return definition ? get_geometry_definition(definition->geometry_index) : nullptr;
}

// The model's geometry-to-world transform.
static void model_matrix(const model_data *model, geometry_matrix *to_world)
{
    geometry_matrix to_geometry;
    get_geometry_matrices(&model->forward_vector, &model->up_vector, &model->scale_vector, to_world, &to_geometry);
}

static void world_vertex(const model_data *model, const geometry_definition *geometry, const geometry_matrix *matrix,
                         int32_t vertex_index, world_point3d *out)
{
    transform_geometry_point_to_world(&model->location, &geometry->center, &geometry->vertices[vertex_index], matrix,
                                      out);
}

static bool same_placement(const model_world_vertices *kept, const model_data *model,
                           const geometry_definition *geometry)
{
    return kept->valid && kept->type == model->type && kept->geometry == geometry &&
           memcmp(&kept->location, &model->location, sizeof(kept->location)) == 0 &&
           memcmp(&kept->up_vector, &model->up_vector, sizeof(kept->up_vector)) == 0 &&
           memcmp(&kept->forward_vector, &model->forward_vector, sizeof(kept->forward_vector)) == 0 &&
           memcmp(&kept->scale_vector, &model->scale_vector, sizeof(kept->scale_vector)) == 0;
}

// The model's vertices in the world, transformed again only when it was
// turned, moved, scaled or given another type since they were last asked for:
// a projectile crossing a tower's cells asks for its heights every tick.
static const model_world_vertices *get_model_world_vertices(int32_t model_index, const model_data *model,
                                                           const geometry_definition *geometry)
{
    std::vector<model_world_vertices> &all = model_globals.world_vertices;
    if (all.size() < (size_t)MAXIMUM_MODELS_PER_MAP) all.resize(MAXIMUM_MODELS_PER_MAP);
    model_world_vertices *kept = &all[(size_t)model_index];
    if (!same_placement(kept, model, geometry))
    {
        geometry_matrix matrix;
        model_matrix(model, &matrix);
        kept->vertices.resize((size_t)(geometry->vertex_count > 0 ? geometry->vertex_count : 0));
        for (int32_t i = 0; i < geometry->vertex_count; ++i)
            world_vertex(model, geometry, &matrix, i, &kept->vertices[(size_t)i]);
        kept->surfaces.resize((size_t)(geometry->surface_count > 0 ? geometry->surface_count : 0));
        for (int32_t s = 0; s < geometry->surface_count; ++s)
        {
            surface_bounds *bounds = &kept->surfaces[(size_t)s];
            const world_point3d *first = &kept->vertices[(size_t)geometry->surfaces[s].corners[0].vertex_index];
            *bounds = {first->x, first->x, first->y, first->y};
            for (int32_t c = 1; c < 3; ++c)
            {
                const world_point3d *p = &kept->vertices[(size_t)geometry->surfaces[s].corners[c].vertex_index];
                if (p->x < bounds->x0) bounds->x0 = p->x;
                if (p->x > bounds->x1) bounds->x1 = p->x;
                if (p->y < bounds->y0) bounds->y0 = p->y;
                if (p->y > bounds->y1) bounds->y1 = p->y;
            }
        }
        kept->valid = true;
        kept->type = model->type;
        kept->geometry = geometry;
        kept->location = model->location;
        kept->up_vector = model->up_vector;
        kept->forward_vector = model->forward_vector;
        kept->scale_vector = model->scale_vector;
    }
    return kept;
}

static void forget_model_world_vertices(void)
{
    for (model_world_vertices &kept : model_globals.world_vertices) kept.valid = false;
}

static void update_model_vectors(model_data *model)
{
    build_world_vector3d(&model->forward_vector, TRIG_MAGNITUDE, model->yaw, model->pitch);
    build_world_vector3d(&model->up_vector, TRIG_MAGNITUDE, model->yaw, (angle)(model->pitch + QUARTER_CIRCLE));
    model->scale_vector = {model->scale, model->scale, model->scale};
    const geometry_definition *geometry = model_geometry(model);
    model->bounds[0] = model->bounds[1] = model->location;
    if (!geometry) return;
    geometry_matrix matrix;
    model_matrix(model, &matrix);
    for (int32_t i = 0; i < geometry->vertex_count; ++i)
    {
        world_point3d p;
        world_vertex(model, geometry, &matrix, i, &p);
        if (i == 0) model->bounds[0] = model->bounds[1] = p;
        if (p.x < model->bounds[0].x) model->bounds[0].x = p.x;
        if (p.y < model->bounds[0].y) model->bounds[0].y = p.y;
        if (p.z < model->bounds[0].z) model->bounds[0].z = p.z;
        if (p.x > model->bounds[1].x) model->bounds[1].x = p.x;
        if (p.y > model->bounds[1].y) model->bounds[1].y = p.y;
        if (p.z > model->bounds[1].z) model->bounds[1].z = p.z;
    }
}

// The cells under the model's bounds, clamped to the map; false without a mesh.
static bool cells_under_model(const model_data *model, int32_t *x0, int32_t *y0, int32_t *x1, int32_t *y1)
{
    if (mesh_width <= 0 || mesh_height <= 0) return false;
    *x0 = clamp32(model->bounds[0].x >> WORLD_FRACTIONAL_BITS, 0, mesh_width - 1);
    *x1 = clamp32(model->bounds[1].x >> WORLD_FRACTIONAL_BITS, 0, mesh_width - 1);
    *y0 = clamp32(model->bounds[0].y >> WORLD_FRACTIONAL_BITS, 0, mesh_height - 1);
    *y1 = clamp32(model->bounds[1].y >> WORLD_FRACTIONAL_BITS, 0, mesh_height - 1);
    return true;
}

// The bounds change only between a release and the claim that follows, so
// the cells a model claimed all lie under its current bounds: model effects
// turn models every tick, and a walk of the whole map each time is not needed.
static void release_cells(int32_t model_index, const model_data *model)
{
    int32_t x0, y0, x1, y1;
    if (!cells_under_model(model, &x0, &y0, &x1, &y1)) return;
    for (int32_t y = y0; y <= y1; ++y)
        for (int32_t x = x0; x <= x1; ++x)
        {
            mesh_cell *cell = get_mesh_cell(x, y);
            if (cell->model_index == model_index) cell->model_index = NONE;
        }
}

static void claim_cells(int32_t model_index, const model_data *model)
{
    int32_t x0, y0, x1, y1;
    if (!cells_under_model(model, &x0, &y0, &x1, &y1)) return;
    for (int32_t y = y0; y <= y1; ++y)
        for (int32_t x = x0; x <= x1; ++x)
        {
            mesh_cell *cell = get_mesh_cell(x, y);
            if (cell->model_index == NONE) cell->model_index = (int16_t)model_index;
        }
}

// ---- life cycle ----------------------------------------------------------------

bool initialize_models(void)
{
    if (model_globals.initialized) return true;
    if (!initialize_geometry()) return false;
    if (!model_definitions.registered && !initialize_definitions(&model_definitions)) return false;
    if (!initialize_data(&model_data_globals)) return false;
    register_state_hash_procedure_at_start_up(hash_models);
    model_globals.initialized = true;
    return true;
}

void initialize_models_for_new_map(void)
{
    initialize_geometry_for_new_map();
    initialize_definitions_for_new_map(&model_definitions);
    initialize_data_for_new_map(&model_data_globals);
    forget_model_world_vertices();
}

void dispose_models_from_old_map(void)
{
    dispose_data_from_old_map(&model_data_globals);
    forget_model_world_vertices();
    dispose_definitions_from_old_map(&model_definitions);
    dispose_geometry_from_old_map();
}

model_definition *get_model_definition(int32_t index)
{
    return (model_definition *)try_and_get_definition(&model_definitions, index);
}

model_data *get_model(int32_t model_index)
{
    if (model_index < 0 || model_index >= MAXIMUM_MODELS_PER_MAP) return nullptr;
    return (model_data *)get_datum(&model_data_globals, model_index);
}

datum_globals *get_model_array(void) { return &model_data_globals; }

int32_t get_model_count(void) { return model_data_globals.count; }

int32_t new_model(const new_model_data *data)
{
    const model_definition *definition = get_model_definition(data->type);
    if (!definition || !get_geometry_definition(definition->geometry_index))
    {
        log_message(__FILE__, __LINE__, "new_model: model definition #%d or its geometry is missing", (int)data->type);
        return NONE;
    }
    const int32_t model_index = new_datum(&model_data_globals);
    if (model_index == NONE)
    {
        log_message(__FILE__, __LINE__, "new_model: more than %d models", (int)MAXIMUM_MODELS_PER_MAP);
        return NONE;
    }
    model_data *model = get_model(model_index);
    model->type = data->type;
    model->flags = data->flags;
    // The renderer indexes the definition's permutations with it: keep it
    // inside the count, as model effects do.
    const int32_t permutations = definition->model_permutation_count > 0 ? definition->model_permutation_count : 1;
    const int16_t permutation = (int16_t)(data->permutation < 0 ? 0 : data->permutation % permutations);
    model->model_permutation = model->desired_model_permutation = permutation;
    model->yaw = data->yaw;
    model->pitch = data->pitch;
    model->scale = data->scale > 0 ? data->scale : (int16_t)MODEL_SCALE_ONE;
    model->marker_index = NONE;
    model->material_fading_index = NONE;
    model->location = data->location;
    update_model_vectors(model);
    claim_cells(model_index, model);
    return model_index;
}

void delete_model(int32_t model_index)
{
    model_data *model = get_model(model_index);
    if (!VASSERT(model, "delete_model: no model there")) return;
    release_cells(model_index, model);
    delete_datum(&model_data_globals, model_index);
}

void set_model_orientation(int32_t model_index, angle yaw, angle pitch, int16_t scale)
{
    model_data *model = get_model(model_index);
    if (!model) return;
    model->yaw = yaw;
    model->pitch = pitch;
    model->scale = scale;
    release_cells(model_index, model);
    update_model_vectors(model);
    claim_cells(model_index, model);
}

bool set_model_type(int32_t model_index, int16_t type)
{
    model_data *model = get_model(model_index);
    const model_definition *definition = get_model_definition(type);
    if (!model || !definition || !get_geometry_definition(definition->geometry_index)) return false;
    if (model->type == type) return true;
    model->type = type;
    release_cells(model_index, model);
    update_model_vectors(model);
    claim_cells(model_index, model);
    return true;
}

int32_t get_model_index_from_mesh_cell(int32_t cell_x, int32_t cell_y)
{
    if (!mesh_cell_in_bounds(cell_x, cell_y)) return NONE;
    return get_mesh_cell(cell_x, cell_y)->model_index;
}

// ---- queries -------------------------------------------------------------------

static int64_t cross2d(const world_point3d *a, const world_point3d *b, world_distance x, world_distance y)
{
    return (int64_t)(b->x - a->x) * (y - a->y) - (int64_t)(b->y - a->y) * (x - a->x);
}

static int64_t floor_divide64(int64_t a, int64_t b)
{
    int64_t q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0))) q -= 1;
    return q;
}

world_distance get_model_height_at_position(int32_t model_index, world_distance x, world_distance y,
                                            world_distance z)
{
    const model_data *model = get_model(model_index);
    if (!model) return MESH_NO_HEIGHT;
    if (x < model->bounds[0].x || x > model->bounds[1].x || y < model->bounds[0].y || y > model->bounds[1].y)
        return MESH_NO_HEIGHT;
    const geometry_definition *geometry = model_geometry(model);
    if (!geometry) return MESH_NO_HEIGHT;
    const model_world_vertices *kept = get_model_world_vertices(model_index, model, geometry);
    const world_point3d *vertices = kept->vertices.data();
    bool found = false;
    world_distance best = MESH_NO_HEIGHT;
    for (int32_t s = 0; s < geometry->surface_count; ++s)
    {
        // A point off a surface's box is off the surface, or the surface is
        // seen edge-on from above (a vertical face, which has no height).
        const surface_bounds *bounds = &kept->surfaces[(size_t)s];
        if (x < bounds->x0 || x > bounds->x1 || y < bounds->y0 || y > bounds->y1) continue;
        const geometry_surface *surface = &geometry->surfaces[s];
        world_point3d p[3];
        for (int32_t c = 0; c < 3; ++c) p[c] = vertices[surface->corners[c].vertex_index];
        const int64_t e0 = cross2d(&p[0], &p[1], x, y), e1 = cross2d(&p[1], &p[2], x, y),
                      e2 = cross2d(&p[2], &p[0], x, y);
        const bool inside = (e0 >= 0 && e1 >= 0 && e2 >= 0) || (e0 <= 0 && e1 <= 0 && e2 <= 0);
        if (!inside) continue;
        // The plane through the three corners: n . (q - p0) = 0.
        const int64_t ux = p[1].x - p[0].x, uy = p[1].y - p[0].y, uz = p[1].z - p[0].z;
        const int64_t vx = p[2].x - p[0].x, vy = p[2].y - p[0].y, vz = p[2].z - p[0].z;
        const int64_t nx = uy * vz - uz * vy, ny = uz * vx - ux * vz, nz = ux * vy - uy * vx;
        if (nz == 0) continue; // a vertical face has no height of its own
        const int64_t height = p[0].z - floor_divide64(nx * (x - p[0].x) + ny * (y - p[0].y), nz);
        if (height > z) continue;
        if (!found || height > best) best = (world_distance)height;
        found = true;
    }
    return found ? best : MESH_NO_HEIGHT;
}

bool get_model_centerpoint(int32_t model_index, world_point3d *out)
{
    const model_data *model = get_model(model_index);
    if (!model) return false;
    out->x = model->bounds[0].x + (model->bounds[1].x - model->bounds[0].x) / 2;
    out->y = model->bounds[0].y + (model->bounds[1].y - model->bounds[0].y) / 2;
    out->z = model->bounds[0].z + (model->bounds[1].z - model->bounds[0].z) / 2;
    return true;
}

int32_t model_identifier_to_model_index(int16_t identifier)
{
    for (int32_t i = 0; i < model_data_globals.count; ++i)
    {
        const model_data *model = get_model(i);
        if (model && model->identifier == identifier) return i;
    }
    return NONE;
}

int32_t model_identifiers_to_model_indexes(const int16_t *identifiers, int16_t *indexes, int32_t count)
{
    int32_t found = 0;
    for (int32_t i = 0; i < count; ++i)
    {
        const int32_t index = model_identifier_to_model_index(identifiers[i]);
        if (index != NONE) indexes[found++] = (int16_t)index;
    }
    return found;
}

// ---- obstruction ---------------------------------------------------------------

enum
{
    SEGMENT_ONE = 1 << 16, // segment parameters in 1/65536 of its length
    MAXIMUM_MODELS_ON_A_SEGMENT = 64,
};

// Where along a -> b (in SEGMENT_ONE units) it crosses the triangle, or NONE.
static int32_t segment_crosses_triangle(const world_point3d *a, const world_point3d *b, const world_point3d p[3])
{
    const int64_t ux = p[1].x - p[0].x, uy = p[1].y - p[0].y, uz = p[1].z - p[0].z;
    const int64_t vx = p[2].x - p[0].x, vy = p[2].y - p[0].y, vz = p[2].z - p[0].z;
    const int64_t nx = uy * vz - uz * vy, ny = uz * vx - ux * vz, nz = ux * vy - uy * vx;
    const int64_t dx = b->x - a->x, dy = b->y - a->y, dz = b->z - a->z;
    int64_t numerator = nx * (p[0].x - a->x) + ny * (p[0].y - a->y) + nz * (p[0].z - a->z);
    int64_t denominator = nx * dx + ny * dy + nz * dz;
    if (denominator == 0) return NONE;
    if (denominator < 0)
    {
        numerator = -numerator;
        denominator = -denominator;
    }
    if (numerator < 0 || numerator > denominator) return NONE;
    // Keep numerator << 16 inside 64 bits; both shrink alike, so t stays within 0..1.
    while (numerator > ((int64_t)1 << 46) || denominator > ((int64_t)1 << 46))
    {
        numerator >>= 1;
        denominator >>= 1;
    }
    if (denominator == 0) return NONE;
    const int32_t t = (int32_t)((numerator << 16) / denominator);
    const world_point3d q = {a->x + (int32_t)((dx * t) >> 16), a->y + (int32_t)((dy * t) >> 16),
                             a->z + (int32_t)((dz * t) >> 16)};
    // Inside test in the plane of the two axes the normal does not dominate.
    const int64_t ax = nx < 0 ? -nx : nx, ay = ny < 0 ? -ny : ny, az = nz < 0 ? -nz : nz;
    int64_t e[3];
    for (int32_t i = 0; i < 3; ++i)
    {
        const world_point3d *s = &p[i], *f = &p[(i + 1) % 3];
        if (az >= ax && az >= ay) e[i] = (int64_t)(f->x - s->x) * (q.y - s->y) - (int64_t)(f->y - s->y) * (q.x - s->x);
        else if (ax >= ay) e[i] = (int64_t)(f->y - s->y) * (q.z - s->z) - (int64_t)(f->z - s->z) * (q.y - s->y);
        else e[i] = (int64_t)(f->z - s->z) * (q.x - s->x) - (int64_t)(f->x - s->x) * (q.z - s->z);
    }
    const bool inside = (e[0] >= 0 && e[1] >= 0 && e[2] >= 0) || (e[0] <= 0 && e[1] <= 0 && e[2] <= 0);
    return inside ? t : NONE;
}

// Where along a -> b it enters the box, or NONE.
static int32_t segment_enters_box(const world_point3d *a, const world_point3d *b, const world_point3d box[2])
{
    int64_t enter = 0, leave = SEGMENT_ONE;
    const int64_t from[3] = {a->x, a->y, a->z}, delta[3] = {b->x - a->x, b->y - a->y, b->z - a->z};
    const int64_t low[3] = {box[0].x, box[0].y, box[0].z}, high[3] = {box[1].x, box[1].y, box[1].z};
    for (int32_t axis = 0; axis < 3; ++axis)
    {
        if (delta[axis] == 0)
        {
            if (from[axis] < low[axis] || from[axis] > high[axis]) return NONE;
            continue;
        }
        int64_t t0 = ((low[axis] - from[axis]) << 16) / delta[axis];
        int64_t t1 = ((high[axis] - from[axis]) << 16) / delta[axis];
        if (t0 > t1)
        {
            const int64_t swap = t0;
            t0 = t1;
            t1 = swap;
        }
        if (t0 > enter) enter = t0;
        if (t1 < leave) leave = t1;
        if (enter > leave) return NONE;
    }
    return (int32_t)enter;
}

struct obstruction_walk
{
    const world_point3d *origin, *target;
    bool force_old_way;
    int32_t models[MAXIMUM_MODELS_ON_A_SEGMENT];
    int32_t model_count;
    int32_t nearest; // NONE or the first crossing in SEGMENT_ONE units
};

static void test_model_for_obstruction(obstruction_walk *walk, int32_t model_index)
{
    const model_data *model = get_model(model_index);
    if (!model) return;
    if (walk->force_old_way)
    {
        const int32_t t = segment_enters_box(walk->origin, walk->target, model->bounds);
        if (t != NONE && (walk->nearest == NONE || t < walk->nearest)) walk->nearest = t;
        return;
    }
    if (segment_enters_box(walk->origin, walk->target, model->bounds) == NONE) return;
    const geometry_definition *geometry = model_geometry(model);
    if (!geometry) return;
    const world_point3d *vertices = get_model_world_vertices(model_index, model, geometry)->vertices.data();
    for (int32_t s = 0; s < geometry->surface_count; ++s)
    {
        const geometry_surface *surface = &geometry->surfaces[s];
        if (surface->flags & _geometry_surface_does_not_stop_projectiles_flag) continue;
        world_point3d p[3];
        for (int32_t c = 0; c < 3; ++c) p[c] = vertices[surface->corners[c].vertex_index];
        const int32_t t = segment_crosses_triangle(walk->origin, walk->target, p);
        if (t != NONE && (walk->nearest == NONE || t < walk->nearest)) walk->nearest = t;
    }
}

static int32_t visit_cell_for_obstruction(void *context, int32_t x, int32_t y)
{
    obstruction_walk *walk = (obstruction_walk *)context;
    const int32_t model_index = get_model_index_from_mesh_cell(x, y);
    if (model_index == NONE) return 0;
    for (int32_t i = 0; i < walk->model_count; ++i)
        if (walk->models[i] == model_index) return 0;
    if (walk->model_count < MAXIMUM_MODELS_ON_A_SEGMENT) walk->models[walk->model_count++] = model_index;
    test_model_for_obstruction(walk, model_index);
    return 0;
}

void check_for_model_obstruction(const world_point3d *origin, const world_point3d *target, angle,
                                 bool *obstructed_near, bool *obstructed_far, bool force_old_way)
{
    if (obstructed_near) *obstructed_near = false;
    if (obstructed_far) *obstructed_far = false;
    obstruction_walk walk;
    memset(&walk, 0, sizeof(walk));
    walk.origin = origin;
    walk.target = target;
    walk.force_old_way = force_old_way;
    walk.nearest = NONE;
    DDA(origin->x >> WORLD_FRACTIONAL_BITS, origin->y >> WORLD_FRACTIONAL_BITS, target->x >> WORLD_FRACTIONAL_BITS,
        target->y >> WORLD_FRACTIONAL_BITS, &walk, visit_cell_for_obstruction);
    if (walk.nearest == NONE) return;
    if (walk.nearest <= SEGMENT_ONE / 2)
    {
        if (obstructed_near) *obstructed_near = true;
    }
    else if (obstructed_far) *obstructed_far = true;
}

void hash_models(uint32_t *hash)
{
    state_hash_add_int32(hash, model_data_globals.count);
    for (int32_t i = 0; i < model_data_globals.count; ++i)
    {
        const model_data *model = get_model(i);
        if (!model) continue;
        const int32_t fields[] = {i, model->identifier, model->type, model->flags, model->model_permutation,
                                  model->desired_model_permutation, model->permutation_crossfade_amount,
                                  model->transparency, model->yaw, model->pitch, model->scale,
                                  model->material_fading_index, model->material_transparency, model->location.x,
                                  model->location.y, model->location.z};
        for (int32_t field : fields) state_hash_add_int32(hash, field);
    }
}
