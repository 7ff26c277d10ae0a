// The 2D drawing primitives and the bitmap copier.  See bitmap_drawing.h.

#include "bitmap_drawing.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "cseries/log.h"
#include "hardware_rasterizer.h"
#include "shading_tables.h"
#include "shapes.h"

const rgb_color rgb_white = {65535, 65535, 65535, 0};
const rgb_color rgb_red = {65535, 0, 0, 0};
const rgb_color rgb_green = {0, 65535, 0, 0};
const rgb_color rgb_blue = {0, 0, 65535, 0};
const rgb_color rgb_black = {0, 0, 0, 0};
const rgb_color rgb_neutral_grey = {0x8000, 0x8000, 0x8000, 0};

const uint8_t tile_rectangle_flags[NUMBER_OF_TILE_RECTANGLE_STATES] = {0, 53, 54, 57, 58, 36, 33, 40, 34};

enum
{
    // Destinations no drawer writes into: run-length, obsolete light-mask,
    // two-byte-pixel and grey-scale bitmaps.
    REFUSED_DESTINATION_FLAGS = _1bit_transparency_encoded_flag | _4bit_light_mask_encoded_flag |
                                _4bit_transparency_encoded_flag | _grayscale_bitmap_flag,
    // copy_bitmap also refuses colour-keyed destinations.
    REFUSED_COPY_DESTINATION_FLAGS = REFUSED_DESTINATION_FLAGS | _bitmap_color_key_transparency_flag,
    TRANSPARENCY_LEVEL_SIZE = 32 * 32,
};

// ---- rectangles ------------------------------------------------------------------------------

rectangle2d *inset_rectangle2d(rectangle2d *r, int16_t dx, int16_t dy)
{
    r->top = (int16_t)(r->top + dy);
    r->left = (int16_t)(r->left + dx);
    r->right = (int16_t)(r->right - dx);
    r->bottom = (int16_t)(r->bottom - dy);
    return r;
}

rectangle2d *offset_rectangle2d(rectangle2d *r, int16_t dx, int16_t dy)
{
    r->left = (int16_t)(r->left + dx);
    r->right = (int16_t)(r->right + dx);
    r->top = (int16_t)(r->top + dy);
    r->bottom = (int16_t)(r->bottom + dy);
    return r;
}

rectangle2d *union_rectangles2d(const rectangle2d *a, const rectangle2d *b, rectangle2d *out)
{
    rectangle2d r;
    r.top = a->top < b->top ? a->top : b->top;
    r.left = a->left < b->left ? a->left : b->left;
    r.bottom = a->bottom > b->bottom ? a->bottom : b->bottom;
    r.right = a->right > b->right ? a->right : b->right;
    *out = r;
    return out;
}

bool intersect_rectangles2d(const rectangle2d *a, const rectangle2d *b, rectangle2d *out)
{
    rectangle2d r;
    r.top = a->top > b->top ? a->top : b->top;
    r.left = a->left > b->left ? a->left : b->left;
    r.bottom = a->bottom < b->bottom ? a->bottom : b->bottom;
    r.right = a->right < b->right ? a->right : b->right;
    if (r.right <= r.left || r.bottom <= r.top)
    {
        *out = rectangle2d{0, 0, 0, 0};
        return false;
    }
    *out = r;
    return true;
}

bool point2d_in_rectangle2d(const rectangle2d *r, const point2d *p)
{
    return p->x >= r->left && p->x < r->right && p->y >= r->top && p->y < r->bottom;
}

bool interior_rectangle2d(const rectangle2d *outer, const rectangle2d *inner)
{
    return inner->left >= outer->left && inner->right <= outer->right && inner->top >= outer->top &&
           inner->bottom <= outer->bottom;
}

bool equal_rectangle2d(const rectangle2d *a, const rectangle2d *b)
{
    return a->top == b->top && a->left == b->left && a->bottom == b->bottom && a->right == b->right;
}

bool equal_point2d(const point2d *a, const point2d *b) { return a->x == b->x && a->y == b->y; }

rectangle2d *scale_rectangle2d(const rectangle2d *bounds, const rectangle2d *source, rectangle2d *destination,
                               short_fixed scale)
{
    const int32_t bw = bounds->right - bounds->left, bh = bounds->bottom - bounds->top;
    const int32_t sw = source->right - source->left, sh = source->bottom - source->top;
    int32_t width, height;
    if ((int64_t)sw * bh <= (int64_t)bw * sh)
    {
        height = bh;
        width = sh ? (int32_t)((int64_t)sw * bh / sh) : 0;
    }
    else
    {
        width = bw;
        height = sw ? (int32_t)((int64_t)bw * sh / sw) : 0;
    }
    width = (width * scale) >> 8;
    height = (height * scale) >> 8;
    rectangle2d r;
    r.top = (int16_t)(bounds->top + (bh - height) / 2);
    r.left = (int16_t)(bounds->left + (bw - width) / 2);
    r.bottom = (int16_t)(r.top + height);
    r.right = (int16_t)(r.left + width);
    *destination = r;
    return destination;
}

rectangle2d *adjust_rectangle2d(const rectangle2d *bounds, const rectangle2d *source, rectangle2d *destination,
                                int32_t mode)
{
    const int32_t bw = bounds->right - bounds->left, bh = bounds->bottom - bounds->top;
    const int32_t sw = source->right - source->left, sh = source->bottom - source->top;
    rectangle2d r = *source;
    const bool horizontal = mode == _adjust_rectangle_center || mode == _adjust_rectangle_hcenter;
    const bool vertical = mode == _adjust_rectangle_center || mode == _adjust_rectangle_vcenter;
    if (horizontal)
    {
        offset_rectangle2d(&r, (int16_t)((bounds->left - source->left) + bw / 2 - sw / 2), 0);
        if (r.left < 0) offset_rectangle2d(&r, (int16_t)-r.left, 0);
    }
    if (vertical)
    {
        offset_rectangle2d(&r, 0, (int16_t)((bounds->top - source->top) + bh / 2 - sh / 2));
        if (r.top < 0) offset_rectangle2d(&r, 0, (int16_t)-r.top);
    }
    if (mode == _adjust_rectangle_alert)
    {
        offset_rectangle2d(&r, (int16_t)((bw - sw) / 2 + (bounds->left - source->left)),
                           (int16_t)((bounds->top - source->top) + (bh - sh) / 3));
    }
    else if (!horizontal && !vertical)
    {
        char text[64];
        snprintf(text, sizeof(text), "adjust_rectangle2d() can't handle mode #%d", (int)mode);
        VPAUSE(text);
    }
    *destination = r;
    return destination;
}

// ---- pixels ----------------------------------------------------------------------------------

static inline uint8_t *row_address(const bitmap_data *bitmap, int32_t y)
{
    return (bitmap->flags & _no_row_address_table_flag)
               ? bitmap->row_addresses[0] + (intptr_t)y * bitmap->bytes_per_row
               : bitmap->row_addresses[y];
}

