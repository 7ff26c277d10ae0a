// The terrain mesh: loading with full validation, cell access, heights and
// terrain types, level-of-detail words, stains and the media hooks.

#include "mesh.h"
#include "terrain_overlay_procedures.h"


#include <cstdlib>
#include <cstring>

#include "cseries/errors.h"
#include "cseries/log.h"
#include "cseries/tags.h"
#include "tag_files/collection_procedures.h"
#include "tag_files/plugins.h"
#include "tag_files/tag_files.h"
#include "vesk/preloading.h"
#include "vesk_random.h"

int16_t mesh_width, mesh_height;
mesh_cell *mesh_cells;
int16_t submesh_width, submesh_height;
int16_t mesh_tile_width, mesh_tile_height;
int16_t min_cell_height;

// ---- byte-swap descriptions --------------------------------------------------------

const byte_swap_code mesh_header_bs[] = {
    _begin_bs_array, 1,
    _4byte, _4byte, // flags, extra_flags
    _begin_bs_array, 10, _2byte, _end_bs_array, // sizes, team count, level, priority, zones, unused
    _begin_bs_array, 21, _4byte, _end_bs_array, // tags
    _begin_bs_array, 13, _4byte, _end_bs_array, // block offsets, sizes and counts
    _4byte, _4byte, _4byte, _4byte, // reverb
    _begin_bs_array, 4, _2byte, _end_bs_array, _4byte, // fog
    _2byte, _2byte, _begin_bs_array, 8, _2byte, _end_bs_array, _4byte, // lighting
    64 + 32 + NUMBER_OF_CUTSCENES * MAXIMUM_CUTSCENE_NAME_SIZE, // names, as they are
    _begin_bs_array, 6, _2byte, _end_bs_array, // run-time indexes
    508,
    _end_bs_array,
};

const byte_swap_code mesh_cell_bs[] = {_begin_bs_array, 1, _begin_bs_array, 6, _2byte, _end_bs_array, _end_bs_array};

const byte_swap_code mesh_marker_palette_entry_bs[] = {
    _begin_bs_array, 1, _2byte, _2byte, _4byte, _4byte, _2byte, _2byte, _end_bs_array,
};

const byte_swap_code mesh_marker_bs[] = {
    _begin_bs_array, 1, _begin_bs_array, 4, _2byte, _end_bs_array, _4byte, _4byte, _4byte, _4byte,
    _begin_bs_array, 4, _2byte, _end_bs_array, _end_bs_array,
};

// ---- globals -----------------------------------------------------------------------

static struct mesh_globals
{
    uint8_t *data; // the converted copy of the tag; null without a mesh
    int32_t size;
    mesh_header *header;
    mesh_cell *cells;
    uint16_t *LOD_data;
    uint16_t *coverage;
    int32_t coverage_size;
    uint8_t *map_actions; // as stored
    mesh_marker_palette_entry *palette;
    mesh_marker *markers;

    mesh_cell outside_cell;
    // The media resolved for the mesh being installed, so that the landscape
    // hook (the water's shading) sees it; read before the old mesh is cleared.
    bool installing;
    int16_t installing_media_type;
} mesh_globals;

// Outside mesh_globals: a module's start-up and map changes never empty a registration.

// ---- validation --------------------------------------------------------------------

// Reports a refused mesh: one log line naming what was wrong, code 10.
static bool refuse_mesh(const char *what, int64_t value)
{
    ERROR_MESSAGE(_error_data_corrupted, "mesh refused: %s (%lld)", what, (long long)value);
    return false;
}

static bool mesh_size_is_valid(int32_t size)
{
    return size >= MINIMUM_MESH_SIZE && size <= MAXIMUM_MESH_SIZE && (size & 1) == 0;
}

static void terminate_string(char *string, size_t size) { string[size - 1] = 0; }

bool read_mesh_header_from_memory(const void *data, int32_t size, mesh_header *header)
{
    if (data == nullptr || size < MESH_HEADER_SIZE) return refuse_mesh("tag smaller than its header", size);
    memcpy(header, data, sizeof(mesh_header));
    if (!byte_swap_data("mesh_header", header, sizeof(mesh_header), 1, mesh_header_bs)) return false;
    if (!mesh_size_is_valid(header->mesh_width)) return refuse_mesh("mesh_width", header->mesh_width);
    if (!mesh_size_is_valid(header->mesh_height)) return refuse_mesh("mesh_height", header->mesh_height);
    if (header->team_count < 0 || header->team_count > MAXIMUM_TEAMS_PER_MAP)
        return refuse_mesh("team_count", header->team_count);
    if (header->reverb_environment != NONE &&
        (header->reverb_environment < 0 || header->reverb_environment >= NUMBER_OF_REVERB_ENVIRONMENTS))
        return refuse_mesh("reverb_environment", header->reverb_environment);
    for (int32_t edge = 0; edge < NUMBER_OF_MESH_EDGES; edge++)
    {
        int32_t zone = header->edge_of_mesh_buffer_zones[edge];
        int32_t across = (edge & 1) ? header->mesh_height : header->mesh_width;
        if (zone < 0 || zone > across / 2) return refuse_mesh("edge_of_mesh_buffer_zones", zone);
    }
    terminate_string(header->printed_name, sizeof(header->printed_name));
    terminate_string(header->dependency_name, sizeof(header->dependency_name));
    for (int32_t i = 0; i < NUMBER_OF_CUTSCENES; i++) terminate_string(header->cutscene_names[i], MAXIMUM_CUTSCENE_NAME_SIZE);
    return true;
}

