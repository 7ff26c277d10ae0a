#pragma once
// The terrain mesh of the current map: its header, cells, level-of-detail
// words, media coverage, map-action block and markers, loaded from the map's
// 'mesh' tag and checked in full before anything reads it.  Every query is
// total: a point or cell off the map gets a safe answer, never a read outside
// the cells.
//
// Main thread only.

#include <cstdint>

#include "media.h"
#include "mesh_format.h"
#include "world.h"

// Sizes of the current mesh (0 while none is loaded).  Read only.
extern int16_t mesh_width, mesh_height; // cells of 512 world units
extern int16_t submesh_width, submesh_height; // submeshes of 32 x 32 cells
extern int16_t mesh_tile_width, mesh_tile_height; // tiles of 14 x 14 cells, a partial tile counts
extern int16_t min_cell_height; // the lowest cell height
// The cells of the current mesh, row by row (null while none is loaded).
// Read only; set and cleared with the sizes above.
extern mesh_cell *mesh_cells;

// ---- life cycle ------------------------------------------------------------------

// Once at start-up: no mesh loaded, hooks cleared.
void initialize_mesh(void);

// Loads the map `mesh_tag` through the tag-file store, resolves its media
// (`media_tag` becomes `media_type`) and preloads what its 'prel' tag lists,
// when those groups are set up for the map.  False, with the reason reported
// (code 11 for a missing mesh tag, code 10 for a refused one, or for a media
// or preload tag that is missing or refused, the field named in the log), when
// it cannot be used; no mesh is loaded then.
bool initialize_mesh_for_new_map(tag mesh_tag);

// Frees the current mesh (and tells the media coverage hook).  Safe without one.
void dispose_mesh_from_old_map(void);

// Checks the tag data `data` (`size` bytes, as stored: big-endian) and, when
// every count, size and offset agrees with the tag, makes a converted copy
// the current mesh, replacing any loaded one.  False when refused: code 10
// "Data Corrupted" is reported with a line naming the field, and the mesh
// loaded before (if any) stays.  The data is never read outside `size`.
bool load_mesh_from_memory(const void *data, int32_t size);

bool mesh_is_loaded(void);

// ---- header ----------------------------------------------------------------------

// The current map's header (host order), or null without a mesh.  The run-time
// index fields may be written by the modules that load what the tags name.
mesh_header *get_mesh_header(void);

// Converts and checks the header at the start of `data` (`size` bytes) into
// `header` without loading the map: true when the header's own fields are
// sound (sizes, counts, reverb).  Blocks are not checked.
bool read_mesh_header_from_memory(const void *data, int32_t size, mesh_header *header);

// The same for the map `mesh_tag` in the tag-file store.  False (reported)
// when the tag is missing or its header refused.
bool read_mesh_header(tag mesh_tag, mesh_header *header);

// The entry-point reader of the tag-file store: fills the map's mesh_flags,
// printed_name, dependency_name, level and priority from the header of the
// 'mesh' tag at `tag_index`.  False for a tag of another version or a header
// that is refused (reported).  Register it with register_entry_point_reader_procedure before
// the store first opens its files.
struct full_entry_point;
bool read_mesh_entry_point(int32_t tag_index, full_entry_point *entry);

// ---- cells -----------------------------------------------------------------------

// Inline: the planner and every mover ask for cells many times a tick.
inline bool mesh_cell_in_bounds(int32_t cell_x, int32_t cell_y)
{
    return mesh_cells != nullptr && (uint32_t)cell_x < (uint32_t)mesh_width && (uint32_t)cell_y < (uint32_t)mesh_height;
}

// The scratch cell get_mesh_cell answers off the map, reset first.
mesh_cell *get_outside_mesh_cell(void);

// The cell (cell_x, cell_y) (world coordinates >> 9).  Off the map, or without
// a mesh, a scratch cell outside the map: not rendered, height 0, no media, no
// object or model (-1); it is reset on every such call, so writing to it
// changes nothing.
inline mesh_cell *get_mesh_cell(int32_t cell_x, int32_t cell_y)
{
    return mesh_cell_in_bounds(cell_x, cell_y) ? &mesh_cells[cell_x + cell_y * mesh_width] : get_outside_mesh_cell();
}

enum mesh_height_type
{
    _mesh_surface_height = 0, // media surface over media, else ground; -4096 on a hidden cell
    _mesh_ground_height = 1,
    _media_height = 2, // the media surface where the triangle is media, else -4096
};
constexpr world_distance MESH_NO_HEIGHT = -4096;

// The height of the terrain at `point` (the simulation's one definition, see
// docs/formats.md): each cell is split into two triangles by a diagonal that
// alternates with the parity of its x + y, and the height is the plane of
// the triangle under the point through its three vertex heights, in integer
// arithmetic rounded toward minus infinity.  The cells of the last row and
// column take their far vertices from themselves.  MESH_NO_HEIGHT off the map,
// without a mesh, or as each mode above says.
world_distance get_mesh_height(const world_point2d *point, int32_t type);

// Which triangle of its cell the point lies in (0 or 1): with p = bit 9 of
// x ^ y and u = y & 511 (511 - u when p is 1), triangle 0 when (x & 511) < u.
int32_t get_mesh_triangle(const world_point2d *point);