uint8_t *bitmap_address(const bitmap_data *bitmap, int16_t x, int16_t y)
{
    char text[96];
    if (x < 0 || x >= bitmap->width || y < 0 || y >= bitmap->height)
    {
        snprintf(text, sizeof(text), "(#%d,#%d) not in bitmap %p", x, y, (const void *)bitmap);
        VASSERT(false, text);
        return nullptr;
    }
    if (bitmap->flags & _no_row_address_table_flag)
    {
        if (!ASSERT(!(bitmap->flags & _1bit_transparency_encoded_flag)) ||
            !ASSERT(bitmap->bytes_per_row >= bitmap->width))
            return nullptr;
    }
    uint8_t *row = row_address(bitmap, y);
    if (x == 0) return row;
    if (!ASSERT(!(bitmap->flags & _1bit_transparency_encoded_flag))) return nullptr;
    return row + ((intptr_t)x << bitmap->pixel_upshift);
}

void mirror_bitmap_horizontally(bitmap_data *bitmap)
{
    const bool flat = !(bitmap->flags & _1bit_transparency_encoded_flag);
    if ((bitmap->logical_bit_depth != 8 && bitmap->logical_bit_depth != 16) || bitmap->bytes_per_row == NONE || !flat)
    {
        char text[64];
        snprintf(text, sizeof(text), "couldn't mirror bitmap @%p", (void *)bitmap);
        VPAUSE(text);
        return;
    }
    const int32_t size = bitmap->logical_bit_depth / 8;
    for (int32_t y = 0; y < bitmap->height; ++y)
    {
        uint8_t *row = row_address(bitmap, y);
        for (int32_t a = 0, b = bitmap->width - 1; a < b; ++a, --b)
            for (int32_t k = 0; k < size; ++k)
            {
                const uint8_t t = row[a * size + k];
                row[a * size + k] = row[b * size + k];
                row[b * size + k] = t;
            }
    }
}

// ---- pixel access and blending ---------------------------------------------------------------

static inline uint16_t blend555(uint16_t d, uint16_t s, const uint8_t *t)
{
    return (uint16_t)(t[((d >> 10) & 31) * 32 + ((s >> 10) & 31)] << 10 | t[((d >> 5) & 31) * 32 + ((s >> 5) & 31)] << 5 |
                      t[(d & 31) * 32 + (s & 31)]);
}
// Green blends at 5 bits; its low bit becomes 0.
static inline uint16_t blend565(uint16_t d, uint16_t s, const uint8_t *t)
{
    return (uint16_t)(t[((d >> 11) & 31) * 32 + ((s >> 11) & 31)] << 11 |
                      t[((d >> 6) & 31) * 32 + ((s >> 6) & 31)] << 6 | t[(d & 31) * 32 + (s & 31)]);
}
static inline uint32_t blend32(uint32_t d, uint32_t s, const uint8_t *t)
{
    return 0xFF000000u | (uint32_t)t[((d >> 19) & 31) * 32 + ((s >> 19) & 31)] << 19 |
           (uint32_t)t[((d >> 11) & 31) * 32 + ((s >> 11) & 31)] << 11 |
           (uint32_t)t[((d >> 3) & 31) * 32 + ((s >> 3) & 31)] << 3;
}

static inline uint32_t hardware_color(const rgb_color *color, fixed_fraction transparency)
{
    const uint32_t alpha = 255u - (transparency >> 8);
    return alpha << 24 | (uint32_t)(color->red >> 8) << 16 | (uint32_t)(color->green >> 8) << 8 | (color->blue >> 8);
}

// ---- solid drawing -------------------------------------------------------------------------------

enum solid_mode
{
    _solid_8bit = 0,
    _solid_16bit_555,
    _solid_transparent_16bit_555,
    _solid_16bit_565,
    _solid_transparent_16bit_565,
    _solid_32bit,
    _solid_transparent_32bit,
    _solid_hardware,
};

// What a solid drawer writes: its mode, the packed colour and the table at
// the level in use.
struct solid_pen
{
    int32_t mode;
    uint32_t pixel;
    const uint8_t *table;
};

static void report_bad_encoding(const bitmap_data *bitmap)
{
    char text[64];
    snprintf(text, sizeof(text), "bitmap @%p has bad encoding #%d", (const void *)bitmap, bitmap->encoding);
    HALT(text);
}

// The pen of `destination`; false (after `refusal` when there is one) when
// it cannot be drawn into.  8-bit destinations are taken only by lines.
static bool choose_solid_pen(const bitmap_data *destination, const rgb_color *color, fixed_fraction transparency,
                             const uint8_t *table, bool lines, const char *refusal, solid_pen *pen)
{
    if (!VASSERT(destination && color, "destination && color")) return false;
    if (destination->flags & REFUSED_DESTINATION_FLAGS)
    {
        if (refusal)
        {
            char text[128];
            snprintf(text, sizeof(text), refusal, (const void *)destination, destination->logical_bit_depth,
                     destination->flags);
            VPAUSE(text);
        }
        return false;
    }
    if (is_hardware_encoding(destination->encoding))
    {
        pen->mode = _solid_hardware;
        pen->pixel = hardware_color(color, transparency);
        pen->table = nullptr;
        return true;
    }
    if (lines && destination->logical_bit_depth == 8)
    {
        pen->mode = _solid_8bit;
        pen->pixel = color->red & 0xFF;
        pen->table = nullptr;
        return true;
    }
    switch (destination->encoding)
    {
    case _16bit_555_encoding:
        pen->mode = transparency ? _solid_transparent_16bit_555 : _solid_16bit_555;
        pen->pixel = rgb_color_to_pixel16_555(color);
        break;
    case _16bit_565_encoding:
        pen->mode = transparency ? _solid_transparent_16bit_565 : _solid_16bit_565;
        pen->pixel = rgb_color_to_pixel16_565(color);
        break;
    case _32bit_encoding:
        pen->mode = transparency ? _solid_transparent_32bit : _solid_32bit;
        pen->pixel = rgb_color_to_pixel32(color);
        break;
    default:
        report_bad_encoding(destination);
        return false;
    }
    pen->table = nullptr;
    if (transparency)
    {
        if (!VASSERT(table, "transparency_table")) return false;
        pen->table = table + (transparency >> 12) * TRANSPARENCY_LEVEL_SIZE;
    }
    return true;
}

static inline void plot(uint8_t *row, int32_t x, const solid_pen *pen)
{
    switch (pen->mode)
    {
    case _solid_8bit: row[x] = (uint8_t)pen->pixel; break;
    case _solid_16bit_555:
    case _solid_16bit_565: store_pixel16(row + 2 * x, (uint16_t)pen->pixel); break;
    case _solid_transparent_16bit_555:
        store_pixel16(row + 2 * x, blend555(load_pixel16(row + 2 * x), (uint16_t)pen->pixel, pen->table));
        break;
    case _solid_transparent_16bit_565:
        store_pixel16(row + 2 * x, blend565(load_pixel16(row + 2 * x), (uint16_t)pen->pixel, pen->table));
        break;
    case _solid_32bit: store_pixel32(row + 4 * x, pen->pixel); break;
    case _solid_transparent_32bit: store_pixel32(row + 4 * x, blend32(load_pixel32(row + 4 * x), pen->pixel, pen->table)); break;
    default: break;
    }
}