struct mesh_block
{
    const char *name;
    int32_t offset;
    int64_t size;
};

// Every block lies after the header, inside the tag, aligned, and apart from
// every other block.  A block of size 0 is absent whatever its offset.
static bool mesh_blocks_are_valid(const mesh_block *blocks, int32_t count, int32_t tag_size)
{
    for (int32_t i = 0; i < count; i++)
    {
        const mesh_block *block = &blocks[i];
        if (block->size == 0) continue;
        if (block->offset < MESH_HEADER_SIZE) return refuse_mesh(block->name, block->offset);
        if (block->offset % MESH_BLOCK_ALIGNMENT != 0) return refuse_mesh(block->name, block->offset);
        if (block->size < 0 || block->offset + block->size > tag_size) return refuse_mesh(block->name, block->size);
        for (int32_t j = 0; j < i; j++)
        {
            const mesh_block *other = &blocks[j];
            if (other->size == 0) continue;
            if (block->offset < other->offset + other->size && other->offset < block->offset + block->size)
                return refuse_mesh(block->name, block->offset);
        }
    }
    return true;
}

bool media_coverage_region_is_valid(const uint16_t *values, int32_t size, int32_t width, int32_t height)
{
    if (size == 0) return true;
    if (values == nullptr || size < 0 || (size & 1) != 0) return false;
    const int32_t count = size / 2, texel_width = width * MESH_TEXELS_PER_CELL;
    int32_t position = 0;
    for (int32_t row = 0; row < height * MESH_TEXELS_PER_CELL; row++)
    {
        int32_t previous = -1;
        for (;;)
        {
            if (position >= count) return false; // the block ends inside a row
            int32_t value = values[position++];
            if (value <= previous || value > texel_width) return false;
            if (value == texel_width) break;
            previous = value;
        }
    }
    return position == count;
}

// The stored map-action block: the records' counts and parameter runs must
// lie inside the parameter area, which must fit the run-time buffer.
static bool map_action_block_is_valid(const mesh_header *header, const uint8_t *block)
{
    const int32_t count = header->map_action_count, size = header->map_action_buffer_size;
    if (count < 0 || count > MAXIMUM_MAP_ACTIONS_PER_MAP) return refuse_mesh("map_action_count", count);
    if (size < (int64_t)count * MAP_ACTION_RECORD_SIZE) return refuse_mesh("map_action_buffer_size", size);
    const int32_t area = size - count * MAP_ACTION_RECORD_SIZE;
    if (area >= MAP_ACTION_PARAMETER_BUFFER_SIZE) return refuse_mesh("map action parameter area", area);
    for (int32_t i = 0; i < count; i++)
    {
        const uint8_t *record = block + i * MAP_ACTION_RECORD_SIZE;
        int32_t parameter_count = (int16_t)read_be16(record + 20);
        int32_t parameters_size = (int16_t)read_be16(record + 22);
        int32_t parameters_offset = (int32_t)read_be32(record + 24);
        if (parameter_count < 0 || parameters_size < 0 || parameters_offset < 0 ||
            (int64_t)parameters_offset + parameters_size > area)
            return refuse_mesh("map action parameters", i);
    }
    return true;
}

// A unit's owner: NONE (the palette entry's, or the team's) or one of the
// players a game on a map can have.
static bool player_index_can_exist(int16_t player_index)
{
    return player_index == NONE || (player_index >= 0 && player_index < MAXIMUM_PLAYERS_PER_MAP);
}

