// The software rasterizer.
//
// One template per surface kind over a pixel format (555, 565, 32-bit); the
// format supplies the pixel type, the colour packing, the 5-bit channel blend
// and the colour-map shading index.  Triangles share one scan converter;
// texture coordinates are evaluated affinely at each pixel's integer offset
// from the top vertex, so a clipped triangle shows exactly the pixels of its
// unclipped drawing.

#include "render/render_rasterize.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>

#include "bitmaps.h"
#include "cseries/log.h"
#include "render/render.h"
#include "render/terrain_maps.h"
#include "shading_tables.h"
#include "shapes.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define VESK_RASTER_VECTOR_ADDRESSES 1
#include <immintrin.h>
#else
#define VESK_RASTER_VECTOR_ADDRESSES 0
#endif

rasterizer_globals_data rasterizer_globals;

const int16_t secondary_address_offset_table[NUMBER_OF_SECONDARY_ADDRESS_OFFSETS] = {
    -1, -512, -511, -512, -513, 0, 0, 1, -1, 0, 0, 513, 512, 511, 512, 1};

namespace
{

// ---- pixel formats ---------------------------------------------------------------------

enum
{
    TRANSPARENCY_LEVEL_SIZE = 32 * 32,
    COLOR_MAP_COLORS = 256,
};

inline uint32_t blend5(const uint8_t *level, uint32_t destination, uint32_t source)
{
    return level[(destination & 31) * 32 + (source & 31)];
}

struct format_555
{
    typedef uint16_t pixel;
    static pixel blend(const uint8_t *level, pixel d, pixel c)
    {
        return (pixel)((blend5(level, d >> 10, c >> 10) << 10) | (blend5(level, d >> 5, c >> 5) << 5) |
                       blend5(level, d, c));
    }
    static pixel from_rgb(const rgb_color &c) { return rgb_color_to_pixel16_555(&c); }
    static uint32_t color_map_index(uint32_t shadow, uint32_t color) { return (shadow >> 2) * COLOR_MAP_COLORS + color; }
};

struct format_565
{
    typedef uint16_t pixel;
    // Green keeps the top 5 of its 6 bits; the lowest becomes 0.
    static pixel blend(const uint8_t *level, pixel d, pixel c)
    {
        return (pixel)((blend5(level, d >> 11, c >> 11) << 11) | (blend5(level, d >> 6, c >> 6) << 6) |
                       blend5(level, d, c));
    }
    static pixel from_rgb(const rgb_color &c) { return rgb_color_to_pixel16_565(&c); }
    static uint32_t color_map_index(uint32_t shadow, uint32_t color) { return (shadow >> 2) * COLOR_MAP_COLORS + color; }
};

struct format_32
{
    typedef uint32_t pixel;
    static pixel blend(const uint8_t *level, pixel d, pixel c)
    {
        return 0xFF000000u | (blend5(level, d >> 19, c >> 19) << 19) | (blend5(level, d >> 11, c >> 11) << 11) |
               (blend5(level, d >> 3, c >> 3) << 3);
    }
    static pixel from_rgb(const rgb_color &c) { return rgb_color_to_pixel32(&c); }
    static uint32_t color_map_index(uint32_t shadow, uint32_t color) { return shadow * COLOR_MAP_COLORS + color; }
};

// ---- bitmaps -----------------------------------------------------------------------------

inline uint8_t *bitmap_row(const bitmap_data *bitmap, int32_t y)
{
    if (bitmap->flags & _no_row_address_table_flag)
        return bitmap->row_addresses[0] + (ptrdiff_t)y * bitmap->bytes_per_row;
    return bitmap->row_addresses[y];
}

template <class F>
inline typename F::pixel *destination_row(bitmap_data *destination, int32_t y)
{
    return reinterpret_cast<typename F::pixel *>(bitmap_row(destination, y));
}

// Byte offset of pixel x of row y from the start of the pixel block: what
// decides pixel pairs on 16-bit destinations.
inline ptrdiff_t destination_offset(const bitmap_data *destination, int32_t y, int32_t x, size_t pixel_size)
{
    return (bitmap_row(destination, y) - destination->row_addresses[0]) + (ptrdiff_t)x * (ptrdiff_t)pixel_size;
}

// A destination these procedures may write: pixels of the format's size.
template <class F>
bool destination_usable(const bitmap_data *destination)
{
    return destination && destination->width > 0 && destination->height > 0 &&
           get_encoding_byte_depth(destination->encoding) == (int32_t)sizeof(typename F::pixel) &&
           destination->row_addresses[0];
}

inline int16_t read_int16(const uint8_t *p)
{
    int16_t value;
    std::memcpy(&value, p, sizeof value);
    return value;
}

inline uint16_t read_uint16(const uint8_t *p)
{
    uint16_t value;
    std::memcpy(&value, p, sizeof value);
    return value;
}

// ---- the surface's texture and tables ------------------------------------------------------

struct surface_texture
{
    bitmap_data *texture;
    const void *shading_table;
};

bool get_surface_texture(uint32_t identifier, surface_texture *out)
{
    const int32_t collection = bitmap_identifier_collection_index(identifier);
    out->texture = get_bitmap(collection, bitmap_identifier_bitmap_index(identifier));
    out->shading_table = out->texture ? get_shading_table(collection, bitmap_identifier_color_table_index(identifier),
                                                          bitmap_identifier_color_table_permutation(identifier))
                                      : nullptr;
    return out->texture && out->shading_table;
}

// The level table of a surface, or null for opaque drawing (and when the
// table is missing).  `alpha_texels` bitmaps always blend, in normal mode.
const uint8_t *surface_transparency_table(const render_surface *surface, const bitmap_data *texture,
                                          bool alpha_texels)
{
    const uint32_t flags = surface_word_flags(surface->packed);
    if (!alpha_texels && surface->transparency == 0 && !(flags & _surface_transparent_flag)) return nullptr;
    const bool overlay = (flags & _surface_transparent_overlay_flag) &&
                         !(texture->flags & _4bit_transparency_encoded_flag);
    return get_transparency_table(overlay ? _transparency_overlay : _transparency_normal);
}

inline const uint8_t *transparency_level(const uint8_t *table, uint32_t transparency)
{
    return table + (transparency >> 12) * TRANSPARENCY_LEVEL_SIZE;
}

// ---- triangle scan conversion ----------------------------------------------------------------

// One edge of a chain: x in 16.16 at row y is x0 + step * (y - y0), for rows
// [y0, y1).  Only edges of positive height get a step.
struct scan_edge
{
    int64_t x0, step;
    int32_t y0, y1;
};

inline scan_edge make_edge(point2d from, point2d to)
{
    scan_edge edge;
    edge.x0 = (int64_t)from.x * 65536;
    edge.y0 = from.y;
    edge.y1 = to.y;
    edge.step = to.y > from.y ? ((int64_t)(to.x - from.x) * 65536) / (to.y - from.y) : 0;
    return edge;
}

// A side of the triangle: the edge from the top vertex and, when its far
// corner is the middle vertex, the edge on to the bottom one.
struct scan_chain
{
    scan_edge first, second;
    bool turns;
    int64_t x_at(int32_t y) const
    {
        const scan_edge &edge = (turns && y >= first.y1) ? second : first;
        return edge.x0 + edge.step * (y - edge.y0);
    }
};

struct triangle_geometry
{
    point2d top, v1, v2; // the top vertex, then the corners after it in corner order
    int32_t top_index;
};

triangle_geometry triangle_corners(const point2d screen[3])
{
    int32_t top = 0;
    for (int32_t i = 1; i < 3; ++i)
        if (screen[i].y < screen[top].y) top = i;
    triangle_geometry geometry;
    geometry.top_index = top;
    geometry.top = screen[top];
    geometry.v1 = screen[(top + 1) % 3];
    geometry.v2 = screen[(top + 2) % 3];
    return geometry;
}

// Calls row(y, left, right) for every row of the triangle inside the
// destination that has pixels [left, right), left >= 0, right <= width.  The
// left edge runs to the corner before the top in corner order, the right
// edge to the corner after it, so only clockwise triangles (y downward) have
// pixels.
template <typename Row>
inline __attribute__((always_inline)) void scan_triangle(const bitmap_data *destination, const triangle_geometry &g,
                                                         Row &&row)
{
    const point2d right_end = g.v1, left_end = g.v2;
    scan_chain left, right;
    left.first = make_edge(g.top, left_end);
    left.turns = left_end.y < right_end.y;
    if (left.turns) left.second = make_edge(left_end, right_end);
    right.first = make_edge(g.top, right_end);
    right.turns = right_end.y < left_end.y;
    if (right.turns) right.second = make_edge(right_end, left_end);

    const int32_t y_bottom = std::max(left_end.y, right_end.y);
    const int32_t y_begin = std::max<int32_t>(g.top.y, 0);
    const int32_t y_end = std::min<int32_t>(y_bottom, destination->height);
    for (int32_t y = y_begin; y < y_end; ++y)
    {
        const int64_t x_left = left.x_at(y) >> 16;
        const int64_t x_right = right.x_at(y) >> 16;
        const int32_t pixel_left = (int32_t)std::max<int64_t>(x_left, 0);
        const int32_t pixel_right = (int32_t)std::min<int64_t>(x_right, destination->width);
        if (pixel_left < pixel_right) row(y, pixel_left, pixel_right);
    }
}

// Twice the signed area of the triangle from its top vertex: positive for
// clockwise corners on the screen.
inline int64_t triangle_determinant(const triangle_geometry &g)
{
    const int64_t dx1 = g.v1.x - g.top.x, dy1 = g.v1.y - g.top.y;
    const int64_t dx2 = g.v2.x - g.top.x, dy2 = g.v2.y - g.top.y;
    return dx1 * dy2 - dx2 * dy1;
}

void read_screen_corners(const render_corner corners[3], point2d screen[3])
{
    for (int32_t i = 0; i < 3; ++i) screen[i] = corners[i].vertex->screen;
}

bool corners_present(const render_corner corners[3])
{
    return corners[0].vertex && corners[1].vertex && corners[2].vertex;
}

// Affine interpolant: value at the top vertex plus integer gradients per
// pixel, in wrapping 32-bit arithmetic.
struct affine
{
    uint32_t at_top;
    uint32_t ddx, ddy;
    uint32_t at(int32_t dx, int32_t dy) const { return at_top + (uint32_t)dx * ddx + (uint32_t)dy * ddy; }
};

inline uint32_t clamp_to_int32(double value)
{
    if (!(value > -2147483648.0)) return (uint32_t)INT32_MIN;
    if (!(value < 2147483647.0)) return (uint32_t)INT32_MAX;
    return (uint32_t)(int32_t)value;
}

// ---- mesh triangles ----------------------------------------------------------------------

// secondary_address_offset_table widened to pointer size, so that the inner
// loop adds an offset to a texel address without a sign extension.
const ptrdiff_t wide_secondary_offsets[NUMBER_OF_SECONDARY_ADDRESS_OFFSETS] = {
    -1, -512, -511, -512, -513, 0, 0, 1, -1, 0, 0, 513, 512, 511, 512, 1};

// Both pixels of a pair, each by its own store: cheaper than building the
// pair in a register first.
template <typename pixel>
inline void store_pair(pixel *at, pixel color)
{
    at[0] = color;
    at[1] = color;
}

enum
{
    MESH_PAIRS_PER_RUN = 64, // pairs whose texel addresses are worked out ahead
};

#if VESK_RASTER_VECTOR_ADDRESSES
// The lane offsets of eight consecutive pairs of a triangle's rows: pair k
// of a run starting at (u, v) samples (u + u_lanes[k], v + v_lanes[k]), and
// the next eight start (du8, dv8) further on.
struct mesh_pair_lanes
{
    alignas(32) uint32_t u_lanes[8];
    alignas(32) uint32_t v_lanes[8];
    alignas(32) uint32_t du8[8];
    alignas(32) uint32_t dv8[8];
};

void make_mesh_pair_lanes(mesh_pair_lanes *lanes, uint32_t du2, uint32_t dv2)
{
    for (uint32_t k = 0; k < 8; ++k)
    {
        lanes->u_lanes[k] = k * du2;
        lanes->v_lanes[k] = k * dv2;
        lanes->du8[k] = 8 * du2;
        lanes->dv8[k] = 8 * dv2;
    }
}

// secondary_address_offset_table as 32-bit lanes.
alignas(32) const int32_t secondary_offset_lanes[NUMBER_OF_SECONDARY_ADDRESS_OFFSETS] = {
    -1, -512, -511, -512, -513, 0, 0, 1, -1, 0, 0, 513, 512, 511, 512, 1};

// The texel addresses of `pairs` pairs (rounded up to a multiple of eight),
// eight at a time: first[k] the texel under pair k and second[k] its filter
// partner (filtered only), the run starting at (u, v).  The table lookups
// stay scalar: gathering them is slower than loading them one by one on the
// processors this runs on.
template <bool filtered>
inline __attribute__((target("avx2"))) void mesh_texel_addresses(int32_t *first, int32_t *second, int32_t pairs,
                                                                uint32_t u, uint32_t v, const mesh_pair_lanes &lanes)
{
    const __m256i *lane = reinterpret_cast<const __m256i *>(&lanes);
    __m256i us = _mm256_add_epi32(_mm256_set1_epi32((int)u), _mm256_load_si256(lane + 0));
    __m256i vs = _mm256_add_epi32(_mm256_set1_epi32((int)v), _mm256_load_si256(lane + 1));
    const __m256i u_step = _mm256_load_si256(lane + 2), v_step = _mm256_load_si256(lane + 3);
    const __m256i *offsets = reinterpret_cast<const __m256i *>(secondary_offset_lanes);
    const __m256i offsets_low = _mm256_load_si256(offsets), offsets_high = _mm256_load_si256(offsets + 1);
    for (int32_t k = 0; k < pairs; k += 8)
    {
        // ((v >> 21) & 511) * 512 + ((u >> 21) & 511), as the scalar sample.
        const __m256i index = _mm256_or_si256(_mm256_and_si256(_mm256_srli_epi32(vs, 12), _mm256_set1_epi32(511 << 9)),
                                              _mm256_and_si256(_mm256_srli_epi32(us, 21), _mm256_set1_epi32(511)));
        _mm256_store_si256(reinterpret_cast<__m256i *>(first + k), index);
        if constexpr (filtered)
        {
            const __m256i quarter = _mm256_or_si256(_mm256_and_si256(_mm256_srli_epi32(us, 19), _mm256_set1_epi32(3)),
                                                    _mm256_and_si256(_mm256_srli_epi32(vs, 17), _mm256_set1_epi32(12)));
            // The permutes read the low three bits; bit 3 picks the half.
            const __m256i offset = _mm256_blendv_epi8(_mm256_permutevar8x32_epi32(offsets_low, quarter),
                                                      _mm256_permutevar8x32_epi32(offsets_high, quarter),
                                                      _mm256_cmpgt_epi32(quarter, _mm256_set1_epi32(7)));
            _mm256_store_si256(reinterpret_cast<__m256i *>(second + k), _mm256_add_epi32(index, offset));
        }
        us = _mm256_add_epi32(us, u_step);
        vs = _mm256_add_epi32(vs, v_step);
    }
}

// Whether terrain texel addresses are worked out in vector registers:
// decided at the first use, or set to scalar by a test.
bool use_vector_addresses(void)
{
    rasterizer_globals_data &g = rasterizer_globals;
    if (g.span_method == _spans_undecided)
    {
        __builtin_cpu_init();
        g.span_method =
            __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi2") ? _spans_vector : _spans_scalar;
    }
    return g.span_method == _spans_vector;
}
#else
bool use_vector_addresses(void) { return false; }
#endif

// The colours of `pairs` pairs from their texel addresses, written to both
// pixels of each pair from `out`.
template <class F, bool filtered>
void shade_pairs(typename F::pixel *out, int32_t pairs, const int32_t *first, const int32_t *second,
                 const uint8_t *colors, const uint8_t *shadows, const uint8_t *blend,
                 const typename F::pixel *shading)
{
    for (int32_t k = 0; k < pairs; ++k, out += 2)
    {
        const size_t at = (uint32_t)first[k];
        typename F::pixel color;
        if constexpr (filtered)
        {
            const ptrdiff_t partner = second[k];
            const uint32_t blended = blend[(size_t)colors[partner] * COLOR_MAP_COLORS + colors[at]];
            color = shading[F::color_map_index(shadows[partner], blended)];
        }
        else
            color = shading[F::color_map_index(shadows[at], colors[at])];
        store_pair(out, color);
    }
}

// The rows of a terrain triangle: one colour per pair of pixels, the mode
// fixed per triangle so the inner loop has no branch on it.  The work is
// bound by its instruction count rather than by its lookups (the tables and
// maps stay in the cache): where the processor has vector registers, the
// texel addresses of a run of pairs are worked out eight at a time ahead of
// the lookups; otherwise the scalar loop samples pair by pair, with texel
// addresses in pointer-sized arithmetic.
template <class F, bool filtered, bool vector>
inline __attribute__((always_inline)) void draw_mesh_rows_body(bitmap_data *destination, const triangle_geometry &g,
                                                               const affine &u_of, const affine &v_of,
                                                               const rasterizer_terrain_maps &maps)
{
    typedef typename F::pixel pixel;
    const pixel *shading = static_cast<const pixel *>(maps.shading_table);
    const uint8_t *colors = maps.color_map, *shadows = maps.shadow_map, *blend = maps.blend_table;
#if VESK_RASTER_VECTOR_ADDRESSES
    mesh_pair_lanes lanes;
    if constexpr (vector) make_mesh_pair_lanes(&lanes, u_of.ddx * 2, v_of.ddx * 2);
#endif
    auto sample = [&](uint32_t u, uint32_t v) __attribute__((always_inline)) -> pixel {
        // ((v >> 21) & 511) * 512 + ((u >> 21) & 511)
        const size_t index = ((v >> 12) & (511u << 9)) | ((u >> 21) & 511);
        if constexpr (!filtered) return shading[F::color_map_index(shadows[index], colors[index])];
        // The maps carry a guard row on each side, which the offsets reach.
        const ptrdiff_t second = (ptrdiff_t)index + wide_secondary_offsets[((u >> 19) & 3) | ((v >> 17) & 12)];
        const uint32_t color = blend[(size_t)colors[second] * COLOR_MAP_COLORS + colors[index]];
        return shading[F::color_map_index(shadows[second], color)];
    };

    scan_triangle(destination, g, [&](int32_t y, int32_t left, int32_t right) __attribute__((always_inline)) {
        pixel *row = destination_row<F>(destination, y);
        uint32_t u = u_of.at(left - g.top.x, y - g.top.y), v = v_of.at(left - g.top.x, y - g.top.y);
        const uint32_t du2 = u_of.ddx * 2, dv2 = v_of.ddx * 2;
        pixel *out = row + left;
        pixel color = 0;
        const bool lone_first = right - left == 1 ||
                                (sizeof(pixel) == 2 && (destination_offset(destination, y, left, sizeof(pixel)) & 2));
        if (lone_first)
        {
            color = sample(u, v);
            *out++ = color;
            u += u_of.ddx;
            v += v_of.ddx;
        }
        pixel *const pairs_end = out + ((row + right - out) & ~(ptrdiff_t)1);
#if VESK_RASTER_VECTOR_ADDRESSES
        if constexpr (vector)
        {
            alignas(32) int32_t first[MESH_PAIRS_PER_RUN], second[MESH_PAIRS_PER_RUN];
            while (out != pairs_end)
            {
                const int32_t pairs = (int32_t)std::min<ptrdiff_t>((pairs_end - out) / 2, MESH_PAIRS_PER_RUN);
                mesh_texel_addresses<filtered>(first, second, pairs, u, v, lanes);
                shade_pairs<F, filtered>(out, pairs, first, second, colors, shadows, blend, shading);
                out += 2 * pairs;
                u += (uint32_t)pairs * du2;
                v += (uint32_t)pairs * dv2;
                color = out[-1];
            }
        }
#endif
        for (; out != pairs_end; out += 2, u += du2, v += dv2)
        {
            color = sample(u, v);
            store_pair(out, color);
        }
        if (out != row + right) *out = color; // the odd pixel at the end repeats the last colour
    });
}

template <class F, bool filtered>
void draw_mesh_rows(bitmap_data *destination, const triangle_geometry &g, const affine &u_of, const affine &v_of,
                    const rasterizer_terrain_maps &maps)
{
    draw_mesh_rows_body<F, filtered, false>(destination, g, u_of, v_of, maps);
}

#if VESK_RASTER_VECTOR_ADDRESSES
// The same rows compiled for the vector instructions as a whole, so that the
// address runs are inlined and their constants stay in registers.
template <class F, bool filtered>
__attribute__((target("avx2,bmi2"))) void draw_mesh_rows_vector(bitmap_data *destination, const triangle_geometry &g,
                                                                 const affine &u_of, const affine &v_of,
                                                                 const rasterizer_terrain_maps &maps)
{
    draw_mesh_rows_body<F, filtered, true>(destination, g, u_of, v_of, maps);
}
#endif

template <class F>
void rasterize_mesh_triangle_t(bitmap_data *destination, render_surface *surface)
{
    // The water's triangles read the same maps through the media's table.
    rasterizer_terrain_maps maps = rasterizer_globals.terrain;
    if ((surface_word_flags(surface->packed) & _surface_media_flag) && maps.media_shading_table)
        maps.shading_table = maps.media_shading_table;
    if (!destination_usable<F>(destination) || !maps.color_map || !maps.shadow_map || !maps.shading_table) return;
    render_triangle *triangle = reinterpret_cast<render_triangle *>(surface);
    if (!corners_present(triangle->corners)) return;
    const bool filtered = (surface_word_flags(surface->packed) & _surface_filtered_flag) && maps.blend_table;

    point2d screen[3];
    read_screen_corners(triangle->corners, screen);
    const triangle_geometry g = triangle_corners(screen);
    const int64_t determinant = triangle_determinant(g);
    if (determinant <= 0) return;

    // 8.24 cell coordinates; r = 2^24 / D as the set-up's single division.
    const render_corner *corners = triangle->corners;
    const int32_t t = g.top_index, c1 = (t + 1) % 3, c2 = (t + 2) % 3;
    const int64_t r = ((int64_t)1 << 24) / determinant;
    const int64_t dx1 = g.v1.x - g.top.x, dy1 = g.v1.y - g.top.y;
    const int64_t dx2 = g.v2.x - g.top.x, dy2 = g.v2.y - g.top.y;
    affine interpolants[NUMBER_OF_TEXTURE_INTERPOLANTS];
    for (int32_t k = 0; k < NUMBER_OF_TEXTURE_INTERPOLANTS; ++k)
    {
        const int64_t d1 = (int64_t)corners[c1].interpolants[k] - corners[t].interpolants[k];
        const int64_t d2 = (int64_t)corners[c2].interpolants[k] - corners[t].interpolants[k];
        interpolants[k].at_top = (uint32_t)corners[t].interpolants[k] << 24;
        interpolants[k].ddx = (uint32_t)(uint64_t)((d1 * dy2 - d2 * dy1) * r);
        interpolants[k].ddy = (uint32_t)(uint64_t)((d2 * dx1 - d1 * dx2) * r);
    }
    const affine &u_of = interpolants[_texture_u], &v_of = interpolants[_texture_v];
#if VESK_RASTER_VECTOR_ADDRESSES
    if (use_vector_addresses())
    {
        if (filtered)
            draw_mesh_rows_vector<F, true>(destination, g, u_of, v_of, maps);
        else
            draw_mesh_rows_vector<F, false>(destination, g, u_of, v_of, maps);
        return;
    }
#endif
    if (filtered)
        draw_mesh_rows<F, true>(destination, g, u_of, v_of, maps);
    else
        draw_mesh_rows<F, false>(destination, g, u_of, v_of, maps);
}

// ---- object and model triangles ---------------------------------------------------------

// A flat power-of-two texture whose texels are `texel_size` bytes.
bool flat_texture_usable(const bitmap_data *texture, int32_t texel_size)
{
    if (texture->width <= 0 || texture->height <= 0 || texture->width_bits < 0 || texture->width_bits > 16 ||
        texture->height_bits < 0 || texture->height_bits > 16)
        return false;
    if ((1 << texture->width_bits) != texture->width || (1 << texture->height_bits) != texture->height) return false;
    if (!texture->row_addresses[0]) return false;
    if ((texture->flags & _no_row_address_table_flag) && texture->bytes_per_row < texture->width * texel_size)
        return false;
    return true;
}

// How the texels of a flat texture are drawn: 8-bit indexes drawn opaque
// or through one level table (index 0 is a hole either way), or 16-bit
// texels whose alpha nibble picks the level.
enum textured_texels
{
    _texels_opaque,
    _texels_blended,
    _texels_alpha,
};

// What the rows of one textured triangle read, fixed for the triangle.
template <class F>
struct textured_rows
{
    const typename F::pixel *shading;
    uint32_t u_shift, v_shift, u_mask, v_mask;
    uint32_t transparency;
    const uint8_t *table, *level;
};

// A texture's rows as one block at a fixed stride, or through its row table.
struct texel_rows
{
    const uint8_t *first;
    ptrdiff_t stride;
    const uint8_t *operator()(uint32_t y) const { return first + (ptrdiff_t)y * stride; }
};
struct texel_row_table
{
    uint8_t *const *rows;
    const uint8_t *operator()(uint32_t y) const { return rows[y]; }
};

// The rows of a textured triangle with the texel kind and the row access
// fixed, so that the pixel loop has no branch but the hole test.
template <class F, textured_texels kind, class Rows>
void draw_textured_rows(bitmap_data *destination, const triangle_geometry &g, const affine &u_of, const affine &v_of,
                        const textured_rows<F> &r, Rows texel_row)
{
    typedef typename F::pixel pixel;
    scan_triangle(destination, g, [&](int32_t y, int32_t left, int32_t right) __attribute__((always_inline)) {
        pixel *row = destination_row<F>(destination, y);
        uint32_t u = u_of.at(left - g.top.x, y - g.top.y), v = v_of.at(left - g.top.x, y - g.top.y);
        for (int32_t x = left; x < right; ++x, u += u_of.ddx, v += v_of.ddx)
        {
            const uint8_t *texels = texel_row((v >> r.v_shift) & r.v_mask);
            const uint32_t column = (u >> r.u_shift) & r.u_mask;
            if constexpr (kind == _texels_alpha)
            {
                const uint16_t texel = read_uint16(texels + column * 2);
                const uint32_t texel_level = (uint32_t)(uint16_t)(texel << 4);
                row[x] = F::blend(transparency_level(r.table, std::max(texel_level, r.transparency)), row[x],
                                  r.shading[texel & 0xFF]);
            }
            else
            {
                const uint8_t texel = texels[column];
                if (texel == 0) continue;
                if constexpr (kind == _texels_blended)
                    row[x] = F::blend(r.level, row[x], r.shading[texel]);
                else
                    row[x] = r.shading[texel];
            }
        }
    });
}

template <class F>
void draw_textured_triangle(bitmap_data *destination, render_surface *surface, const render_corner corners[3],
                            const surface_texture &texture, bool alpha_texels)
{
    typedef typename F::pixel pixel;
    const bitmap_data *bitmap = texture.texture;
    const uint8_t *table = surface_transparency_table(surface, bitmap, alpha_texels);
    if (alpha_texels && !table) return;

    point2d screen[3];
    read_screen_corners(corners, screen);
    const triangle_geometry g = triangle_corners(screen);
    const int64_t determinant = triangle_determinant(g);
    if (determinant <= 0) return;

    const int32_t t = g.top_index, c1 = (t + 1) % 3, c2 = (t + 2) % 3;
    const double dx1 = g.v1.x - g.top.x, dy1 = g.v1.y - g.top.y;
    const double dx2 = g.v2.x - g.top.x, dy2 = g.v2.y - g.top.y;
    const double d = (double)determinant;
    affine interpolants[NUMBER_OF_TEXTURE_INTERPOLANTS];
    for (int32_t k = 0; k < NUMBER_OF_TEXTURE_INTERPOLANTS; ++k)
    {
        // 16-bit texture fractions: 65536 is one texture width or height.
        const int32_t top = (uint16_t)corners[t].interpolants[k];
        const double d1 = (double)((int32_t)(uint16_t)corners[c1].interpolants[k] - top);
        const double d2 = (double)((int32_t)(uint16_t)corners[c2].interpolants[k] - top);
        interpolants[k].at_top = (uint32_t)top;
        interpolants[k].ddx = clamp_to_int32((d1 * dy2 - d2 * dy1) / d);
        interpolants[k].ddy = clamp_to_int32((d2 * dx1 - d1 * dx2) / d);
    }
    const affine &u_of = interpolants[_texture_u], &v_of = interpolants[_texture_v];
    textured_rows<F> rows;
    rows.shading = static_cast<const pixel *>(texture.shading_table);
    rows.u_shift = 16 - bitmap->width_bits;
    rows.v_shift = 16 - bitmap->height_bits;
    rows.u_mask = bitmap->width - 1;
    rows.v_mask = bitmap->height - 1;
    rows.transparency = surface->transparency;
    rows.table = table;
    rows.level = table ? transparency_level(table, rows.transparency) : nullptr;
    const bool one_block = bitmap->flags & _no_row_address_table_flag;
    const texel_rows block = {bitmap->row_addresses[0], bitmap->bytes_per_row};
    const texel_row_table listed = {bitmap->row_addresses};
    if (alpha_texels)
        one_block ? draw_textured_rows<F, _texels_alpha>(destination, g, u_of, v_of, rows, block)
                  : draw_textured_rows<F, _texels_alpha>(destination, g, u_of, v_of, rows, listed);
    else if (rows.level)
        one_block ? draw_textured_rows<F, _texels_blended>(destination, g, u_of, v_of, rows, block)
                  : draw_textured_rows<F, _texels_blended>(destination, g, u_of, v_of, rows, listed);
    else
        one_block ? draw_textured_rows<F, _texels_opaque>(destination, g, u_of, v_of, rows, block)
                  : draw_textured_rows<F, _texels_opaque>(destination, g, u_of, v_of, rows, listed);
}

template <class F>
void rasterize_triangle_t(bitmap_data *destination, render_surface *surface)
{
    if (!destination_usable<F>(destination)) return;
    render_triangle *triangle = reinterpret_cast<render_triangle *>(surface);
    if (!corners_present(triangle->corners)) return;
    surface_texture texture;
    if (!get_surface_texture(triangle->bitmap_identifier, &texture)) return;
    const int16_t flags = texture.texture->flags;
    if (!VASSERT(!(flags & _1bit_transparency_encoded_flag), "!(texture->flags&_1bit_transparency_encoded_flag)"))
        return;
    if (!(flags & _power_of_two_flag) || (flags & _4bit_light_mask_encoded_flag)) return;
    const bool alpha_texels = flags & _4bit_transparency_encoded_flag;
    if (!flat_texture_usable(texture.texture, alpha_texels ? 2 : 1)) return;
    draw_textured_triangle<F>(destination, surface, triangle->corners, texture, alpha_texels);
}

template <class F>
void rasterize_model_triangle_t(bitmap_data *destination, render_surface *surface)
{
    if (!destination_usable<F>(destination)) return;
    render_model_triangle *triangle = reinterpret_cast<render_model_triangle *>(surface);
    if (!corners_present(triangle->corners)) return;
    surface_texture texture;
    if (!get_surface_texture(triangle->bitmap_identifier, &texture)) return;
    const int16_t flags = texture.texture->flags;
    if (!VASSERT(!(flags & _1bit_transparency_encoded_flag), "!(texture->flags&_1bit_transparency_encoded_flag)"))
        return;
    // Any other texture would be read as flat power-of-two rows it does not have.
    if (!VASSERT(flags & _power_of_two_flag, "texture->flags&_power_of_two_flag")) return;
    const bool alpha_texels = flags & (_4bit_transparency_encoded_flag | _4bit_light_mask_encoded_flag);
    if (!flat_texture_usable(texture.texture, alpha_texels ? 2 : 1)) return;
    draw_textured_triangle<F>(destination, surface, triangle->corners, texture, alpha_texels);
}

// ---- sprites -----------------------------------------------------------------------------

enum sprite_texel_kind
{
    _sprite_texel_index,      // 8-bit colour index
    _sprite_texel_alpha,      // index, alpha nibble in bits 8-11
    _sprite_texel_light_mask, // index, level in bits 12-15
};

// Walks the spans of one run-length row in order, calling visit(start, end,
// stored) for each, where `stored` counts the texels of the spans before it;
// stops at the first span that does not ascend, overruns the row or claims
// more texels than the row's header holds.
template <class Visit>
void for_each_checked_span(const uint8_t *encoded, int32_t width, Visit visit)
{
    const int32_t span_count = read_int16(encoded);
    const int32_t pixel_count = read_int16(encoded + 2);
    const uint8_t *spans = encoded + sizeof(encoded_span_header);
    int32_t stored = 0, previous_end = 0;
    for (int32_t s = 0; s < span_count; ++s)
    {
        const int32_t start = read_int16(spans + s * sizeof(encoded_span));
        const int32_t end = read_int16(spans + s * sizeof(encoded_span) + 2);
        if (!VASSERT(start >= previous_end && start < end && end <= width && stored + (end - start) <= pixel_count,
                     "texture_start<texture_end"))
            break;
        previous_end = end;
        visit(start, end, stored);
        stored += end - start;
    }
}

// The first screen offset k >= 0 whose texture x, k * step, reaches `texture_x` (16.16).
inline int64_t first_offset_reaching(int64_t texture_x, int64_t step)
{
    return (texture_x * 65536 + step - 1) / step;
}

// The tables of one sprite.
template <class F>
struct sprite_tables
{
    const typename F::pixel *shading;
    const uint8_t *table, *level;
    uint32_t transparency;
};

// The visible pixels of one run of a sprite row: `count` pixels from `out`,
// the first reading texture x texture_x >> 16 (16.16), each next one
// texture_step further.
template <class F>
struct sprite_span
{
    typename F::pixel *out;
    int64_t count, texture_x, texture_step;
    const uint8_t *texels; // the run's stored texels, the first at texture x `start`
    int32_t start;
};

// Draws one run with the texel kind and the blending fixed, so that the
// pixel loop has no branch.
template <class F, sprite_texel_kind kind, bool blended>
void draw_sprite_span(const sprite_span<F> &span, const sprite_tables<F> &r)
{
    typename F::pixel *out = span.out;
    int64_t texture_x = span.texture_x;
    for (int64_t n = 0; n < span.count; ++n, ++out, texture_x += span.texture_step)
    {
        const int32_t tx = (int32_t)(texture_x >> 16) - span.start;
        if constexpr (kind == _sprite_texel_index)
        {
            const uint8_t texel = span.texels[tx];
            *out = blended ? F::blend(r.level, *out, r.shading[texel]) : r.shading[texel];
        }
        else
        {
            const uint16_t texel = read_uint16(span.texels + (size_t)tx * 2);
            const uint32_t texel_level = kind == _sprite_texel_alpha
                                             ? std::max<uint32_t>((uint16_t)(texel << 4), r.transparency)
                                             : (uint32_t)(texel & 0xF000);
            *out = F::blend(transparency_level(r.table, texel_level), *out, r.shading[texel & 0xFF]);
        }
    }
}

template <class F>
void rasterize_rectangle_t(bitmap_data *destination, render_surface *surface)
{
    typedef typename F::pixel pixel;
    if (!destination_usable<F>(destination)) return;
    render_rectangle *rectangle = reinterpret_cast<render_rectangle *>(surface);
    surface_texture texture;
    if (!get_surface_texture(rectangle->bitmap_identifier, &texture)) return;
    const bitmap_data *bitmap = texture.texture;
    if (!(bitmap->flags & _1bit_transparency_encoded_flag) || (bitmap->flags & _no_row_address_table_flag)) return;
    if (bitmap->width <= 0 || bitmap->height <= 0) return;

    if (!VASSERT(rectangle->clip_top < rectangle->clip_bottom, "rectangle->clip_top<rectangle->clip_bottom")) return;
    rectangle->clip_top = std::max<int16_t>(rectangle->clip_top, 0);
    rectangle->clip_bottom = std::min<int16_t>(rectangle->clip_bottom, destination->height);

    const int32_t x0 = rectangle->x0, y0 = rectangle->y0, x1 = rectangle->x1, y1 = rectangle->y1;
    if (x0 >= x1 || y0 >= y1) return;
    const int32_t row_begin = std::max<int32_t>(y0, rectangle->clip_top);
    const int32_t row_end = std::min<int32_t>(y1, rectangle->clip_bottom);
    const int32_t column_begin = std::max(x0, 0), column_end = std::min<int32_t>(x1, destination->width);
    if (row_begin >= row_end || column_begin >= column_end) return;

    const uint32_t flags = surface_word_flags(surface->packed);
    const bool mirror_x = flags & _surface_mirror_horizontal_flag, mirror_y = flags & _surface_mirror_vertical_flag;
    const int32_t width = x1 - x0, height = y1 - y0;
    const int64_t x_step = ((int64_t)bitmap->width * 65536) / width;
    const int64_t y_step = ((int64_t)bitmap->height * 65536) / height;
    if (x_step <= 0) return; // a sprite narrower than one texel per 65536 pixels

    const sprite_texel_kind kind = (bitmap->flags & _4bit_transparency_encoded_flag)  ? _sprite_texel_alpha
                                   : (bitmap->flags & _4bit_light_mask_encoded_flag) ? _sprite_texel_light_mask
                                                                                     : _sprite_texel_index;
    const size_t texel_size = kind == _sprite_texel_index ? 1 : 2;
    const uint8_t *table = surface_transparency_table(surface, bitmap, kind != _sprite_texel_index);
    if (kind != _sprite_texel_index && !table) return;
    const uint32_t transparency = surface->transparency;
    const uint8_t *level = table ? transparency_level(table, transparency) : nullptr;
    const pixel *shading = static_cast<const pixel *>(texture.shading_table);
    const sprite_tables<F> r = {shading, table, level, transparency};

    // Screen offsets [k_begin, k_end) of the rectangle are visible.
    const int64_t k_begin = column_begin - x0, k_end = column_end - x0;
    for (int32_t y = row_begin; y < row_end; ++y)
    {
        const int64_t j = y - y0;
        const int64_t ty = mirror_y ? y_step * (height - j) - 1 : y_step * j;
        const int64_t texture_row = ty >> 16;
        if (!VASSERT(texture_row >= 0 && texture_row < bitmap->height,
                     "FIXED_TO_INTEGER(ty)>=0 && FIXED_TO_INTEGER(ty)<texture->height"))
            continue;
        const uint8_t *encoded = bitmap->row_addresses[texture_row];
        if (!encoded) continue;
        const int32_t span_count = read_int16(encoded);
        const uint8_t *texels =
            encoded + sizeof(encoded_span_header) + (size_t)std::max(span_count, 0) * sizeof(encoded_span);
        pixel *row = destination_row<F>(destination, y);
        for_each_checked_span(encoded, bitmap->width, [&](int32_t start, int32_t end, int32_t stored) {
            const uint8_t *span_texels = texels + (size_t)stored * texel_size;
            // Offsets k whose texture x, (k * step) >> 16, lies in [start, end).
            int64_t first = first_offset_reaching(start, x_step), last = first_offset_reaching(end, x_step);
            if (mirror_x)
            {
                // Mirrored, offset k shows what offset width - 1 - k shows unmirrored.
                const int64_t mirrored_first = width - last;
                last = width - first;
                first = mirrored_first;
            }
            first = std::max(first, k_begin);
            last = std::min(last, k_end);
            if (first >= last) return;
            // Offset k reads texture x (source_k * x_step) >> 16, source_k
            // stepping down when mirrored.
            const int64_t texture_x = (mirror_x ? width - 1 - first : first) * x_step;
            const sprite_span<F> span = {row + x0 + first, last - first, texture_x, mirror_x ? -x_step : x_step,
                                         span_texels, start};
            switch (kind)
            {
            case _sprite_texel_index:
                level ? draw_sprite_span<F, _sprite_texel_index, true>(span, r)
                      : draw_sprite_span<F, _sprite_texel_index, false>(span, r);
                break;
            case _sprite_texel_alpha: draw_sprite_span<F, _sprite_texel_alpha, true>(span, r); break;
            case _sprite_texel_light_mask: draw_sprite_span<F, _sprite_texel_light_mask, true>(span, r); break;
            }
        });
    }
}

// ---- filled rectangles ------------------------------------------------------------------------

template <class F>
void rasterize_filled_rectangle_t(bitmap_data *destination, render_surface *surface)
{
    typedef typename F::pixel pixel;
    if (!destination_usable<F>(destination)) return;
    const render_filled_rectangle *rectangle = reinterpret_cast<const render_filled_rectangle *>(surface);
    const int32_t row_begin = std::max({(int32_t)rectangle->y0, (int32_t)rectangle->clip_top, 0});
    const int32_t row_end = std::min({(int32_t)rectangle->y1, (int32_t)rectangle->clip_bottom,
                                      (int32_t)destination->height});
    const int32_t column_begin = std::max<int32_t>(rectangle->x0, 0);
    const int32_t column_end = std::min<int32_t>(rectangle->x1, destination->width);
    if (row_begin >= row_end || column_begin >= column_end) return;

    const pixel color = F::from_rgb(rectangle->color);
    const uint8_t *table = get_transparency_table(_transparency_normal);
    const uint8_t *level = table ? transparency_level(table, surface->transparency) : nullptr;
    for (int32_t y = row_begin; y < row_end; ++y)
    {
        pixel *row = destination_row<F>(destination, y);
        if (!level)
            std::fill(row + column_begin, row + column_end, color);
        else
            for (int32_t x = column_begin; x < column_end; ++x) row[x] = F::blend(level, row[x], color);
    }
}

// ---- sprite shadows ------------------------------------------------------------------------------

template <class F>
void rasterize_shadow_rectangle_t(bitmap_data *destination, render_surface *surface)
{
    typedef typename F::pixel pixel;
    if (!destination_usable<F>(destination)) return;
    const render_shadow_rectangle *shadow = reinterpret_cast<const render_shadow_rectangle *>(surface);
    const bitmap_data *bitmap = get_bitmap(bitmap_identifier_collection_index(shadow->bitmap_identifier),
                                           bitmap_identifier_bitmap_index(shadow->bitmap_identifier));
    if (!bitmap || !(bitmap->flags & _1bit_transparency_encoded_flag) || (bitmap->flags & _no_row_address_table_flag))
        return;
    if (bitmap->width <= 0 || bitmap->height <= 0) return;
    const int64_t rise = (int64_t)shadow->top_row - shadow->foot_row;
    if (rise == 0) return;
    const uint8_t *table = get_transparency_table(_transparency_normal);
    if (!table) return;
    const uint8_t *level = transparency_level(table, surface->transparency);
    const pixel black = F::from_rgb(rgb_color{0, 0, 0, 0});

    const uint32_t flags = surface_word_flags(surface->packed);
    const bool mirror_x = flags & _surface_mirror_horizontal_flag, mirror_y = flags & _surface_mirror_vertical_flag;
    const int32_t row_begin = std::max({(int32_t)shadow->y0, (int32_t)shadow->clip_top, 0});
    const int32_t row_end = std::min({(int32_t)shadow->y1, (int32_t)shadow->clip_bottom, (int32_t)destination->height});
    for (int32_t y = row_begin; y < row_end; ++y)
    {
        // t, 16.16, runs from 0 on the foot edge to 1 on the top edge at the pixel's centre.
        const int64_t t = ((((int64_t)y << 16) + 32768 - shadow->foot_row) << 16) / rise;
        if (t < 0 || t >= 65536) continue;
        int64_t texture_row = bitmap->height - 1 - ((t * bitmap->height) >> 16);
        if (mirror_y) texture_row = bitmap->height - 1 - texture_row;
        const int64_t left = shadow->foot_left + (((int64_t)shadow->top_left - shadow->foot_left) * t >> 16);
        const int64_t right = shadow->foot_right + (((int64_t)shadow->top_right - shadow->foot_right) * t >> 16);
        if (right - left < 65536) continue;
        const uint8_t *encoded = bitmap->row_addresses[texture_row];
        if (!encoded) continue;
        pixel *row = destination_row<F>(destination, y);
        for_each_checked_span(encoded, bitmap->width, [&](int32_t start, int32_t end, int32_t) {
            const int32_t from = mirror_x ? bitmap->width - end : start, to = mirror_x ? bitmap->width - start : end;
            // Columns whose centres lie over texels [from, to) of the row.
            const int64_t x_from = left + (right - left) * from / bitmap->width;
            const int64_t x_to = left + (right - left) * to / bitmap->width;
            const int32_t first = (int32_t)std::max<int64_t>((x_from + 32767) >> 16, 0);
            const int32_t last = (int32_t)std::min<int64_t>((x_to + 32767) >> 16, destination->width);
            for (int32_t x = first; x < last; ++x) row[x] = F::blend(level, row[x], black);
        });
    }
}

} // namespace