// Pixels [x0, x1) of one row, the mode chosen once.
static void fill_span(uint8_t *row, int32_t x0, int32_t x1, const solid_pen *pen)
{
    switch (pen->mode)
    {
    case _solid_16bit_555:
    case _solid_16bit_565:
        for (int32_t x = x0; x < x1; ++x) store_pixel16(row + 2 * x, (uint16_t)pen->pixel);
        break;
    case _solid_transparent_16bit_555:
        for (int32_t x = x0; x < x1; ++x) store_pixel16(row + 2 * x, blend555(load_pixel16(row + 2 * x), (uint16_t)pen->pixel, pen->table));
        break;
    case _solid_transparent_16bit_565:
        for (int32_t x = x0; x < x1; ++x) store_pixel16(row + 2 * x, blend565(load_pixel16(row + 2 * x), (uint16_t)pen->pixel, pen->table));
        break;
    case _solid_32bit:
        for (int32_t x = x0; x < x1; ++x) store_pixel32(row + 4 * x, pen->pixel);
        break;
    case _solid_transparent_32bit:
        for (int32_t x = x0; x < x1; ++x) store_pixel32(row + 4 * x, blend32(load_pixel32(row + 4 * x), pen->pixel, pen->table));
        break;
    default:
        for (int32_t x = x0; x < x1; ++x) plot(row, x, pen);
        break;
    }
}

// The clip window: the bitmap within `clip`.
static rectangle2d clip_window(const bitmap_data *destination, const rectangle2d *clip)
{
    rectangle2d w = {0, 0, destination->height, destination->width};
    if (clip)
    {
        if (clip->left > w.left) w.left = clip->left;
        if (clip->top > w.top) w.top = clip->top;
        if (clip->right < w.right) w.right = clip->right;
        if (clip->bottom < w.bottom) w.bottom = clip->bottom;
    }
    return w;
}

// The pixels of the line from `a` to `b`, both ends, in order; `visit`(x, y)
// returns false to stop.
template <typename Visit> static void walk_line(const point2d *a, const point2d *b, Visit visit)
{
    int32_t x = a->x, y = a->y;
    const int32_t x1 = b->x, y1 = b->y;
    const int32_t dx2 = 2 * (x1 > x ? x1 - x : x - x1), dy2 = 2 * (y1 > y ? y1 - y : y - y1);
    const int32_t sx = x1 > x ? 1 : x1 < x ? -1 : 0, sy = y1 > y ? 1 : y1 < y ? -1 : 0;
    if (dy2 < dx2)
    {
        int32_t error = dy2 - dx2 / 2;
        for (;;)
        {
            if (!visit(x, y) || x == x1) break;
            if (error >= 0)
            {
                y += sy;
                error -= dx2;
            }
            x += sx;
            error += dy2;
        }
    }
    else
    {
        int32_t error = dx2 - dy2 / 2;
        for (;;)
        {
            if (!visit(x, y) || y == y1) break;
            if (error >= 0)
            {
                x += sx;
                error -= dy2;
            }
            y += sy;
            error += dx2;
        }
    }
}

void draw_line(bitmap_data *destination, const rgb_color *color, fixed_fraction transparency,
               const uint8_t *transparency_table, const rectangle2d *clip, const point2d *p0, const point2d *p1)
{
    solid_pen pen;
    if (!choose_solid_pen(destination, color, transparency, transparency_table, true,
                          "draw_line() can't handle destination @%p bit depth: %d flags: 0x%x", &pen))
        return;
    // From the upper endpoint (p0 when level) to the other.
    const point2d *a = p0, *b = p1;
    if (p1->y < p0->y)
    {
        a = p1;
        b = p0;
    }
    const rectangle2d w = clip_window(destination, clip);
    const auto inside = [&w](int32_t x, int32_t y) { return x >= w.left && x < w.right && y >= w.top && y < w.bottom; };
    if (b->y < w.top || a->y >= w.bottom || std::max(a->x, b->x) < w.left || std::min(a->x, b->x) >= w.right) return;
    if (pen.mode == _solid_hardware)
    {
        // The back end draws whole lines and knows no clip: it gets the part
        // in the window, from the first to the last pixel this line plots
        // there.  A line meets a rectangle in one piece, so that is all of it.
        if (inside(a->x, a->y) && inside(b->x, b->y))
        {
            draw_line_hardware(destination, pen.pixel, a, b);
            return;
        }
        point2d first = {0, 0}, last = {0, 0};
        bool entered = false;
        walk_line(a, b, [&](int32_t x, int32_t y) {
            if (!inside(x, y)) return !entered;
            if (!entered) first = {(int16_t)x, (int16_t)y};
            last = {(int16_t)x, (int16_t)y};
            entered = true;
            return true;
        });
        if (entered) draw_line_hardware(destination, pen.pixel, &first, &last);
        return;
    }
    walk_line(a, b, [&](int32_t x, int32_t y) {
        if (inside(x, y)) plot(row_address(destination, y), x, &pen);
        return true;
    });
}

void frame_polygon(bitmap_data *destination, const rgb_color *color, const rectangle2d *clip,
                   fixed_fraction transparency, const uint8_t *transparency_table, const point2d *vertices,
                   int16_t vertex_count)
{
    for (int32_t i = 0; i < vertex_count; ++i)
        draw_line(destination, color, transparency, transparency_table, clip, &vertices[i],
                  &vertices[(i + 1) % vertex_count]);
}

void frame_rectangle_clipped(bitmap_data *destination, const rgb_color *color, const rectangle2d *rectangle,
                             const rectangle2d *clip, fixed_fraction transparency, const uint8_t *transparency_table)
{
    const int16_t l = rectangle->left, t = rectangle->top;
    const int16_t r = (int16_t)(rectangle->right - 1), b = (int16_t)(rectangle->bottom - 1);
    const point2d corners[4] = {{l, t}, {r, t}, {r, b}, {l, b}};
    for (int32_t i = 0; i < 4; ++i)
        draw_line(destination, color, transparency, transparency_table, clip, &corners[i], &corners[(i + 1) % 4]);
}

struct polygon_edge
{
    int16_t y0, y1; // first row, row after the last
    fixed x, dx; // 16.16
    polygon_edge *next_vertical_edge;
    polygon_edge *next_horizontal_edge;
};