static bool markers_are_valid(const mesh_header *header, const mesh_marker_palette_entry *palette,
                              const mesh_marker *markers)
{
    int32_t palette_counts[NUMBER_OF_MARKER_TYPES] = {};
    for (int32_t i = 0; i < header->marker_palette_count; i++)
    {
        const mesh_marker_palette_entry *entry = &palette[i];
        if (entry->type < 0 || entry->type >= NUMBER_OF_MARKER_TYPES) return refuse_mesh("marker palette type", i);
        if (entry->team_index != NONE && (entry->team_index < 0 || entry->team_index >= MAXIMUM_TEAMS_PER_MAP))
            return refuse_mesh("marker palette team_index", i);
        if (entry->type == _marker_monster && !player_index_can_exist(entry->player_index))
            return refuse_mesh("unit palette entry player_index", i);
        palette_counts[entry->type] += 1;
    }
    for (int32_t i = 0; i < header->marker_count; i++)
    {
        const mesh_marker *marker = &markers[i];
        if (marker->type < 0 || marker->type >= NUMBER_OF_MARKER_TYPES) return refuse_mesh("marker type", i);
        if (marker->palette_index != NONE &&
            (marker->palette_index < 0 || marker->palette_index >= palette_counts[marker->type]))
            return refuse_mesh("marker palette_index", i);
        if (marker->minimum_difficulty_level < 0 || marker->minimum_difficulty_level >= NUMBER_OF_DIFFICULTY_LEVELS)
            return refuse_mesh("marker minimum_difficulty_level", i);
        if (marker->type == _marker_monster && !player_index_can_exist(marker->player_index))
            return refuse_mesh("unit marker player_index", i);
    }
    return true;
}

// ---- loading -------------------------------------------------------------------------

static void set_mesh_sizes(const mesh_header *header)
{
    if (header == nullptr)
    {
        mesh_cells = nullptr;
        mesh_width = mesh_height = submesh_width = submesh_height = 0;
        mesh_tile_width = mesh_tile_height = min_cell_height = 0;
        return;
    }
    mesh_cells = mesh_globals.cells;
    mesh_width = header->mesh_width;
    mesh_height = header->mesh_height;
    submesh_width = (int16_t)((mesh_width + SUBMESH_SIZE - 1) / SUBMESH_SIZE);
    submesh_height = (int16_t)((mesh_height + SUBMESH_SIZE - 1) / SUBMESH_SIZE);
    mesh_tile_width = (int16_t)((mesh_width + MESH_TILE_SIZE - 1) / MESH_TILE_SIZE);
    mesh_tile_height = (int16_t)((mesh_height + MESH_TILE_SIZE - 1) / MESH_TILE_SIZE);
}