// ---- the named procedures ----------------------------------------------------------------------

#define RASTERIZER_PROCEDURES(suffix, format)                                                                 \
    void rasterize_model_triangle_##suffix(bitmap_data *destination, render_surface *surface)                 \
    {                                                                                                         \
        rasterize_model_triangle_t<format>(destination, surface);                                             \
    }                                                                                                         \
    void rasterize_mesh_triangle_##suffix(bitmap_data *destination, render_surface *surface)                  \
    {                                                                                                         \
        rasterize_mesh_triangle_t<format>(destination, surface);                                              \
    }                                                                                                         \
    void rasterize_triangle_##suffix(bitmap_data *destination, render_surface *surface)                       \
    {                                                                                                         \
        rasterize_triangle_t<format>(destination, surface);                                                   \
    }                                                                                                         \
    void rasterize_rectangle_##suffix(bitmap_data *destination, render_surface *surface)                      \
    {                                                                                                         \
        rasterize_rectangle_t<format>(destination, surface);                                                  \
    }                                                                                                         \
    void rasterize_filled_rectangle_##suffix(bitmap_data *destination, render_surface *surface)               \
    {                                                                                                         \
        rasterize_filled_rectangle_t<format>(destination, surface);                                           \
    }                                                                                                         \
    void rasterize_shadow_rectangle_##suffix(bitmap_data *destination, render_surface *surface)               \
    {                                                                                                         \
        rasterize_shadow_rectangle_t<format>(destination, surface);                                           \
    }                                                                                                         \
    const rasterization_procs procs_##suffix = {rasterize_model_triangle_##suffix,                            \
                                                rasterize_mesh_triangle_##suffix, rasterize_triangle_##suffix, \
                                                rasterize_rectangle_##suffix,                                 \
                                                rasterize_filled_rectangle_##suffix,                          \
                                                rasterize_shadow_rectangle_##suffix};