void fill_polygon(bitmap_data *destination, const rgb_color *color, const rectangle2d *clip,
                  fixed_fraction transparency, const uint8_t *transparency_table, const point2d *vertices,
                  int16_t vertex_count)
{
    solid_pen pen;
    if (!choose_solid_pen(destination, color, transparency, transparency_table, false, nullptr, &pen)) return;
    if (pen.mode == _solid_hardware)
    {
        fill_polygon_hardware(destination, pen.pixel, vertices, vertex_count);
        return;
    }
    if (vertex_count < 1) return;
    if (!VASSERT(vertex_count <= MAXIMUM_EDGES_PER_POLYGON, "vertex_count<=MAXIMUM_EDGES_PER_POLYGON")) return;

    polygon_edge edges[MAXIMUM_EDGES_PER_POLYGON];
    polygon_edge *vertical = nullptr;
    int32_t edge_count = 0;
    for (int32_t i = 0; i < vertex_count; ++i)
    {
        const point2d *from = &vertices[(i + vertex_count - 1) % vertex_count], *to = &vertices[i];
        if (from->y == to->y) continue;
        const point2d *upper = from->y < to->y ? from : to, *lower = from->y < to->y ? to : from;
        polygon_edge *e = &edges[edge_count++];
        e->y0 = upper->y;
        e->y1 = lower->y;
        e->x = (fixed)upper->x << 16;
        e->dx = (fixed)(((int64_t)(lower->x - upper->x) << 16) / (lower->y - upper->y));
        e->next_horizontal_edge = nullptr;
        // In front of the first edge whose y0 is not smaller.
        polygon_edge **link = &vertical;
        while (*link && (*link)->y0 < e->y0) link = &(*link)->next_vertical_edge;
        e->next_vertical_edge = *link;
        *link = e;
    }
    if (!vertical) return;

    const rectangle2d w = clip_window(destination, clip);
    int32_t y = vertical->y0 > 0 ? vertical->y0 : 0;
    if (y < w.top) y = w.top;
    // Every edge's x at the first drawn row.
    for (polygon_edge *e = vertical; e; e = e->next_vertical_edge)
        if (e->y0 < y) e->x += (fixed)((int64_t)e->dx * (y - e->y0));
    for (; y < w.bottom; ++y)
    {
        polygon_edge *active = nullptr;
        for (polygon_edge *e = vertical; e && e->y0 <= y; e = e->next_vertical_edge)
        {
            if (y >= e->y1) continue;
            polygon_edge **link = &active;
            while (*link && (*link)->x < e->x) link = &(*link)->next_horizontal_edge;
            e->next_horizontal_edge = *link;
            *link = e;
        }
        if (!active)
        {
            // Finished unless edges below have not begun yet.
            bool later = false;
            for (polygon_edge *e = vertical; e; e = e->next_vertical_edge)
                if (e->y0 > y) later = true;
            if (!later) break;
            continue;
        }
        uint8_t *row = row_address(destination, y);
        for (polygon_edge *a = active; a && a->next_horizontal_edge; a = a->next_horizontal_edge->next_horizontal_edge)
        {
            int32_t x0 = a->x >> 16, x1 = (int32_t)(((int64_t)a->next_horizontal_edge->x + 0xFFFF) >> 16);
            if (x0 < w.left) x0 = w.left;
            if (x1 > w.right) x1 = w.right;
            if (x0 < x1) fill_span(row, x0, x1, &pen);
        }
        for (polygon_edge *e = active; e; e = e->next_horizontal_edge) e->x += e->dx;
    }
}

void fill_rectangle_clipped(bitmap_data *destination, const rgb_color *color, const rectangle2d *rectangle,
                            const rectangle2d *clip, fixed_fraction transparency, const uint8_t *transparency_table)
{
    if (transparency && !transparency_table) transparency_table = get_transparency_table(_transparency_normal);
    solid_pen pen;
    if (!choose_solid_pen(destination, color, transparency, transparency_table, false,
                          "can't fill_rectangle(%p, ...) depth %d flags 0x%x", &pen))
        return;
    rectangle2d r = *rectangle;
    if (clip && !intersect_rectangles2d(&r, clip, &r)) return;
    if (r.left < 0) r.left = 0;
    if (r.top < 0) r.top = 0;
    if (r.right > destination->width) r.right = destination->width;
    if (r.bottom > destination->height) r.bottom = destination->height;
    if (r.left > destination->width) r.left = destination->width;
    if (r.top > destination->height) r.top = destination->height;
    if (r.right < 0) r.right = 0;
    if (r.bottom < 0) r.bottom = 0;
    if (r.left == r.right) return;
    if (pen.mode == _solid_hardware)
    {
        fill_rectangle_hardware(destination, pen.pixel, r.left, r.right, r.top, r.bottom);
        return;
    }
    if (r.right <= r.left) return;
    for (int32_t y = r.top; y < r.bottom; ++y) fill_span(row_address(destination, y), r.left, r.right, &pen);
}

// ---- copying ---------------------------------------------------------------------------------------

// What a run of one copy mode reads besides its pixels.
struct copy_state
{
    const uint8_t *colors; // 256 destination pixels
    const uint8_t *table; // the transparency table, at the constant level for constant modes
    const uint8_t *levels; // the whole table, for per-pixel levels
    uint32_t transparency; // >> 4, for the constant-and-encoded modes
};
typedef void (*copy_run_procedure)(uint8_t *d, const uint8_t *s, int32_t n, const copy_state *c);

static inline uint16_t color16(const copy_state *c, uint8_t index) { return load_pixel16(c->colors + 2 * index); }
static inline uint32_t color32(const copy_state *c, uint8_t index) { return load_pixel32(c->colors + 4 * index); }

// The level of a two-byte pixel in the constant-and-encoded modes: that of
// the larger of the pixel and the constant, both with the level in bits 8-11.
static inline int32_t combined_level(const uint8_t *s, uint32_t transparency)
{
    const uint32_t value = (uint32_t)s[0] | (uint32_t)s[1] << 8;
    return (int32_t)(((value > transparency ? value : transparency) >> 8) & 15);
}

