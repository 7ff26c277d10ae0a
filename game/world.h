#pragma once
// World math: the fixed-point types of the simulation, the trigonometry
// tables and the integer geometry that every position in the game goes
// through.  Everything here is integer arithmetic (the build uses -fwrapv), so
// every machine computes the same bits.  Products whose width no caller fixes
// are taken in 64 bits; where a caller relies on 32-bit wrapping the function
// says so and wraps on purpose.
//
// Angle 0 points along +x and a quarter turn (16384) along +y, so (cos, sin)
// of a yaw is its (x, y) heading.

#include <cstdint>

#include "cseries/cseries.h"

// ---- types ------------------------------------------------------------------

typedef int32_t world_distance; // 512 to a mesh cell
typedef int16_t short_world_distance;
typedef uint16_t angle; // 65536 to the turn
typedef int32_t fixed; // 16.16
typedef int16_t short_fixed; // 8.8
typedef uint16_t fixed_fraction; // 65535 = 1
typedef float real;

struct world_point2d
{
    world_distance x, y;
};

struct world_point3d
{
    world_distance x, y, z;
};

struct world_vector3d
{
    int16_t i, j, k;
};

struct world_location3d
{
    world_point3d position;
    world_vector3d velocity;
    short_world_distance height;
    angle yaw, pitch;
};
static_assert(sizeof(world_location3d) == 24);

enum
{
    WORLD_ONE = 512, // one mesh cell
    WORLD_FRACTIONAL_BITS = 9,
    WORLD_ONE_HALF = WORLD_ONE / 2,

    FIXED_FRACTIONAL_BITS = 16,
    FIXED_ONE = 1 << FIXED_FRACTIONAL_BITS,
    FIXED_ONE_HALF = FIXED_ONE / 2,
    SHORT_FIXED_FRACTIONAL_BITS = 8,
    SHORT_FIXED_ONE = 1 << SHORT_FIXED_FRACTIONAL_BITS,
    FIXED_FRACTION_ONE = 65535,

    TRIG_SHIFT = 14,
    TRIG_MAGNITUDE = 1 << TRIG_SHIFT, // 1.0 in the tables (2.14)
    NUMBER_OF_TRIG_ENTRIES = 1024,
    TRIG_ENTRY_MASK = NUMBER_OF_TRIG_ENTRIES - 1,
    ANGLE_TO_TRIG_SHIFT = 6, // 65536 angles / 1024 entries

    NUMBER_OF_ANGLES = 65536,
    FULL_CIRCLE = NUMBER_OF_ANGLES,
    HALF_CIRCLE = NUMBER_OF_ANGLES / 2,
    QUARTER_CIRCLE = NUMBER_OF_ANGLES / 4,
    EIGHTH_CIRCLE = NUMBER_OF_ANGLES / 8,

    TICKS_PER_SECOND = 30,
};

// ---- fixed point and deliberate wrapping ------------------------------------

inline fixed integer_to_fixed(int32_t value) { return (fixed)((uint32_t)value << FIXED_FRACTIONAL_BITS); }
// Rounds toward minus infinity (arithmetic shift).
inline int32_t fixed_to_integer(fixed value) { return value >> FIXED_FRACTIONAL_BITS; }
// Rounds to the nearest integer, halves upward.
inline int32_t fixed_to_integer_round(fixed value)
{
    return (int32_t)(((int64_t)value + FIXED_ONE_HALF) >> FIXED_FRACTIONAL_BITS);
}
// (a * b) >> 16 with a 64-bit product; the result wraps to 32 bits.
inline fixed fixed_multiply(fixed a, fixed b) { return (fixed)(((int64_t)a * b) >> FIXED_FRACTIONAL_BITS); }
// (a << 16) / b truncating toward zero, saturated to the 32-bit range.
// Dividing by zero gives the saturated value of a's sign (0 for a = 0).
fixed fixed_divide(fixed a, fixed b);
// value * fraction / 65536 (a fraction of 65535 keeps almost all of value).
inline int32_t fixed_fraction_multiply(int32_t value, fixed_fraction fraction)
{
    return (int32_t)(((int64_t)value * fraction) >> 16);
}
inline short_fixed integer_to_short_fixed(int32_t value) { return (short_fixed)(value << SHORT_FIXED_FRACTIONAL_BITS); }
inline int32_t short_fixed_to_integer(short_fixed value) { return value >> SHORT_FIXED_FRACTIONAL_BITS; }
inline fixed short_fixed_to_fixed(short_fixed value) { return (fixed)value << 8; }