bool load_mesh_from_memory(const void *data, int32_t size)
{
    mesh_header header;
    if (!read_mesh_header_from_memory(data, size, &header)) return false;

    const int64_t cell_count = (int64_t)header.mesh_width * header.mesh_height;
    if (header.cells_size != cell_count * (int64_t)sizeof(mesh_cell)) return refuse_mesh("cells_size", header.cells_size);
    if (header.mesh_LOD_data_size != cell_count / 4 * 2)
        return refuse_mesh("mesh_LOD_data_size", header.mesh_LOD_data_size);
    if (header.marker_palette_count < 0 || header.marker_palette_count > MAXIMUM_MARKER_PALETTE_ENTRIES_PER_MAP)
        return refuse_mesh("marker_palette_count", header.marker_palette_count);
    if (header.marker_count < 0 || header.marker_count > MAXIMUM_MARKERS_PER_MAP)
        return refuse_mesh("marker_count", header.marker_count);
    if (header.media_coverage_region_size < 0 || (header.media_coverage_region_size & 1) != 0)
        return refuse_mesh("media_coverage_region_size", header.media_coverage_region_size);

    const mesh_block blocks[] = {
        {"cells_offset", header.cells_offset, header.cells_size},
        {"mesh_LOD_data_offset", header.mesh_LOD_data_offset, header.mesh_LOD_data_size},
        {"map_actions_offset", header.map_actions_offset, header.map_action_buffer_size},
        {"media_coverage_region_offset", header.media_coverage_region_offset, header.media_coverage_region_size},
        {"marker_palette_offset", header.marker_palette_offset,
         (int64_t)header.marker_palette_count * (int64_t)sizeof(mesh_marker_palette_entry)},
        {"markers_offset", header.markers_offset, (int64_t)header.marker_count * (int64_t)sizeof(mesh_marker)},
    };
    if (!mesh_blocks_are_valid(blocks, (int32_t)NUMBER_OF(blocks), size)) return false;

    // Every range is known to lie inside the tag: copy it and convert the copy.
    uint8_t *copy = (uint8_t *)malloc((size_t)size);
    if (copy == nullptr)
    {
        ERROR_MESSAGE(_error_out_of_memory, "couldn't allocate #%d bytes for the mesh", size);
        return false;
    }
    memcpy(copy, data, (size_t)size);
    memcpy(copy, &header, sizeof(header));
    mesh_cell *cells = (mesh_cell *)(copy + header.cells_offset);
    uint16_t *LOD_data = (uint16_t *)(copy + header.mesh_LOD_data_offset);
    uint16_t *coverage = header.media_coverage_region_size ? (uint16_t *)(copy + header.media_coverage_region_offset) : nullptr;
    mesh_marker_palette_entry *palette =
        header.marker_palette_count ? (mesh_marker_palette_entry *)(copy + header.marker_palette_offset) : nullptr;
    mesh_marker *markers = header.marker_count ? (mesh_marker *)(copy + header.markers_offset) : nullptr;
    uint8_t *map_actions = header.map_action_buffer_size ? copy + header.map_actions_offset : nullptr;

    bool ok = byte_swap_data("mesh_cell", cells, sizeof(mesh_cell), (int32_t)cell_count, mesh_cell_bs) &&
              byte_swap_memory("mesh_LOD_data", LOD_data, header.mesh_LOD_data_size / 2, _2byte);
    if (ok && coverage) ok = byte_swap_memory("media_coverage_region", coverage, header.media_coverage_region_size / 2, _2byte);
    if (ok && palette)
        ok = byte_swap_data("mesh_marker_palette_entry", palette, sizeof(mesh_marker_palette_entry),
                            header.marker_palette_count, mesh_marker_palette_entry_bs);
    if (ok && markers) ok = byte_swap_data("mesh_marker", markers, sizeof(mesh_marker), header.marker_count, mesh_marker_bs);
    if (ok && !media_coverage_region_is_valid(coverage, header.media_coverage_region_size, header.mesh_width, header.mesh_height))
        ok = refuse_mesh("media coverage region rows", header.media_coverage_region_size);
    if (ok) ok = map_action_block_is_valid(&header, map_actions);
    if (ok) ok = markers_are_valid(&header, palette, markers);
    if (!ok)
    {
        free(copy);
        return false;
    }

    const int16_t media_type = mesh_globals.installing ? mesh_globals.installing_media_type : (int16_t)NONE;
    dispose_mesh_from_old_map();
    mesh_header *installed = (mesh_header *)copy;
    installed->landscape_collection_index = NONE;
    installed->overhead_map_collection_index = NONE;
    installed->map_description_string_index = NONE;
    installed->global_ambient_sound_index = NONE;
    installed->media_type = media_type;
    installed->blood_collection_index = NONE;
    int16_t lowest = INT16_MAX;
    for (int64_t i = 0; i < cell_count; i++)
    {
        cells[i].first_object_index = NONE;
        cells[i].model_index = NONE;
        if (cells[i].height < lowest) lowest = cells[i].height;
    }

    mesh_globals.data = copy;
    mesh_globals.size = size;
    mesh_globals.header = installed;
    mesh_globals.cells = cells;
    mesh_globals.LOD_data = LOD_data;
    mesh_globals.coverage = coverage;
    mesh_globals.coverage_size = header.media_coverage_region_size;
    mesh_globals.map_actions = map_actions;
    mesh_globals.palette = palette;
    mesh_globals.markers = markers;
    set_mesh_sizes(installed);
    min_cell_height = lowest;
    const auto load_landscape_collection = get_collection_procedures()->load_landscape_collection;
    if (load_landscape_collection && !load_landscape_collection(installed))
    {
        // The coverage hook has not been told of this mesh: nothing to undo there.
        free(mesh_globals.data);
        memset(&mesh_globals, 0, sizeof(mesh_globals));
        set_mesh_sizes(nullptr);
        return false;
    }
    if (const auto initialize = get_terrain_overlay_procedures()->initialize_media_coverage)
        initialize(coverage, mesh_globals.coverage_size);
    return true;
}

void initialize_mesh(void)
{
    free(mesh_globals.data);
    memset(&mesh_globals, 0, sizeof(mesh_globals));
    set_mesh_sizes(nullptr);
}

void dispose_mesh_from_old_map(void)
{
    if (mesh_globals.data == nullptr) return;
    if (const auto dispose = get_terrain_overlay_procedures()->dispose_media_coverage) dispose();
    free(mesh_globals.data);
    mesh_globals.data = nullptr;
    mesh_globals.size = 0;
    mesh_globals.header = nullptr;
    mesh_globals.cells = nullptr;
    mesh_globals.LOD_data = nullptr;
    mesh_globals.coverage = nullptr;
    mesh_globals.coverage_size = 0;
    mesh_globals.map_actions = nullptr;
    mesh_globals.palette = nullptr;
    mesh_globals.markers = nullptr;
    set_mesh_sizes(nullptr);
}

bool mesh_is_loaded(void) { return mesh_globals.data != nullptr; }

mesh_header *get_mesh_header(void) { return mesh_globals.header; }

// ---- cells and heights ---------------------------------------------------------------

mesh_cell *get_outside_mesh_cell(void)
{
    mesh_cell *outside = &mesh_globals.outside_cell;
    outside->flags = _mesh_cell_is_not_rendered_flag;
    outside->height = 0;
    outside->media_height = 0;
    outside->first_object_index = NONE;
    outside->model_index = NONE;
    outside->unused = 0;
    return outside;
}