RASTERIZER_PROCEDURES(16bit_555, format_555)
RASTERIZER_PROCEDURES(16bit_565, format_565)
RASTERIZER_PROCEDURES(32bit, format_32)

const rasterization_procs *get_rasterization_procs(int16_t encoding)
{
    switch (encoding)
    {
    case _16bit_555_encoding:
        rasterizer_globals.unsupported_encoding_logged = false;
        return &procs_16bit_555;
    case _16bit_565_encoding:
        rasterizer_globals.unsupported_encoding_logged = false;
        return &procs_16bit_565;
    case _32bit_encoding:
        rasterizer_globals.unsupported_encoding_logged = false;
        return &procs_32bit;
    default:
        // Logged once until the encoding changes, not every frame.
        if (!rasterizer_globals.unsupported_encoding_logged || rasterizer_globals.last_unsupported_encoding != encoding)
        {
            HALT(nullptr);
            rasterizer_globals.unsupported_encoding_logged = true;
            rasterizer_globals.last_unsupported_encoding = encoding;
        }
        return nullptr;
    }
}

// ---- scenes ------------------------------------------------------------------------------------

static rasterize_surface_procedure procedure_for_subtype(const rasterization_procs *procs, int32_t subtype)
{
    switch (subtype)
    {
    case _surface_subtype_mesh_triangle: return procs->rasterize_mesh_triangle;
    case _surface_subtype_model_triangle: return procs->rasterize_model_triangle;
    case _surface_subtype_object_triangle: return procs->rasterize_triangle;
    case _surface_subtype_object_rectangle: return procs->rasterize_rectangle;
    case _surface_subtype_filled_rectangle: return procs->rasterize_filled_rectangle;
    case _surface_subtype_object_shadow: return procs->rasterize_shadow_rectangle;
    default: return nullptr; // text is drawn by the frame
    }
}