// Addition and multiplication in 32 bits that wrap on purpose (seeds, hashes,
// formulas that state 32-bit arithmetic).
inline int32_t wrap_add32(int32_t a, int32_t b) { return (int32_t)((uint32_t)a + (uint32_t)b); }
inline int32_t wrap_multiply32(int32_t a, int32_t b) { return (int32_t)((uint32_t)a * (uint32_t)b); }

// ---- trigonometry -----------------------------------------------------------

// 1024 entries, 16384 = 1.0.  Entry i is the sine of angle i << 6.  A quarter
// turn is a whole number of entries, so the cosine of an angle is exactly the
// table's sine a quarter turn on.
extern const int16_t sine_table[NUMBER_OF_TRIG_ENTRIES];
// The same scale; entry i is the cosine of angle i << 6 (sine_table[(i + 256) & 1023]).
extern const int16_t cosine_table[NUMBER_OF_TRIG_ENTRIES];

// The two ways callers look the table up.  The truncating index is angle >> 6
// (renderer, sound).  The rounding index of the simulation is (angle + 32) >> 6,
// which for angles 65504..65535 would be 1024, one past the table: it is masked
// so that those angles read entry 0, the value a full turn has.
inline int32_t trig_index(angle a) { return a >> ANGLE_TO_TRIG_SHIFT; }
inline int32_t trig_index_rounded(angle a) { return ((a + 32) >> ANGLE_TO_TRIG_SHIFT) & TRIG_ENTRY_MASK; }
inline int32_t sine_rounded(angle a) { return sine_table[trig_index_rounded(a)]; }
inline int32_t cosine_rounded(angle a) { return cosine_table[trig_index_rounded(a)]; }
inline int32_t sine_truncated(angle a) { return sine_table[trig_index(a)]; }
inline int32_t cosine_truncated(angle a) { return cosine_table[trig_index(a)]; }

// The angle of the vector (dx, dy); 0 for the zero vector.  Interpolated
// between table entries, so tan of the result agrees with dy/dx to within one
// table step (64 angle units) for any 32-bit input.
angle arctangent(world_distance dx, world_distance dy);

// The angle whose table sine is the 2.14 value, found by stepping through the
// rising quarter of the table: the last entry whose sine does not exceed
// |value| (so 16384 gives exactly a quarter turn), negated (mod a full turn)
// for a negative value.  0 for a value outside -16384..16384.
angle arcsine(int32_t value);

// Unsigned difference of two angles folded into half a turn: 0..32768.
int32_t angular_difference(angle a, angle b);

// The turn from `from` to `to`, -32767..32768 (half a turn comes out positive).
int32_t signed_angular_difference(angle from, angle to);

// ---- integer roots and distances --------------------------------------------

// The roots and distances of any value, with corrections that make the
// hardware root exact; the inline forms below take them for values too wide
// for one correction.
int64_t isqrt64_wide(uint64_t value);
world_distance distance2d_wide(const world_point2d *a, const world_point2d *b);

// The floor of the square root of a 64-bit value: the largest r with
// r * r <= value.
// Below 2^52 a double holds the value exactly, and its correctly rounded root
// lies between the floor root k and k + 1 (both are doubles): one step down
// when the square overshoots gives k, on every machine.  Movers ask this tens
// of thousands of times a tick, so it is inline.  (The compiler's own square
// root, the same instruction std::sqrt gives, spares the hundreds of files
// that include this header the mathematics library's header.)
inline int64_t isqrt64(uint64_t value)
{
    if (value >= ((uint64_t)1 << 52)) return isqrt64_wide(value);
    int64_t root = (int64_t)__builtin_sqrt((double)(int64_t)value);
    if ((uint64_t)(root * root) > value) root -= 1;
    return root;
}

// The same for 32-bit values.
inline int32_t isqrt(uint32_t value) { return (int32_t)isqrt64(value); }