// The height of vertex (x, y) of `cells`; the far vertices of the last row
// and column are the cells' own.
static int32_t clamped_vertex_height(const mesh_cell *cells, int32_t width, int32_t height, int32_t x, int32_t y)
{
    if (x >= width) x = width - 1;
    if (y >= height) y = height - 1;
    return cells[x + y * width].height;
}

static int32_t vertex_height(int32_t x, int32_t y)
{
    return clamped_vertex_height(mesh_globals.cells, mesh_width, mesh_height, x, y);
}

int32_t get_mesh_triangle(const world_point2d *point)
{
    int32_t parity = ((point->x ^ point->y) >> WORLD_FRACTIONAL_BITS) & 1;
    int32_t u = point->y & (WORLD_ONE - 1);
    if (parity) u = (WORLD_ONE - 1) - u;
    return (point->x & (WORLD_ONE - 1)) < u ? 0 : 1;
}

// The plane of the point's triangle through its three vertices, in 512ths,
// rounded toward minus infinity.
static inline __attribute__((always_inline)) int32_t ground_height(const world_point2d *point)
{
    const int32_t x = point->x >> WORLD_FRACTIONAL_BITS, y = point->y >> WORLD_FRACTIONAL_BITS;
    const int32_t fx = point->x & (WORLD_ONE - 1), fy = point->y & (WORLD_ONE - 1);
    int32_t h00, h10, h01, h11;
    if (x + 1 < mesh_width && y + 1 < mesh_height)
    {
        // Away from the last row and column no vertex needs clamping.
        const mesh_cell *cell = &mesh_globals.cells[x + y * mesh_width];
        h00 = cell[0].height, h10 = cell[1].height;
        h01 = cell[mesh_width].height, h11 = cell[mesh_width + 1].height;
    }
    else
    {
        h00 = vertex_height(x, y), h10 = vertex_height(x + 1, y);
        h01 = vertex_height(x, y + 1), h11 = vertex_height(x + 1, y + 1);
    }
    const int32_t triangle = get_mesh_triangle(point);
    int32_t sum;
    if (((x ^ y) & 1) == 0)
    {
        // diagonal from (0, 0) to (1, 1): triangle 0 holds corner (0, 1), triangle 1 corner (1, 0)
        if (triangle == 0)
            sum = h00 * WORLD_ONE + (h11 - h01) * fx + (h01 - h00) * fy;
        else
            sum = h00 * WORLD_ONE + (h10 - h00) * fx + (h11 - h10) * fy;
    }
    else
    {
        // diagonal from (1, 0) to (0, 1): triangle 0 holds corner (0, 0), triangle 1 corner (1, 1)
        if (triangle == 0)
            sum = h00 * WORLD_ONE + (h10 - h00) * fx + (h01 - h00) * fy;
        else
            sum = h11 * WORLD_ONE + (h01 - h11) * (WORLD_ONE - fx) + (h10 - h11) * (WORLD_ONE - fy);
    }
    return sum >> WORLD_FRACTIONAL_BITS;
}

static bool point_is_on_mesh(const world_point2d *point)
{
    return mesh_cell_in_bounds(point->x >> WORLD_FRACTIONAL_BITS, point->y >> WORLD_FRACTIONAL_BITS);
}

static bool triangle_is_media(const mesh_cell *cell, int32_t triangle)
{
    return (cell->flags & (triangle ? _mesh_cell_triangle1_is_media_flag : _mesh_cell_triangle0_is_media_flag)) != 0;
}

world_distance get_mesh_height(const world_point2d *point, int32_t type)
{
    // Every mover asks this several times a tick: the cell is read straight
    // from the array once the point is known to lie on the mesh, and the
    // triangle's media bit only where the answer needs it.
    if (!point_is_on_mesh(point)) return MESH_NO_HEIGHT;
    const mesh_cell *cell =
        &mesh_globals.cells[(point->x >> WORLD_FRACTIONAL_BITS) + (point->y >> WORLD_FRACTIONAL_BITS) * mesh_width];
    switch (type)
    {
    case _mesh_ground_height:
        return ground_height(point);
    case _media_height:
        return get_mesh_media_height(point);
    case _mesh_surface_height:
    {
        if (cell->flags & _mesh_cell_is_not_rendered_flag) return MESH_NO_HEIGHT;
        const int32_t ground = ground_height(point);
        return triangle_is_media(cell, get_mesh_triangle(point)) && cell->media_height > ground ? cell->media_height
                                                                                                 : ground;
    }
    default:
        return MESH_NO_HEIGHT;
    }
}