static void run_bytes(uint8_t *d, const uint8_t *s, int32_t n, const copy_state *) { memcpy(d, s, (size_t)n); }
static void run_8_to_16(uint8_t *d, const uint8_t *s, int32_t n, const copy_state *c)
{
    for (int32_t i = 0; i < n; ++i) store_pixel16(d + 2 * i, color16(c, s[i]));
}
static void run_16_to_16(uint8_t *d, const uint8_t *s, int32_t n, const copy_state *) { memcpy(d, s, (size_t)n * 2); }
static void run_555_to_32(uint8_t *d, const uint8_t *s, int32_t n, const copy_state *)
{
    for (int32_t i = 0; i < n; ++i)
    {
        const uint32_t p = load_pixel16(s + 2 * i);
        store_pixel32(d + 4 * i, 0xFF000000u | ((p >> 10) & 31) << 19 | ((p >> 5) & 31) << 11 | (p & 31) << 3);
    }
}
static void run_565_to_32(uint8_t *d, const uint8_t *s, int32_t n, const copy_state *)
{
    for (int32_t i = 0; i < n; ++i)
    {
        const uint32_t p = load_pixel16(s + 2 * i);
        store_pixel32(d + 4 * i, 0xFF000000u | ((p >> 11) & 31) << 19 | ((p >> 6) & 31) << 11 | (p & 31) << 3);
    }
}
static void run_32_to_555(uint8_t *d, const uint8_t *s, int32_t n, const copy_state *)
{
    for (int32_t i = 0; i < n; ++i)
    {
        const uint32_t p = load_pixel32(s + 4 * i);
        store_pixel16(d + 2 * i, (uint16_t)(((p >> 19) & 31) << 10 | ((p >> 11) & 31) << 5 | ((p >> 3) & 31)));
    }
}
static void run_32_to_565(uint8_t *d, const uint8_t *s, int32_t n, const copy_state *)
{
    for (int32_t i = 0; i < n; ++i)
    {
        const uint32_t p = load_pixel32(s + 4 * i);
        store_pixel16(d + 2 * i, (uint16_t)(((p >> 19) & 31) << 11 | ((p >> 11) & 31) << 6 | ((p >> 3) & 31)));
    }
}
static void run_555_to_565(uint8_t *d, const uint8_t *s, int32_t n, const copy_state *)
{
    for (int32_t i = 0; i < n; ++i)
    {
        const uint16_t p = load_pixel16(s + 2 * i);
        store_pixel16(d + 2 * i, (uint16_t)((p & 0x7FE0) << 1 | (p & 0x3F)));
    }
}
static void run_565_to_555(uint8_t *d, const uint8_t *s, int32_t n, const copy_state *)
{
    for (int32_t i = 0; i < n; ++i)
    {
        const uint16_t p = load_pixel16(s + 2 * i);
        store_pixel16(d + 2 * i, (uint16_t)(((p >> 1) & 0x7FE0) | (p & 0x1F)));
    }
}
static void run_16_blend_565(uint8_t *d, const uint8_t *s, int32_t n, const copy_state *c)
{
    for (int32_t i = 0; i < n; ++i) store_pixel16(d + 2 * i, blend565(load_pixel16(d + 2 * i), load_pixel16(s + 2 * i), c->table));
}
static void run_16_blend_555(uint8_t *d, const uint8_t *s, int32_t n, const copy_state *c)
{
    for (int32_t i = 0; i < n; ++i) store_pixel16(d + 2 * i, blend555(load_pixel16(d + 2 * i), load_pixel16(s + 2 * i), c->table));
}
static void run_8_blend_555(uint8_t *d, const uint8_t *s, int32_t n, const copy_state *c)
{
    for (int32_t i = 0; i < n; ++i) store_pixel16(d + 2 * i, blend555(load_pixel16(d + 2 * i), color16(c, s[i]), c->table));
}
static void run_8_blend_565(uint8_t *d, const uint8_t *s, int32_t n, const copy_state *c)
{
    for (int32_t i = 0; i < n; ++i) store_pixel16(d + 2 * i, blend565(load_pixel16(d + 2 * i), color16(c, s[i]), c->table));
}
static void run_8_key_to_16(uint8_t *d, const uint8_t *s, int32_t n, const copy_state *c)
{
    for (int32_t i = 0; i < n; ++i)
        if (s[i]) store_pixel16(d + 2 * i, color16(c, s[i]));
}
static void run_8_key_blend_555(uint8_t *d, const uint8_t *s, int32_t n, const copy_state *c)
{
    for (int32_t i = 0; i < n; ++i)
        if (s[i]) store_pixel16(d + 2 * i, blend555(load_pixel16(d + 2 * i), color16(c, s[i]), c->table));
}
static void run_8_key_blend_565(uint8_t *d, const uint8_t *s, int32_t n, const copy_state *c)
{
    for (int32_t i = 0; i < n; ++i)
        if (s[i]) store_pixel16(d + 2 * i, blend565(load_pixel16(d + 2 * i), color16(c, s[i]), c->table));
}
static void run_encoded_555(uint8_t *d, const uint8_t *s, int32_t n, const copy_state *c)
{
    for (int32_t i = 0; i < n; ++i, s += 2)
    {
        const int32_t level = s[1] & 15;
        const uint16_t color = color16(c, s[0]);
        store_pixel16(d + 2 * i, level ? blend555(load_pixel16(d + 2 * i), color, c->levels + level * TRANSPARENCY_LEVEL_SIZE) : color);
    }
}
static void run_encoded_565(uint8_t *d, const uint8_t *s, int32_t n, const copy_state *c)
{
    for (int32_t i = 0; i < n; ++i, s += 2)
    {
        const int32_t level = s[1] & 15;
        const uint16_t color = color16(c, s[0]);
        store_pixel16(d + 2 * i, level ? blend565(load_pixel16(d + 2 * i), color, c->levels + level * TRANSPARENCY_LEVEL_SIZE) : color);
    }
}
static void run_constant_encoded_555(uint8_t *d, const uint8_t *s, int32_t n, const copy_state *c)
{
    for (int32_t i = 0; i < n; ++i, s += 2)
    {
        const int32_t level = combined_level(s, c->transparency);
        const uint16_t color = color16(c, s[0]);
        store_pixel16(d + 2 * i, level ? blend555(load_pixel16(d + 2 * i), color, c->levels + level * TRANSPARENCY_LEVEL_SIZE) : color);
    }
}
static void run_constant_encoded_565(uint8_t *d, const uint8_t *s, int32_t n, const copy_state *c)
{
    for (int32_t i = 0; i < n; ++i, s += 2)
    {
        const int32_t level = combined_level(s, c->transparency);
        const uint16_t color = color16(c, s[0]);
        store_pixel16(d + 2 * i, level ? blend565(load_pixel16(d + 2 * i), color, c->levels + level * TRANSPARENCY_LEVEL_SIZE) : color);
    }
}
static void run_8_to_32(uint8_t *d, const uint8_t *s, int32_t n, const copy_state *c)
{
    for (int32_t i = 0; i < n; ++i) store_pixel32(d + 4 * i, color32(c, s[i]));
}
static void run_8_key_to_32(uint8_t *d, const uint8_t *s, int32_t n, const copy_state *c)
{
    for (int32_t i = 0; i < n; ++i)
        if (s[i]) store_pixel32(d + 4 * i, color32(c, s[i]));
}
static void run_32_to_32(uint8_t *d, const uint8_t *s, int32_t n, const copy_state *) { memcpy(d, s, (size_t)n * 4); }
static void run_32_blend_32(uint8_t *d, const uint8_t *s, int32_t n, const copy_state *c)
{
    for (int32_t i = 0; i < n; ++i) store_pixel32(d + 4 * i, blend32(load_pixel32(d + 4 * i), load_pixel32(s + 4 * i), c->table));
}
static void run_8_blend_32(uint8_t *d, const uint8_t *s, int32_t n, const copy_state *c)
{
    for (int32_t i = 0; i < n; ++i) store_pixel32(d + 4 * i, blend32(load_pixel32(d + 4 * i), color32(c, s[i]), c->table));
}
static void run_8_key_blend_32(uint8_t *d, const uint8_t *s, int32_t n, const copy_state *c)
{
    for (int32_t i = 0; i < n; ++i)
        if (s[i]) store_pixel32(d + 4 * i, blend32(load_pixel32(d + 4 * i), color32(c, s[i]), c->table));
}
static void run_encoded_32(uint8_t *d, const uint8_t *s, int32_t n, const copy_state *c)
{
    for (int32_t i = 0; i < n; ++i, s += 2)
    {
        const int32_t level = s[1] & 15;
        const uint32_t color = color32(c, s[0]);
        store_pixel32(d + 4 * i, level ? blend32(load_pixel32(d + 4 * i), color, c->levels + level * TRANSPARENCY_LEVEL_SIZE) : color);
    }
}
static void run_constant_encoded_32(uint8_t *d, const uint8_t *s, int32_t n, const copy_state *c)
{
    for (int32_t i = 0; i < n; ++i, s += 2)
    {
        const int32_t level = combined_level(s, c->transparency);
        const uint32_t color = color32(c, s[0]);
        store_pixel32(d + 4 * i, level ? blend32(load_pixel32(d + 4 * i), color, c->levels + level * TRANSPARENCY_LEVEL_SIZE) : color);
    }
}
static void run_555_to_24(uint8_t *d, const uint8_t *s, int32_t n, const copy_state *)
{
    for (int32_t i = 0; i < n; ++i, d += 3)
    {
        const uint16_t p = load_pixel16(s + 2 * i);
        d[0] = (uint8_t)(((p >> 10) & 31) << 3);
        d[1] = (uint8_t)(((p >> 5) & 31) << 3);
        d[2] = (uint8_t)((p & 31) << 3);
    }
}
static void run_565_to_24(uint8_t *d, const uint8_t *s, int32_t n, const copy_state *)
{
    for (int32_t i = 0; i < n; ++i, d += 3)
    {
        const uint16_t p = load_pixel16(s + 2 * i);
        d[0] = (uint8_t)(((p >> 11) & 31) << 3);
        d[1] = (uint8_t)(((p >> 6) & 31) << 3);
        d[2] = (uint8_t)((p & 31) << 3);
    }
}
static void run_32_to_24(uint8_t *d, const uint8_t *s, int32_t n, const copy_state *)
{
    for (int32_t i = 0; i < n; ++i, d += 3)
    {
        const uint32_t p = load_pixel32(s + 4 * i);
        d[0] = (uint8_t)(p >> 16);
        d[1] = (uint8_t)(p >> 8);
        d[2] = (uint8_t)p;
    }
}