// `value` kept within low .. high.
inline int32_t clamp32(int32_t value, int32_t low, int32_t high)
{
    return value < low ? low : (value > high ? high : value);
}

// The squared distance between two points, in 64 bits (no overflow for any
// two 32-bit points).
inline int64_t squared_distance64(const world_point2d *a, const world_point2d *b)
{
    const int64_t dx = (int64_t)a->x - b->x, dy = (int64_t)a->y - b->y;
    return dx * dx + dy * dy;
}

// Floor of the Euclidean distance, with 64-bit squares, so any two points give
// the true value (saturated to the 32-bit range, which only points more than
// 2^31 apart reach).  Points within 2^25 on each axis (everything on a mesh)
// take the one-correction root inline.
inline world_distance distance2d(const world_point2d *a, const world_point2d *b)
{
    const int64_t dx = (int64_t)b->x - a->x, dy = (int64_t)b->y - a->y;
    constexpr int64_t near = (int64_t)1 << 25;
    if ((uint64_t)(dx + near) >= (uint64_t)(2 * near) || (uint64_t)(dy + near) >= (uint64_t)(2 * near))
        return distance2d_wide(a, b);
    return (world_distance)isqrt64((uint64_t)(dx * dx + dy * dy));
}
world_distance distance3d(const world_point3d *a, const world_point3d *b);

// Whether b lies within r of a, the way units compare ranges: false when
// r < 1; true when r > 32767; false when |dx| or |dy| exceeds 32766; else
// whether r * (r - 1) >= dx^2 + dy^2.
bool world_distance2d_less_than(const world_point2d *a, const world_point2d *b, int32_t r);

// For 1 <= d <= 65536 whether d * (d - 1) >= dx^2 + dy^2, every product and
// sum taken as unsigned 32-bit values that wrap (films depend on this exact
// arithmetic); for any other d whether d exceeds 65536.
bool isqrt_distance2d_less_than(int32_t dx, int32_t dy, int32_t d);

// Length of a vector: isqrt of the sum of squares, 0..56755.
int32_t world_magnitude3d(const world_vector3d *vector);

// ---- vectors and rotations --------------------------------------------------

// out = speed along (yaw, pitch): horizontal = speed * cos(pitch) >> 14,
// i = horizontal * cos(yaw) >> 14, j = horizontal * sin(yaw) >> 14,
// k = speed * sin(pitch) >> 14; table lookups use the rounding index;
// components wrap to 16 bits.  Returns out.
world_vector3d *build_world_vector3d(world_vector3d *out, int32_t speed, angle yaw, angle pitch);

// out = the vector from `from` toward `to` of length `magnitude`: each
// component of to - from times magnitude over the distance (64-bit, truncating
// toward zero), wrapped to 16 bits; the zero vector when the points coincide.
// Returns out.
world_vector3d *line_segment_to_vector(world_vector3d *out, const world_point3d *from, const world_point3d *to,
                                       int32_t magnitude);

// Rotates `point` about `origin` by `a` in place: with (dx, dy) = point - origin,
// x = origin.x + (dx cos - dy sin) >> 14, y = origin.y + (dx sin + dy cos) >> 14
// (64-bit products, rounding table index).  Returns point.
world_point2d *rotate_point2d(world_point2d *point, const world_point2d *origin, angle a);

// ---- closest points ---------------------------------------------------------

// With t = ((p - a) . (b - a)) / (|b - a|^2 >> 9) (64-bit, truncating): for
// 0 <= t <= 512 writes the foot a + (((b - a) * t) >> 9) and returns true;
// t > 512 writes b, t < 0 writes a, and a divisor of 0 (a segment shorter than
// about 23 units) writes b, each returning false.
bool closest_point_on_line_segment2d(const world_point2d *p, const world_point2d *a, const world_point2d *b,
                                     world_point2d *out);

// The same t; `on_line` gets the projection a + (((b - a) * t) >> 9),
// `on_segment` the projection when 0 <= t <= 512 (result true), else a (t < 0)
// or b (t > 512) (result false).  A divisor of 0 writes b to both and returns
// false.  Either output may be null.
bool closest_point_on_line_segment_from_point(const world_point2d *p, const world_point2d *a, const world_point2d *b,
                                              world_point2d *on_line, world_point2d *on_segment);