// The terrain the frame's mesh triangles read.
static void take_terrain_maps(void)
{
    rasterizer_terrain_maps &maps = rasterizer_globals.terrain;
    maps.color_map = volatile_color_map();
    maps.shadow_map = volatile_shadow_map();
    maps.shading_table = terrain_maps_globals.volatile_color_map_shading_table;
    maps.media_shading_table = maps.shading_table ? get_color_map_media_shading_table() : nullptr;
    maps.blend_table = terrain_maps_globals.volatile_color_map_blend_table;
}

void rasterize_scene_software(view_data *view, render_surface_list *list)
{
    if (!view || !list || !view->screen) return;
    bitmap_data *destination = view->screen;
    const rasterization_procs *procs = get_rasterization_procs(destination->encoding);
    if (!procs) return;
    take_terrain_maps();

    // Media, then reflections, then every other surface, each far to near.
    const uint32_t pass_flags[3] = {_surface_media_flag, _surface_reflection_flag, 0};
    for (uint32_t wanted : pass_flags)
    {
        for (render_surface *surface = list->last_surface; surface; surface = surface->previous_surface)
        {
            const uint32_t flags = surface_word_flags(surface->packed);
            if (flags & _surface_discarded_flag) continue;
            const bool selected = wanted ? (flags & wanted) != 0
                                         : !(flags & (_surface_media_flag | _surface_reflection_flag));
            if (!selected) continue;
            rasterize_surface_procedure procedure = procedure_for_subtype(procs, surface_word_subtype(surface->packed));
            if (procedure) procedure(destination, surface);
        }
    }
}

// ---- life cycle --------------------------------------------------------------------------------

void initialize_rasterizer(void) {}

bool initialize_rasterizer_for_new_map(void)
{
    rasterizer_globals.terrain = rasterizer_terrain_maps{};
    return true;
}

void dispose_rasterizer_from_old_map(void) { rasterizer_globals.terrain = rasterizer_terrain_maps{}; }

#undef VESK_RASTER_VECTOR_ADDRESSES
#undef RASTERIZER_PROCEDURES