static const copy_run_procedure copy_runs[NUMBER_OF_COPY_BITMAP_MODES] = {
    nullptr, run_bytes, run_8_to_16, run_16_to_16, run_555_to_32, run_565_to_32, run_32_to_555, run_32_to_565,
    run_555_to_565, run_565_to_555, run_16_blend_565, run_16_blend_555, run_8_blend_555, run_encoded_555,
    run_8_key_to_16, run_8_key_blend_555, run_constant_encoded_555, run_8_blend_565, run_8_key_blend_565,
    run_encoded_565, run_constant_encoded_565, run_8_to_32, run_8_key_to_32, run_32_to_32, run_32_blend_32,
    run_8_blend_32, run_8_key_blend_32, run_encoded_32, run_constant_encoded_32, run_555_to_24, run_565_to_24,
    run_32_to_24,
};

// Modes that read the source's colour table, and those blending at a
// constant level.
static bool mode_reads_colors(int32_t mode)
{
    switch (mode)
    {
    case _copy_8bit_to_16bit: case _copy_8bit_transparency_to_16bit_555:
    case _copy_8bit_encoded_transparency_to_16bit_555: case _copy_8bit_to_16bit_color_key:
    case _copy_8bit_transparency_to_16bit_555_color_key: case _copy_8bit_constant_and_encoded_transparency_to_16bit_555:
    case _copy_8bit_transparency_to_16bit_565: case _copy_8bit_transparency_to_16bit_565_color_key:
    case _copy_8bit_encoded_transparency_to_16bit_565: case _copy_8bit_constant_and_encoded_transparency_to_16bit_565:
    case _copy_8bit_to_32bit: case _copy_8bit_to_32bit_color_key: case _copy_8bit_transparency_to_32bit:
    case _copy_8bit_transparency_to_32bit_color_key: case _copy_8bit_encoded_transparency_to_32bit:
    case _copy_8bit_constant_and_encoded_transparency_to_32bit:
        return true;
    default:
        return false;
    }
}

static bool mode_reads_table(int32_t mode)
{
    switch (mode)
    {
    case _copy_16bit_transparency_to_16bit_565: case _copy_16bit_transparency_to_16bit_555:
    case _copy_8bit_transparency_to_16bit_555: case _copy_8bit_transparency_to_16bit_555_color_key:
    case _copy_8bit_transparency_to_16bit_565: case _copy_8bit_transparency_to_16bit_565_color_key:
    case _copy_32bit_transparency_to_32bit: case _copy_8bit_transparency_to_32bit:
    case _copy_8bit_transparency_to_32bit_color_key: case _copy_8bit_encoded_transparency_to_16bit_555:
    case _copy_8bit_constant_and_encoded_transparency_to_16bit_555: case _copy_8bit_encoded_transparency_to_16bit_565:
    case _copy_8bit_constant_and_encoded_transparency_to_16bit_565: case _copy_8bit_encoded_transparency_to_32bit:
    case _copy_8bit_constant_and_encoded_transparency_to_32bit:
        return true;
    default:
        return false;
    }
}

// The mode, or NONE with `why` saying what to log (null: nothing more than
// the generic refusal).
static int32_t choose_mode(const bitmap_data *destination, const bitmap_data *source, bool has_colors,
                           fixed_fraction transparency, char *why, size_t why_size)
{
    why[0] = 0;
    if (is_hardware_encoding(destination->encoding)) return _copy_to_hardware;
    const int32_t special = source->flags & (_4bit_transparency_encoded_flag | _grayscale_bitmap_flag);
    const bool per_pixel = (source->flags & _4bit_transparency_encoded_flag) &&
                           !(source->flags & (_grayscale_bitmap_flag | _bitmap_color_key_transparency_flag));
    const int32_t source_depth = source->logical_bit_depth;
    const int32_t encoded = transparency >> 4;
    const bool plain_8bit_source = source_depth == 8 && !special;
    int32_t mode = NONE;
    switch (destination->logical_bit_depth)
    {
    case 8:
        if (destination->encoding != _8bit_encoding)
        {
            snprintf(why, why_size, "bitmap @%p has bad encoding #%d", (const void *)destination, destination->encoding);
            return NONE;
        }
        // Only single-byte sources can be copied byte for byte.
        if (plain_8bit_source && source->pixel_upshift == 0) mode = _copy_8bit_to_8bit;
        break;
    case 16:
    {
        const bool is_555 = destination->encoding == _16bit_555_encoding;
        if (!is_555 && destination->encoding != _16bit_565_encoding)
        {
            snprintf(why, why_size, "bitmap @%p has bad encoding #%d", (const void *)destination, destination->encoding);
            return NONE;
        }
        if (source_depth == 32) mode = is_555 ? _copy_32bit_to_16bit_555 : _copy_32bit_to_16bit_565;
        else if (!special)
        {
            if (!transparency)
            {
                if (source_depth == 8) mode = _copy_8bit_to_16bit;
                else if (source_depth == 16)
                {
                    if (source->encoding == _16bit_555_encoding && !is_555) mode = _copy_16bit_555_to_16bit_565;
                    else if (source->encoding == _16bit_565_encoding && is_555) mode = _copy_16bit_565_to_16bit_555;
                    else mode = _copy_16bit_to_16bit;
                }
            }
            else if (source_depth == 8) mode = is_555 ? _copy_8bit_transparency_to_16bit_555 : _copy_8bit_transparency_to_16bit_565;
            else if (source_depth == 16)
                mode = is_555 ? _copy_16bit_transparency_to_16bit_555 : _copy_16bit_transparency_to_16bit_565;
        }
        else if (per_pixel)
        {
            if (is_555) mode = encoded ? _copy_8bit_constant_and_encoded_transparency_to_16bit_555 : _copy_8bit_encoded_transparency_to_16bit_555;
            else mode = encoded ? _copy_8bit_constant_and_encoded_transparency_to_16bit_565 : _copy_8bit_encoded_transparency_to_16bit_565;
        }
        break;
    }
    case 24:
        if (source_depth == 16 && source->encoding == _16bit_555_encoding) mode = _copy_16bit_555_to_24bit;
        else if (source_depth == 16 && source->encoding == _16bit_565_encoding) mode = _copy_16bit_565_to_24bit;
        else if (source_depth == 32) mode = _copy_32bit_to_24bit;
        else
        {
            snprintf(why, why_size, "Tried to copy %d bit source to 24 bit dest.  Why did we try to do this?", source_depth);
            return NONE;
        }
        break;
    case 32:
        if (!special)
        {
            if (!transparency)
            {
                if (source_depth == 16 && source->encoding == _16bit_555_encoding) mode = _copy_16bit_555_to_32bit;
                else if (source_depth == 16 && source->encoding == _16bit_565_encoding) mode = _copy_16bit_565_to_32bit;
                else if (source_depth == 32) mode = _copy_32bit_to_32bit;
                else if (source_depth == 8) mode = _copy_8bit_to_32bit;
                else
                {
                    snprintf(why, why_size, "Tried to copy %d bit source to 32 bit dest.  Why did we try to do this?", source_depth);
                    return NONE;
                }
            }
            else if (destination->encoding == _32bit_encoding)
            {
                if (source_depth == 8) mode = _copy_8bit_transparency_to_32bit;
                else if (source_depth == 32) mode = _copy_32bit_transparency_to_32bit;
            }
        }
        else if (per_pixel)
            mode = encoded ? _copy_8bit_constant_and_encoded_transparency_to_32bit : _copy_8bit_encoded_transparency_to_32bit;
        break;
    default:
        break;
    }
    if (mode == NONE) return NONE;
    if (source->flags & _bitmap_color_key_transparency_flag)
    {
        switch (mode)
        {
        case _copy_8bit_to_16bit: mode = _copy_8bit_to_16bit_color_key; break;
        case _copy_8bit_transparency_to_16bit_555: mode = _copy_8bit_transparency_to_16bit_555_color_key; break;
        case _copy_8bit_transparency_to_16bit_565: mode = _copy_8bit_transparency_to_16bit_565_color_key; break;
        case _copy_8bit_to_32bit: mode = _copy_8bit_to_32bit_color_key; break;
        case _copy_8bit_transparency_to_32bit: mode = _copy_8bit_transparency_to_32bit_color_key; break;
        default: break;
        }
    }
    // An 8-bit source is coloured through its table: without one it cannot be drawn.
    if (mode_reads_colors(mode) && !has_colors)
    {
        snprintf(why, why_size, "copy_bitmap(): no colour table for the 8-bit source @%p", (const void *)source);
        return NONE;
    }
    return mode;
}