// With (dx, dy) = point - centre and L the integer nearest to its length:
// L != 0 gives centre + ((radius * dx) / L, (radius * dy) / L), the products
// wrapping in 32 bits and the divisions truncating; L = 0 gives point.  A
// negative radius gives the point on the far side of the centre.
void closest_point_on_circle2d(const world_point2d *centre, world_distance radius, const world_point2d *point,
                               world_point2d *result);

// ---- boxes, polygons, lines of cells ----------------------------------------

enum clip_line_to_box_result
{
    _clip_missed = NONE,
    _clip_start_inside = 0, // out = a
    _clip_vertical_edge = 1, // entered through the left or right edge
    _clip_horizontal_edge = 2, // entered through the top or bottom edge (corners count here)
};

// The point where the segment a->b first enters the box left..right, top..bottom
// (edges included) goes to out, and the kind of edge it lies on is returned;
// a itself with _clip_start_inside when a lies in the box.  _clip_missed, with
// out untouched, when the segment misses the box (or the box is empty).
int32_t clip_line_to_box(world_distance left, world_distance right, world_distance top, world_distance bottom,
                         const world_point2d *a, const world_point2d *b, world_point2d *out);

// True when the point lies on the inner side (cross product of edge and
// point offset >= 0) of every edge of the chain points[0..count-1], the edge
// from the last point back to the first included when `closed`.  For an edge
// whose coordinate differences leave -32767..32767 all four differences are
// shifted right by 9 first.  False for no points.
bool point_in_polygon_test(const world_point2d *point, const world_point2d *points, int32_t count, bool closed);

// Visits the cells of the segment (x0, y0)-(x1, y1), both ends included, one
// step along the major axis at a time (the minor coordinate rounded to the
// nearest cell), calling callback(context, x, y) until it returns non-zero.
// Returns that value, or 0 when every cell was visited.
typedef int32_t (*dda_callback)(void *context, int32_t x, int32_t y);
int32_t DDA(int32_t x0, int32_t y0, int32_t x1, int32_t y1, void *context, dda_callback callback);

// ---- matrices ---------------------------------------------------------------

// 3x3 matrices in 2.14 (16384 = 1.0): row r of the product is
// sum over c of m[r][c] * v[c], >> 14.
typedef int16_t rotation_matrix[3][3];

// Fills m so that it turns world offsets into viewer space for a viewer
// looking along (yaw, pitch) (pitch up is positive): viewer x to the viewer's
// right, y up, z toward the viewer (negative in front).  Rows are the right,
// up and backward vectors in world coordinates; truncating table index.
void build_rotation_matrix(rotation_matrix m, angle yaw, angle pitch);

// Geometry matrices: 32-bit entries in 2.14 (the scale folded in).
struct geometry_matrix
{
    int32_t m[3][3];
};

// Builds the transforms between a model's geometry space and the world from
// its forward ("rotation") vector, up vector and scale vector (512 = 1.0 on
// each axis).  Geometry x runs along the forward vector, z along the up vector
// made perpendicular to it, y along up x forward.  Vectors need not be unit
// length; a zero forward vector counts as +x and an up vector parallel to the
// forward vector as +z (or +y when forward is vertical).  A zero scale
// component maps that axis to 0 both ways.
void get_geometry_matrices(const world_vector3d *rotation, const world_vector3d *up, const world_vector3d *scale,
                           geometry_matrix *geometry_to_world, geometry_matrix *world_to_geometry);

// world = origin + M (vertex - centre) >> 14.
void transform_geometry_point_to_world(const world_point3d *origin, const world_point3d *centre,
                                       const world_point3d *vertex, const geometry_matrix *matrix,
                                       world_point3d *out);
// geometry = centre + M (point - origin) >> 14.
void transform_world_point_to_geometry(const world_point3d *origin, const world_point3d *centre,
                                       const world_point3d *point, const geometry_matrix *matrix,
                                       world_point3d *out);

// (normal . point) >> 14 - d for a 2.14 normal: positive in front of the plane,
// 0 on it, negative behind; saturated to 32 bits.
int32_t point_in_plane_test(const world_vector3d *normal, world_distance d, const world_point3d *point);