int32_t get_mesh_terrain_type(const world_point2d *point)
{
    if (mesh_globals.cells == nullptr) return 0;
    // A point off the map asks the nearest point on it.
    const int32_t right = mesh_width * WORLD_ONE - 1, bottom = mesh_height * WORLD_ONE - 1;
    world_point2d on_map;
    on_map.x = point->x < 0 ? 0 : (point->x > right ? right : point->x);
    on_map.y = point->y < 0 ? 0 : (point->y > bottom ? bottom : point->y);
    // The clamped point lies on the mesh: its cell is read straight from the array.
    const mesh_cell *cell =
        &mesh_globals.cells[(on_map.x >> WORLD_FRACTIONAL_BITS) + (on_map.y >> WORLD_FRACTIONAL_BITS) * mesh_width];
    const int32_t shift = get_mesh_triangle(&on_map) ? _mesh_cell_triangle1_terrain_first_bit
                                                     : _mesh_cell_triangle0_terrain_first_bit;
    return (cell->flags >> shift) & _mesh_cell_terrain_type_mask;
}

// ---- blocks --------------------------------------------------------------------------

const uint16_t *get_mesh_LOD_data(void) { return mesh_globals.LOD_data; }

int32_t get_mesh_LOD_word_index(int32_t cell_x, int32_t cell_y)
{
    if (!mesh_cell_in_bounds(cell_x, cell_y)) return NONE;
    return cell_x / 2 + (mesh_width / 2) * (cell_y / 2);
}

// For each fan triangle, bit 8 + k of the word: its cell (clockwise from the
// block's top left) and which of the cell's own two triangles it is.
static const struct
{
    int8_t cell, triangle;
} fan_triangles[8] = {{0, 1}, {1, 0}, {1, 1}, {2, 1}, {2, 0}, {3, 1}, {3, 0}, {0, 0}};
static const int8_t block_cell_offsets[4][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};

// Cell c (clockwise from the top left) of the block whose first cell is (x, y).
static const mesh_cell *block_cell(const mesh_cell *cells, int32_t width, int32_t x, int32_t y, int32_t c)
{
    return &cells[(x + block_cell_offsets[c][0]) + (y + block_cell_offsets[c][1]) * width];
}

// Whether the block at (x, y) cannot be drawn as its two large triangles.
static bool block_needs_fan(const mesh_cell *cells, int32_t width, int32_t height, int32_t x, int32_t y)
{
    const int32_t parity = ((x ^ y) & 2) >> 1;
    // The large diagonal runs (0,0)-(2,2) for parity 0, (2,0)-(0,2) for 1.
    const int32_t a = parity ? clamped_vertex_height(cells, width, height, x + 2, y)
                             : clamped_vertex_height(cells, width, height, x, y);
    const int32_t b = parity ? clamped_vertex_height(cells, width, height, x, y + 2)
                             : clamped_vertex_height(cells, width, height, x + 2, y + 2);
    if (clamped_vertex_height(cells, width, height, x + 1, y + 1) * 2 != a + b) return true;
    bool first_media = false;
    for (int32_t k = 0; k < 8; k++)
    {
        const mesh_cell *cell = block_cell(cells, width, x, y, fan_triangles[k].cell);
        if (cell->flags & _mesh_cell_is_not_rendered_flag) return true;
        const bool media = triangle_is_media(cell, fan_triangles[k].triangle);
        if (k == 0) first_media = media;
        if (media != first_media) return true;
    }
    return false;
}

void build_mesh_LOD_data(const mesh_cell *cells, int32_t width, int32_t height, uint16_t *words)
{
    const int32_t blocks_across = width / 2, blocks_down = height / 2;
    bool *fan = (bool *)calloc((size_t)(blocks_across * blocks_down), sizeof(bool));
    if (fan == nullptr) return;
    for (int32_t by = 0; by < blocks_down; by++)
        for (int32_t bx = 0; bx < blocks_across; bx++)
            fan[bx + by * blocks_across] = block_needs_fan(cells, width, height, bx * 2, by * 2);

    for (int32_t by = 0; by < blocks_down; by++)
    {
        for (int32_t bx = 0; bx < blocks_across; bx++)
        {
            const int32_t x = bx * 2, y = by * 2;
            // Edges: top, right, bottom, left; ends and midpoint, and the block across.
            const int32_t edges[4][7] = {
                {x, y, x + 1, y, x + 2, y, by > 0 ? bx + (by - 1) * blocks_across : NONE},
                {x + 2, y, x + 2, y + 1, x + 2, y + 2, bx + 1 < blocks_across ? bx + 1 + by * blocks_across : NONE},
                {x, y + 2, x + 1, y + 2, x + 2, y + 2, by + 1 < blocks_down ? bx + (by + 1) * blocks_across : NONE},
                {x, y, x, y + 1, x, y + 2, bx > 0 ? bx - 1 + by * blocks_across : NONE},
            };
            uint16_t word = 0;
            for (int32_t e = 0; e < 4; e++)
            {
                const int32_t *edge = edges[e];
                const int32_t end0 = clamped_vertex_height(cells, width, height, edge[0], edge[1]);
                const int32_t middle = clamped_vertex_height(cells, width, height, edge[2], edge[3]);
                const int32_t end1 = clamped_vertex_height(cells, width, height, edge[4], edge[5]);
                const bool detailed = middle * 2 != end0 + end1 || fan[bx + by * blocks_across] ||
                                      (edge[6] != NONE && fan[edge[6]]);
                if (detailed) word |= (uint16_t)(1 << (_cell_edge_detail_first_bit + e));
            }
            for (int32_t c = 0; c < 4; c++)
            {
                if (!(block_cell(cells, width, x, y, c)->flags & _mesh_cell_is_not_rendered_flag))
                    word |= (uint16_t)(1 << (_cell_rendered_first_bit + c));
            }
            for (int32_t k = 0; k < 8; k++)
            {
                if (triangle_is_media(block_cell(cells, width, x, y, fan_triangles[k].cell), fan_triangles[k].triangle))
                    word |= (uint16_t)(1 << (_cell_triangle_media_first_bit + k));
            }
            words[bx + by * blocks_across] = word;
        }
    }
    free(fan);
}