int32_t choose_copy_bitmap_mode(const bitmap_data *destination, const bitmap_data *source, bool has_color_table,
                                fixed_fraction transparency)
{
    if (destination->flags & REFUSED_COPY_DESTINATION_FLAGS) return NONE;
    char why[160];
    return choose_mode(destination, source, has_color_table, transparency, why, sizeof(why));
}

void copy_bitmap(bitmap_data *destination, const point2d *destination_point, const bitmap_data *source,
                 const rectangle2d *clip, const void *source_color_table, fixed_fraction transparency,
                 const uint8_t *transparency_table)
{
    char text[192];
    if (!VASSERT(destination && source, "destination && source")) return;
    const point2d origin = destination_point ? *destination_point : point2d{0, 0};

    // The window, and the part of the source that lands in it.
    rectangle2d window = {0, 0, destination->height, destination->width};
    if (clip && !intersect_rectangles2d(&window, clip, &window)) return;
    const rectangle2d placed = {origin.y, origin.x, (int16_t)(origin.y + source->height),
                                (int16_t)(origin.x + source->width)};
    rectangle2d target;
    if (!intersect_rectangles2d(&window, &placed, &target)) return;
    const rectangle2d source_rectangle = {(int16_t)(target.top - origin.y), (int16_t)(target.left - origin.x),
                                          (int16_t)(target.bottom - origin.y), (int16_t)(target.right - origin.x)};
    const point2d adjusted = {target.left, target.top};

    // Run-length and two-byte-pixel destinations would be written as flat rows.
    if (destination->flags & REFUSED_COPY_DESTINATION_FLAGS)
    {
        snprintf(text, sizeof(text), "copy_bitmap(%p depth=%d, %p depth=%d) not supported", (void *)destination,
                 destination->logical_bit_depth, (const void *)source, source->logical_bit_depth);
        VPAUSE(text);
        return;
    }
    if (((destination->flags & _no_row_address_table_flag) && destination->bytes_per_row == NONE) ||
        ((source->flags & _no_row_address_table_flag) && source->bytes_per_row == NONE))
    {
        VASSERT(false, "a bitmap without row table has no row size");
        return;
    }
    if ((transparency || (source->flags & _4bit_transparency_encoded_flag)) && !transparency_table)
    {
        VASSERT(false, "(!transparency && !(source->flags&_4bit_transparency_encoded_flag)) || transparency_table");
        return;
    }

    char why[160];
    const int32_t mode = choose_mode(destination, source, source_color_table != nullptr, transparency, why, sizeof(why));
    if (mode == NONE)
    {
        if (why[0])
        {
            if (strncmp(why, "bitmap @", 8) == 0 || strncmp(why, "Tried", 5) == 0) HALT(why);
            else VPAUSE(why);
        }
        snprintf(text, sizeof(text), "copy_bitmap(%p depth=%d, %p depth=%d) not supported", (void *)destination,
                 destination->logical_bit_depth, (const void *)source, source->logical_bit_depth);
        VPAUSE(text);
        return;
    }
    if (mode == _copy_to_hardware)
    {
        copy_bitmap_hardware(destination, source, source_color_table, &source_rectangle, &adjusted, transparency);
        return;
    }

    copy_state state;
    state.colors = (const uint8_t *)source_color_table;
    state.levels = transparency_table;
    state.table = transparency_table && mode_reads_table(mode)
                      ? transparency_table + (transparency >> 12) * TRANSPARENCY_LEVEL_SIZE
                      : transparency_table;
    state.transparency = (uint32_t)(transparency >> 4);
    const copy_run_procedure run = copy_runs[mode];
    const int32_t source_upshift = source->pixel_upshift;
    const int32_t destination_bytes = destination->logical_bit_depth / 8;
    const bool run_length = (source->flags & _1bit_transparency_encoded_flag) != 0;
    const int32_t left = source_rectangle.left, right = source_rectangle.right;

    for (int32_t y = source_rectangle.top; y < source_rectangle.bottom; ++y)
    {
        uint8_t *destination_row = row_address(destination, adjusted.y + (y - source_rectangle.top));
        const uint8_t *source_row = row_address(source, y);
        if (!run_length)
        {
            run(destination_row + (intptr_t)adjusted.x * destination_bytes, source_row + ((intptr_t)left << source_upshift),
                right - left, &state);
            continue;
        }
        encoded_span_header header;
        memcpy(&header, source_row, sizeof(header));
        const uint8_t *spans = source_row + sizeof(header);
        const uint8_t *pixels = spans + 4 * (intptr_t)header.span_count;
        for (int32_t k = 0; k < header.span_count; ++k)
        {
            encoded_span span;
            memcpy(&span, spans + 4 * k, sizeof(span));
            if (span.start >= right) break;
            const int32_t length = span.end - span.start;
            const int32_t start = span.start > left ? span.start : left;
            const int32_t end = span.end < right ? span.end : right;
            if (end > start)
                run(destination_row + (intptr_t)(adjusted.x + (start - left)) * destination_bytes,
                    pixels + ((intptr_t)(start - span.start) << source_upshift), end - start, &state);
            pixels += (intptr_t)(length > 0 ? length : 0) << source_upshift;
        }
    }
}

