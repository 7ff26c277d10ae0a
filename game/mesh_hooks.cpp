// Joins the mesh to the game core: its start-up and per-map steps and the
// entry-point reader of the tag-file store.  The preloader and the media definitions, which the
// mesh step reads when a map starts, come up here too.

#include <bit>
#include <cstddef>
#include <cstring>
#include <vector>

#if defined(__SSE2__) && defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
#define MESH_HASH_HAS_SSE2 1
#include <emmintrin.h>
#else
#define MESH_HASH_HAS_SSE2 0
#endif

#include "game_hooks.h"
#include "game_records.h"
#include "cseries/crc.h"
#include "mesh.h"
#include "state_hash_kept_records.h"
#include "tag_files/plugins.h"
#include "vesk/preloading.h"

// write_be16 as one store (its byte stores are not merged when reads of the
// cells come between them).
static inline void put_be16(uint8_t *out, uint16_t value)
{
    if constexpr (std::endian::native == std::endian::little) value = __builtin_bswap16(value);
    memcpy(out, &value, sizeof(value));
}

// The cells are synchronized: fire scorches their flags for good, and their
// object chains and model claims decide what movers meet.  Row by row, each
// cell's flags, heights, first object and model as big-endian 16-bit words.
constexpr int32_t MESH_HASH_WORDS_PER_CELL = 5;

// Writes the hashed bytes of the `width` cells from `cells` on at `out`;
// returns where it stopped.
static uint8_t *write_mesh_row_hash_bytes(const mesh_cell *cells, int32_t width, uint8_t *out)
{
    int32_t x = 0;
#if MESH_HASH_HAS_SSE2
    // A cell's first five words swapped in one go: 16 bytes read from the
    // cell (the last four are the next cell's) and stored where its ten go;
    // the six bytes past them are overwritten by the next cell's store, so
    // the last cell of the row, with no next cell and no room after it, is
    // left to the loop below.
    static_assert(sizeof(mesh_cell) == 12 && offsetof(mesh_cell, flags) == 0 && offsetof(mesh_cell, height) == 2 &&
                  offsetof(mesh_cell, first_object_index) == 6);
    for (; x + 1 < width; ++x, out += MESH_HASH_WORDS_PER_CELL * 2)
    {
        const __m128i words = _mm_loadu_si128((const __m128i *)&cells[x]);
        _mm_storeu_si128((__m128i *)out, _mm_or_si128(_mm_slli_epi16(words, 8), _mm_srli_epi16(words, 8)));
    }
#endif
    for (; x < width; ++x, out += MESH_HASH_WORDS_PER_CELL * 2)
    {
        const mesh_cell *cell = &cells[x];
        put_be16(out, cell->flags);
        put_be16(out + 2, (uint16_t)cell->height);
        put_be16(out + 4, (uint16_t)cell->media_height);
        put_be16(out + 6, (uint16_t)cell->first_object_index);
        put_be16(out + 8, (uint16_t)cell->model_index);
    }
    return out;
}

// Kept rows, as the kept records of state_hash.h: a row whose cells equal
// their copy byte for byte (most rows: a tick moves objects through a few)
// keeps the CRC its bytes gave, and the rows' CRCs join the hash by
// combination, which gives the value the bytes themselves would.  Any
// write to a cell changes its bytes, so no writer has to report one.
// Local, never hashed; forgotten when the mesh's size changes.
static struct mesh_hash_rows
{
    int32_t width, height;
    std::vector<mesh_cell> copies; // width * height cells
    std::vector<uint32_t> crcs; // per row: crc32_of its hashed bytes, where it has a copy
    std::vector<uint8_t> kept; // per row: whether it has a copy
    crc32_shift shift; // for a row's hashed size
} mesh_hash_rows;

static void hash_mesh_cells(uint32_t *hash)
{
    uint8_t row[MAXIMUM_MESH_SIZE * MESH_HASH_WORDS_PER_CELL * 2];
    state_hash_add_int32(hash, mesh_width);
    state_hash_add_int32(hash, mesh_height);
    if (!mesh_is_loaded()) return;
    const int32_t width = mesh_width < (int32_t)MAXIMUM_MESH_SIZE ? mesh_width : (int32_t)MAXIMUM_MESH_SIZE;
    const size_t row_size = (size_t)width * MESH_HASH_WORDS_PER_CELL * 2;
    if (state_hash_writes_afresh() || width <= 0 || mesh_height <= 0)
    {
        for (int32_t y = 0; y < mesh_height; ++y)
        {
            // Written in place when the hash has room for the row.
            uint8_t *out = state_hash_begin_record(hash, row_size, row);
            uint8_t *end = write_mesh_row_hash_bytes(get_mesh_cell(0, y), width, out);
            state_hash_end_record(hash, out, end, row, row_size);
        }
        return;
    }
    struct mesh_hash_rows *rows = &mesh_hash_rows;
    if (rows->width != width || rows->height != mesh_height)
    {
        rows->width = width;
        rows->height = mesh_height;
        rows->copies.assign((size_t)width * (size_t)mesh_height, mesh_cell{});
        rows->crcs.assign((size_t)mesh_height, 0);
        rows->kept.assign((size_t)mesh_height, 0);
    }
    if (rows->shift.size != row_size) crc32_make_shift(&rows->shift, row_size);
    const size_t row_cells_size = (size_t)width * sizeof(mesh_cell);
    for (int32_t y = 0; y < mesh_height; ++y)
    {
        const mesh_cell *cells = get_mesh_cell(0, y);
        mesh_cell *copy = &rows->copies[(size_t)y * (size_t)width];
        if (rows->kept[(size_t)y] && memcmp(cells, copy, row_cells_size) == 0) continue;
        uint8_t *end = write_mesh_row_hash_bytes(cells, width, row);
        VASSERT(end == row + row_size, "mesh hash row of the wrong size");
        rows->crcs[(size_t)y] = crc32_of(row, row_size);
        memcpy(copy, cells, row_cells_size);
        rows->kept[(size_t)y] = 1;
    }
    state_hash_flush(hash);
    *hash = crc32_append_pieces(*hash, rows->crcs.data(), (size_t)mesh_height, &rows->shift);
}

static bool startup_mesh(void)
{
    initialize_mesh();
    register_state_hash_procedure_at_start_up(hash_mesh_cells);
    return true;
}

static bool startup_preloading(void) { return initialize_preloading(); }
static bool startup_media(void) { return initialize_media(); }

static bool empty_preload_stores(const new_game_data *)
{
    initialize_preloading_for_new_map();
    return true;
}
static bool empty_media_stores(const new_game_data *)
{
    initialize_media_for_new_map();
    return true;
}

static bool initialize_mesh_for_game(const new_game_data *data)
{
    return initialize_mesh_for_new_map(data->parameters.scenario_tag);
}

void register_mesh_hooks(void)
{
    // The store reads every map's facts while it opens its files, which happens
    // before the mesh's own start-up step: the reader goes in now.
    register_entry_point_reader_procedure(read_mesh_entry_point);
    register_startup_procedure(_startup_preloading, startup_preloading);
    register_startup_procedure(_startup_media, startup_media);
    register_startup_procedure(_startup_mesh, startup_mesh);
    register_map_store_procedures(_startup_preloading, empty_preload_stores, dispose_preloading_from_old_map);
    register_map_store_procedures(_startup_media, empty_media_stores, dispose_media_from_old_map);
    register_map_procedures(_map_mesh, initialize_mesh_for_game, dispose_mesh_from_old_map);
}

#undef MESH_HASH_HAS_SSE2