// get_mesh_height(point, _media_height), inline: every moving object asks it
// each tick, and most cells carry no media in either triangle.
inline world_distance get_mesh_media_height(const world_point2d *point)
{
    const int32_t x = point->x >> WORLD_FRACTIONAL_BITS, y = point->y >> WORLD_FRACTIONAL_BITS;
    if (!mesh_cell_in_bounds(x, y)) return MESH_NO_HEIGHT;
    const mesh_cell &cell = mesh_cells[x + y * mesh_width];
    if (!(cell.flags & _mesh_cell_carries_media_flags)) return MESH_NO_HEIGHT;
    // The triangle as get_mesh_triangle tells it.
    int32_t u = point->y & (WORLD_ONE - 1);
    if (((point->x ^ point->y) >> WORLD_FRACTIONAL_BITS) & 1) u = (WORLD_ONE - 1) - u;
    const uint32_t media = (point->x & (WORLD_ONE - 1)) < u ? _mesh_cell_triangle0_is_media_flag
                                                             : _mesh_cell_triangle1_is_media_flag;
    return (cell.flags & media) ? cell.media_height : MESH_NO_HEIGHT;
}

// The 4-bit terrain type (0-15) of the triangle under the point; a point off
// the map takes that of the nearest point on it.  0 without a mesh.
int32_t get_mesh_terrain_type(const world_point2d *point);

// ---- blocks ------------------------------------------------------------------------

// The level-of-detail words (see mesh_format.h), or null without a mesh.
const uint16_t *get_mesh_LOD_data(void);
// The index of the word of the block holding cell (x, y); NONE off the map.
int32_t get_mesh_LOD_word_index(int32_t cell_x, int32_t cell_y);

// Computes the level-of-detail words of `cells` (host order, width x height,
// both even) into `words`: an edge is drawn through its midpoint when the
// midpoint's height is not the mean of its ends or when either block beside it
// needs the full fan (a centre off its diagonal, hidden cells or media that
// differs between the block's triangles), so neighbours always agree.  The
// data tools use it to write the block.
void build_mesh_LOD_data(const mesh_cell *cells, int32_t width, int32_t height, uint16_t *words);

// The media coverage values (host order) and their size in bytes; null and 0
// for a map without media.
const uint16_t *get_media_coverage_region(int32_t *size);

// Checks a coverage region (host order): every row strictly increasing within
// (previous, width * 8], ending with width * 8, and the rows filling `size`
// exactly.  Size 0 is sound.
bool media_coverage_region_is_valid(const uint16_t *values, int32_t size, int32_t width, int32_t height);

// The map-action block as stored (big-endian, for import_map_actions with
// byte swapping), its record count and total size; null without a mesh.
const void *get_mesh_map_action_block(int32_t *count, int32_t *size);

// Marker palette entries and markers (host order); null and 0 when none.
const mesh_marker_palette_entry *get_mesh_marker_palette_entries(int32_t *count);
const mesh_marker *get_mesh_markers(int32_t *count);

// ---- landscape maps ------------------------------------------------------------

// The collections module gives the landscape collection's bitmaps (256 x 256
// bytes, 256 per row), loads the collection and gives its lighting and blend
// tables through its table (tag_files/collection_procedures.h).

// Submesh s (cell x >> 5 + submesh_width * (cell y >> 5)) is coloured by
// landscape bitmap 2s and shaded by 2s + 1.  Null for a negative or too large
// index, without a mesh, or when the collection cannot give the bitmap.
uint8_t *get_submesh_color_map_base_address(int32_t submesh_index, bool ignored);
uint8_t *get_submesh_shadow_map_base_address(int32_t submesh_index, bool ignored);

// The loader has the landscape collection the header names loaded (its
// run-time `landscape_collection_index` written, its lighting table made) once
// the mesh is installed, before the media coverage hook; a false answer
// refuses the map.  Until the collections module registers, the map has no
// landscape collection.
// The landscape collection's lighting table and its 256 x 256 blend table
// ([existing << 8 | new]); null without them (until registered, always).
const void *get_color_map_shading_table(void);
const uint8_t *get_color_map_blend_table(void);

// ---- stains and media -------------------------------------------------------------

// A permanent overlay request: stamp frame/view `index` of the collection's
// sequence at texel `origin` (world >> 6) into the landscape maps.
struct permanent_overlay_data
{
    uint8_t collection_index;
    uint8_t sequence_index;
    uint16_t index;
    struct
    {
        int16_t x, y;
    } origin;
};

// The renderer's terrain overlays draw it (terrain_overlay_procedures.h,
// `permanent_overlay`); until they register, nothing is drawn and the stain's
// draw is made all the same.

// A permanent stain of the collection's sequence at the point; the frame is
// chosen by one vesk_random draw, taken even when nothing can be drawn so that
// every machine draws alike.  Points off the map draw and paint nothing else.
void stain_mesh(int32_t collection_index, int32_t sequence_index, const world_point2d *point);
// The same with local_random, for effects no simulation depends on.
void local_stain_mesh(int32_t collection_index, int32_t sequence_index, const world_point2d *point);
// Blood on the terrain colour map: sequence 0 of the map's blood collection.
// It draws local_random, not vesk_random: callers skip it under the local
// "censored" preference, so a synchronized draw would split the machines.
void bloody_mesh(const world_point2d *point);

// The projectile group (a 'prgr' definition index) of splash `splash_type`
// (media_splash_type) of the map's media, resolved from the mesh header's
// `media_type` when the map starts.  NONE for a splash type outside 0-6, a map
// without media, or a splash its media leaves empty.
int32_t get_mesh_media_projectile_group_type(int32_t splash_type);

// The renderer's media coverage is set up when a map loads and disposed with
// it, through the terrain overlays' table (terrain_overlay_procedures.h).

// Registers the mesh's start-up and per-map steps with the game core and its
// entry-point reader with the tag-file store.  Call before initialize_vesk.
void register_mesh_hooks(void);