// ---- sprites of collections ---------------------------------------------------------------------------

static int32_t hue_change_count(int32_t collection_index)
{
    int32_t count = 0;
    get_collection_hue_changes(collection_index, &count);
    return count;
}

void draw_bitmap_from_sequence(bitmap_data *destination, int32_t collection_index, int32_t sequence_index,
                               int32_t view_index, int32_t bitmap_index, rectangle2d *frame, const rectangle2d *clip,
                               const void *replacement_colors_or_shading_table, fixed_fraction transparency,
                               int32_t transparency_mode, uint32_t flags, int16_t inset)
{
    point2d registration = {0, 0};
    bitmap_data *bitmap =
        get_sequence_bitmap(collection_index, sequence_index, view_index, bitmap_index, &registration, nullptr);
    if (!bitmap) return;
    const void *table = replacement_colors_or_shading_table;
    if (!(flags & _draw_bitmap_explicit_shading_table_provided_flag))
    {
        const rgb_color *colors = (const rgb_color *)replacement_colors_or_shading_table;
        table = temporary_shading_table(collection_index, colors, colors ? hue_change_count(collection_index) : 0, true);
        if (!table) return;
    }
    const uint8_t *transparency_table = get_transparency_table(transparency_mode);
    const int32_t width = bitmap->width, height = bitmap->height;
    int32_t x, y;
    if (flags & _draw_bitmap_right_justified_flag) x = frame->right - width - inset;
    else if (flags & _draw_bitmap_left_justified_flag) x = frame->left + inset;
    else x = frame->left + (frame->right - frame->left) / 2 - width / 2;
    if (flags & _draw_bitmap_top_justified_flag) y = frame->top + inset;
    else if (flags & _draw_bitmap_bottom_justified_flag) y = frame->bottom - height - inset;
    else y = frame->top + (frame->bottom - frame->top) / 2 - height / 2;
    if (flags & _draw_bitmap_respect_registration_point_flag)
    {
        x += width / 2 - registration.x;
        y += height / 2 - registration.y;
    }
    if (flags & _draw_bitmap_return_adjusted_bounds_flag)
        *frame = rectangle2d{(int16_t)y, (int16_t)x, (int16_t)(y + height), (int16_t)(x + width)};
    const point2d point = {(int16_t)x, (int16_t)y};
    copy_bitmap(destination, &point, bitmap, clip, table, transparency, transparency_table);
}

void tile_and_bevel_rectangle(bitmap_data *destination, int32_t collection_index, int32_t sequence_index,
                              int32_t view_index, const rectangle2d *bounds, const rectangle2d *clip,
                              const rgb_color *replacement_colors, fixed_fraction transparency,
                              int32_t transparency_mode, const int16_t *tile_state_map)
{
    const void *table = temporary_shading_table(collection_index, replacement_colors,
                                                replacement_colors ? hue_change_count(collection_index) : 0, true);
    if (!table) return;
    const uint8_t *transparency_table = get_transparency_table(transparency_mode);
    rectangle2d tile_clip = *bounds;
    if (clip && !intersect_rectangles2d(&tile_clip, clip, &tile_clip)) return;
    if (tile_clip.right <= tile_clip.left || tile_clip.bottom <= tile_clip.top) return;

    // Insets of each edge, recorded by the corners: the top and bottom edges
    // run from [0] to [1] across, the left and right edges from [0] to [1] down.
    int16_t top_edge[2] = {bounds->left, bounds->right}, bottom_edge[2] = {bounds->left, bounds->right};
    int16_t left_edge[2] = {bounds->top, bounds->bottom}, right_edge[2] = {bounds->top, bounds->bottom};

    int32_t count = count_sequence_bitmaps(collection_index, sequence_index, _count_frames_per_view);
    if (count > NUMBER_OF_TILE_RECTANGLE_STATES) count = NUMBER_OF_TILE_RECTANGLE_STATES;
    for (int32_t i = 0; i < count; ++i)
    {
        const int32_t state = tile_state_map ? tile_state_map[i] : i;
        if (state < 0 || state >= NUMBER_OF_TILE_RECTANGLE_STATES) continue;
        const bitmap_data *tile = get_sequence_bitmap(collection_index, sequence_index, view_index, state, nullptr, nullptr);
        if (!tile || tile->width <= 0 || tile->height <= 0) continue;
        const uint8_t flags = tile_rectangle_flags[state];
        const int32_t w = tile->width, h = tile->height;
        rectangle2d area = *bounds;
        if (flags & _tile_rectangle_top_justified_flag) area.bottom = (int16_t)(bounds->top + h);
        else if (flags & _tile_rectangle_bottom_justified_flag) area.top = (int16_t)(bounds->bottom - h);
        if (flags & _tile_rectangle_left_justified_flag) area.right = (int16_t)(bounds->left + w);
        else if (flags & _tile_rectangle_right_justified_flag) area.left = (int16_t)(bounds->right - w);
        // The insets narrow the area and never widen it: a corner, justified
        // both ways, keeps to its own corner instead of running the length of
        // its edge (and leaving no room for the opposite corner and the bevel).
        if (flags & _tile_rectangle_respect_bevel_inset_flag)
        {
            const int16_t *edge = nullptr;
            bool across = true;
            if (flags & _tile_rectangle_top_justified_flag) edge = top_edge;
            else if (flags & _tile_rectangle_bottom_justified_flag) edge = bottom_edge;
            else if (flags & _tile_rectangle_left_justified_flag) edge = left_edge, across = false;
            else if (flags & _tile_rectangle_right_justified_flag) edge = right_edge, across = false;
            if (edge && across)
            {
                if (edge[0] > area.left) area.left = edge[0];
                if (edge[1] < area.right) area.right = edge[1];
            }
            else if (edge)
            {
                if (edge[0] > area.top) area.top = edge[0];
                if (edge[1] < area.bottom) area.bottom = edge[1];
            }
        }
        if (flags & _tile_rectangle_set_bevel_inset_flag)
        {
            switch (state)
            {
            case _tile_rectangle_top_left_corner: left_edge[0] = area.bottom; top_edge[0] = area.right; break;
            case _tile_rectangle_bottom_left_corner: bottom_edge[0] = area.right; left_edge[1] = area.top; break;
            case _tile_rectangle_top_right_corner: right_edge[0] = area.bottom; top_edge[1] = area.left; break;
            case _tile_rectangle_bottom_right_corner: right_edge[1] = area.top; bottom_edge[1] = area.left; break;
            default: break;
            }
        }
        const int32_t area_width = area.right - area.left, area_height = area.bottom - area.top;
        if (area_width <= 0 || area_height <= 0) continue;
        const int32_t columns = (area_width + w - 1) / w, rows = (area_height + h - 1) / h;
        for (int32_t r = 0; r < rows; ++r)
            for (int32_t c = 0; c < columns; ++c)
            {
                const point2d at = {(int16_t)(area.left + c * w), (int16_t)(area.top + r * h)};
                copy_bitmap(destination, &at, tile, &tile_clip, table, transparency, transparency_table);
            }
    }
}