const uint16_t *get_media_coverage_region(int32_t *size)
{
    if (size) *size = mesh_globals.coverage_size;
    return mesh_globals.coverage;
}

const void *get_mesh_map_action_block(int32_t *count, int32_t *size)
{
    const mesh_header *header = mesh_globals.header;
    if (count) *count = header ? header->map_action_count : 0;
    if (size) *size = header ? header->map_action_buffer_size : 0;
    return mesh_globals.map_actions;
}

const mesh_marker_palette_entry *get_mesh_marker_palette_entries(int32_t *count)
{
    if (count) *count = mesh_globals.header ? mesh_globals.header->marker_palette_count : 0;
    return mesh_globals.palette;
}

const mesh_marker *get_mesh_markers(int32_t *count)
{
    if (count) *count = mesh_globals.header ? mesh_globals.header->marker_count : 0;
    return mesh_globals.markers;
}

// ---- landscape maps ---------------------------------------------------------------------

static uint8_t *submesh_bitmap(int32_t submesh_index, int32_t which)
{
    const auto landscape_bitmap = get_collection_procedures()->landscape_bitmap;
    if (mesh_globals.header == nullptr || landscape_bitmap == nullptr) return nullptr;
    if (submesh_index < 0 || submesh_index >= submesh_width * submesh_height) return nullptr;
    return landscape_bitmap(submesh_index * 2 + which);
}

const void *get_color_map_shading_table(void)
{
    const auto shading_table = get_collection_procedures()->landscape_shading_table;
    return mesh_globals.header && shading_table ? shading_table() : nullptr;
}

const uint8_t *get_color_map_blend_table(void)
{
    const auto blend_table = get_collection_procedures()->landscape_blend_table;
    return mesh_globals.header && blend_table ? blend_table() : nullptr;
}

uint8_t *get_submesh_color_map_base_address(int32_t submesh_index, bool ignored) { return submesh_bitmap(submesh_index, 0); }
uint8_t *get_submesh_shadow_map_base_address(int32_t submesh_index, bool ignored) { return submesh_bitmap(submesh_index, 1); }

// ---- stains and media -------------------------------------------------------------------

// The random draw comes first and always, so that whether it happens never
// depends on what this machine has loaded.
static void stain(int32_t collection_index, int32_t sequence_index, const world_point2d *point,
                  uint16_t (*random)(void))
{
    const uint16_t index = random();
    const auto draw = get_terrain_overlay_procedures()->permanent_overlay;
    if (!point_is_on_mesh(point) || draw == nullptr) return;
    if (collection_index < 0 || collection_index > UINT8_MAX || sequence_index < 0 || sequence_index > UINT8_MAX) return;
    permanent_overlay_data overlay;
    overlay.collection_index = (uint8_t)collection_index;
    overlay.sequence_index = (uint8_t)sequence_index;
    overlay.index = index;
    overlay.origin.x = (int16_t)(point->x >> 6);
    overlay.origin.y = (int16_t)(point->y >> 6);
    draw(&overlay);
}

void stain_mesh(int32_t collection_index, int32_t sequence_index, const world_point2d *point)
{
    stain(collection_index, sequence_index, point, vesk_random);
}

void local_stain_mesh(int32_t collection_index, int32_t sequence_index, const world_point2d *point)
{
    stain(collection_index, sequence_index, point, local_random);
}

void bloody_mesh(const world_point2d *point)
{
    const int32_t collection = mesh_globals.header ? mesh_globals.header->blood_collection_index : (int32_t)NONE;
    stain(collection, 0, point, local_random);
}

int32_t get_mesh_media_projectile_group_type(int32_t splash_type)
{
    if (mesh_globals.header == nullptr) return NONE;
    return get_media_projectile_group_type(mesh_globals.header->media_type, splash_type);
}

// ---- the tag-file store ------------------------------------------------------------------

// The map's tag index, or NONE with code 11 (missing) or 9 (another version)
// reported.  Its size goes to `size`.
static int32_t open_mesh_tag(tag mesh_tag, int32_t *size)
{
    const int32_t tag_index = tag_file_open(MESH_GROUP_TAG, mesh_tag);
    tag_file_info info;
    if (tag_index == NONE || !tag_file_info_get(tag_index, &info))
    {
        ERROR_MESSAGE(_error_data_missing, "mesh '%s' is missing", tag_to_string(mesh_tag));
        return NONE;
    }
    if (info.version != MESH_TAG_VERSION)
    {
        ERROR_MESSAGE(_error_data_version_mismatch, "mesh '%s' has version %d, not %d", tag_to_string(mesh_tag),
                      info.version, MESH_TAG_VERSION);
        return NONE;
    }
    *size = info.size;
    return tag_index;
}

// The media definition the header names, loaded for the map: NONE for a map
// without media, or when this program does not set media up (tools, tests).
// A missing media tag refuses the map; a damaged one (refused with code 10
// naming its field) leaves the map without water, as media_type NONE.
static bool resolve_mesh_media(tag media_tag, int32_t *media_type)
{
    *media_type = NONE;
    if (media_tag == NONE || !media_definitions.registered || media_definitions.count == NONE) return true;
    if (tag_file_open(MEDIA_DEFINITION_GROUP_TAG, media_tag) == NONE)
    {
        ERROR_MESSAGE(_error_data_corrupted, "mesh refused: media_tag '%s' is missing", tag_to_string(media_tag));
        return false;
    }
    *media_type = try_definition_tag_to_index(&media_definitions, media_tag, true, 0);
    if (*media_type == NONE)
        log_message(__FILE__, __LINE__, "media '%s' refused: the map loads without water", tag_to_string(media_tag));
    return true;
}

static bool preload_mesh_definitions(tag preload_tag)
{
    if (preload_map_definitions(preload_tag)) return true;
    ERROR_MESSAGE(_error_data_corrupted, "mesh refused: preload_tag '%s' is missing or refused",
                  tag_to_string(preload_tag));
    return false;
}

bool initialize_mesh_for_new_map(tag mesh_tag)
{
    dispose_mesh_from_old_map();
    int32_t size = 0;
    const int32_t tag_index = open_mesh_tag(mesh_tag, &size);
    if (tag_index == NONE) return false;
    if (size < MESH_HEADER_SIZE) return refuse_mesh("tag smaller than its header", size);
    void *data = malloc((size_t)size);
    if (data == nullptr)
    {
        ERROR_MESSAGE(_error_out_of_memory, "couldn't allocate #%d bytes for the mesh tag", size);
        return false;
    }
    mesh_header header;
    int32_t media_type = NONE;
    const bool loaded = tag_file_read(tag_index, 0, size, data) && read_mesh_header_from_memory(data, size, &header) &&
                        resolve_mesh_media(header.media_tag, &media_type) && preload_mesh_definitions(header.preload_tag) &&
                        ((mesh_globals.installing = true), (mesh_globals.installing_media_type = (int16_t)media_type),
                         load_mesh_from_memory(data, size));
    mesh_globals.installing = false;
    free(data);
    if (loaded) mesh_globals.header->media_type = (int16_t)media_type;
    return loaded;
}

bool read_mesh_header(tag mesh_tag, mesh_header *header)
{
    int32_t size = 0;
    const int32_t tag_index = open_mesh_tag(mesh_tag, &size);
    if (tag_index == NONE) return false;
    uint8_t raw[MESH_HEADER_SIZE];
    if (size < MESH_HEADER_SIZE) return refuse_mesh("tag smaller than its header", size);
    return tag_file_read(tag_index, 0, MESH_HEADER_SIZE, raw) && read_mesh_header_from_memory(raw, MESH_HEADER_SIZE, header);
}

bool read_mesh_entry_point(int32_t tag_index, full_entry_point *entry)
{
    tag_file_info info;
    if (!tag_file_info_get(tag_index, &info) || info.version != MESH_TAG_VERSION || info.size < MESH_HEADER_SIZE)
        return false;
    uint8_t raw[MESH_HEADER_SIZE];
    mesh_header header;
    if (!tag_file_read(tag_index, 0, MESH_HEADER_SIZE, raw) || !read_mesh_header_from_memory(raw, MESH_HEADER_SIZE, &header))
        return false;
    entry->mesh_flags = header.flags;
    strlcpy(entry->printed_name, header.printed_name, sizeof(entry->printed_name));
    strlcpy(entry->dependency_name, header.dependency_name, sizeof(entry->dependency_name));
    entry->level = header.level;
    entry->priority = header.priority;
    return true;
}
