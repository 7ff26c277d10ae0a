// World math.  Integer only; see world.h for the contracts.

#include "world.h"

#include <algorithm>
#include <climits>
#include <cmath>

static int32_t saturate32(int64_t value)
{
    if (value > INT32_MAX) return INT32_MAX;
    if (value < INT32_MIN) return INT32_MIN;
    return (int32_t)value;
}

static int64_t absolute64(int64_t value) { return value < 0 ? -value : value; }

// a * b / c truncating toward zero, exact for any 64-bit a and b; c != 0.
static int64_t multiply_divide64(int64_t a, int64_t b, int64_t c)
{
    __int128 product = (__int128)a * b;
    return (int64_t)(product / c);
}

// ---- fixed point --------------------------------------------------------------

fixed fixed_divide(fixed a, fixed b)
{
    if (b == 0) return a > 0 ? INT32_MAX : (a < 0 ? INT32_MIN : 0);
    return saturate32(((int64_t)a * FIXED_ONE) / b);
}

// ---- trigonometry -------------------------------------------------------------

// lo cos[i] - hi sin[i] at table entry i (0..128); the cosine is the entry a
// quarter turn on.
static int64_t octant_difference(int64_t lo, int64_t hi, int32_t index)
{
    return lo * sine_table[index + NUMBER_OF_TRIG_ENTRIES / 4] - hi * sine_table[index];
}

// For each ratio r / 128 (r in 0..128), the last table entry i below 128
// where r cos[i] >= 128 sin[i].  f(i) >= 0 holds at that entry for any lo / hi
// of at least r / 128, so the search for a ratio may start there: it never
// lies past the root, and seldom more than one entry before it (a halving
// search takes seven steps).  Filled before main; until then every guess is
// 0, which is as valid, only slower.
enum
{
    TANGENT_GUESS_SHIFT = 7,
    TANGENT_GUESSES = (1 << TANGENT_GUESS_SHIFT) + 1,
};
static const struct tangent_guesses
{
    uint8_t entry[TANGENT_GUESSES];
} tangent_guesses = [] {
    struct tangent_guesses guesses = {};
    int32_t i = 0;
    for (int32_t r = 0; r < TANGENT_GUESSES; ++r)
    {
        while (i + 1 < NUMBER_OF_TRIG_ENTRIES / 8 &&
               octant_difference(r, 1 << TANGENT_GUESS_SHIFT, i + 1) >= 0)
            ++i;
        guesses.entry[r] = (uint8_t)i;
    }
    return guesses;
}();

// The angle in 0..8192 (an eighth of a turn) whose tangent is lo / hi, for
// 0 <= lo <= hi, hi > 0.  f(i) = lo cos[i] - hi sin[i] falls strictly from
// lo * 16384 at entry 0 to at most 0 at entry 128 (the cosines never rise,
// the sines rise); the root lies between the last entry where f >= 0 and the
// next, and is interpolated linearly there.  That entry is found by walking
// up from the guess for the ratio, which lies at or before it.
static int32_t first_octant_arctangent(int64_t lo, int64_t hi)
{
    if (octant_difference(lo, hi, NUMBER_OF_TRIG_ENTRIES / 8) >= 0) return EIGHTH_CIRCLE;
    int32_t low = tangent_guesses.entry[(lo << TANGENT_GUESS_SHIFT) / hi];
    int64_t f0 = octant_difference(lo, hi, low); // >= 0
    int64_t f1 = octant_difference(lo, hi, low + 1);
    while (f1 >= 0) // never past entry 128, where f < 0
    {
        low += 1;
        f0 = f1;
        f1 = octant_difference(lo, hi, low + 1);
    }
    int64_t fraction = (f0 << ANGLE_TO_TRIG_SHIFT) / (f0 - f1); // 0..63
    return (low << ANGLE_TO_TRIG_SHIFT) + (int32_t)fraction;
}

angle arctangent(world_distance dx, world_distance dy)
{
    if (dx == 0 && dy == 0) return 0;
    int64_t ax = absolute64(dx), ay = absolute64(dy);
    int32_t a = ay <= ax ? first_octant_arctangent(ay, ax) : QUARTER_CIRCLE - first_octant_arctangent(ax, ay);
    if (dx < 0) a = HALF_CIRCLE - a;
    if (dy < 0) a = FULL_CIRCLE - a;
    return (angle)a; // a full turn is 0
}

angle arcsine(int32_t value)
{
    if (value < -TRIG_MAGNITUDE || value > TRIG_MAGNITUDE) return 0;
    int32_t magnitude = value < 0 ? -value : value;
    // The last entry of the rising quarter whose sine does not exceed the
    // value, so that 16384 gives the quarter turn itself.
    // The quarter rises, so that entry is found by halving (the obstacle
    // avoidance asks for thousands of arcsines a tick).
    const int16_t *first = sine_table + 1, *last = sine_table + 1 + (QUARTER_CIRCLE >> ANGLE_TO_TRIG_SHIFT);
    const int32_t index = (int32_t)(std::upper_bound(first, last, magnitude) - first);
    int32_t result = index << ANGLE_TO_TRIG_SHIFT;
    return (angle)(value < 0 ? FULL_CIRCLE - result : result);
}

int32_t angular_difference(angle a, angle b)
{
    int32_t difference = (angle)(a - b);
    return difference > HALF_CIRCLE ? FULL_CIRCLE - difference : difference;
}

int32_t signed_angular_difference(angle from, angle to)
{
    int32_t difference = (angle)(to - from);
    return difference > HALF_CIRCLE ? difference - FULL_CIRCLE : difference;
}

// ---- roots and distances ------------------------------------------------------

// The hardware root is only a first guess: the integer corrections below make
// the result the exact floor root whatever the floating point unit did, so
// every machine gets the same answer.
int64_t isqrt64_wide(uint64_t value)
{
    uint64_t root = (uint64_t)sqrt((double)value);
    const uint64_t largest = 0xFFFFFFFFull; // the root of any 64-bit value fits 32 bits
    if (root > largest) root = largest;
    while (root * root > value) root -= 1;
    while (root < largest && (root + 1) * (root + 1) <= value) root += 1;
    return (int64_t)root;
}

world_distance distance2d_wide(const world_point2d *a, const world_point2d *b)
{
    int64_t dx = absolute64((int64_t)b->x - a->x), dy = absolute64((int64_t)b->y - a->y);
    if (dx > INT32_MAX || dy > INT32_MAX) return INT32_MAX;
    return saturate32(isqrt64_wide((uint64_t)(dx * dx) + (uint64_t)(dy * dy)));
}

world_distance distance3d(const world_point3d *a, const world_point3d *b)
{
    int64_t dx = absolute64((int64_t)b->x - a->x), dy = absolute64((int64_t)b->y - a->y),
            dz = absolute64((int64_t)b->z - a->z);
    if (dx > INT32_MAX || dy > INT32_MAX || dz > INT32_MAX) return INT32_MAX;
    return saturate32(isqrt64((uint64_t)(dx * dx) + (uint64_t)(dy * dy) + (uint64_t)(dz * dz)));
}

bool world_distance2d_less_than(const world_point2d *a, const world_point2d *b, int32_t r)
{
    if (r < 1) return false;
    if (r > 32767) return true;
    int64_t dx = absolute64((int64_t)b->x - a->x), dy = absolute64((int64_t)b->y - a->y);
    if (dx > 32766 || dy > 32766) return false;
    return (int64_t)r * (r - 1) >= dx * dx + dy * dy;
}

bool isqrt_distance2d_less_than(int32_t dx, int32_t dy, int32_t d)
{
    if (d < 1 || d > 65536) return d > 65536;
    uint32_t udx = (uint32_t)dx, udy = (uint32_t)dy, ud = (uint32_t)d;
    return ud * (ud - 1) >= udx * udx + udy * udy;
}

int32_t world_magnitude3d(const world_vector3d *vector)
{
    uint32_t sum = (uint32_t)(vector->i * vector->i) + (uint32_t)(vector->j * vector->j) +
                   (uint32_t)(vector->k * vector->k);
    return isqrt(sum);
}

// ---- vectors and rotations ----------------------------------------------------

world_vector3d *build_world_vector3d(world_vector3d *out, int32_t speed, angle yaw, angle pitch)
{
    int64_t horizontal = ((int64_t)speed * cosine_rounded(pitch)) >> TRIG_SHIFT;
    out->i = (int16_t)((horizontal * cosine_rounded(yaw)) >> TRIG_SHIFT);
    out->j = (int16_t)((horizontal * sine_rounded(yaw)) >> TRIG_SHIFT);
    out->k = (int16_t)(((int64_t)speed * sine_rounded(pitch)) >> TRIG_SHIFT);
    return out;
}

world_vector3d *line_segment_to_vector(world_vector3d *out, const world_point3d *from, const world_point3d *to,
                                       int32_t magnitude)
{
    int64_t dx = (int64_t)to->x - from->x, dy = (int64_t)to->y - from->y, dz = (int64_t)to->z - from->z;
    int64_t length = isqrt64((uint64_t)(dx * dx) + (uint64_t)(dy * dy) + (uint64_t)(dz * dz));
    if (length == 0)
    {
        out->i = out->j = out->k = 0;
        return out;
    }
    out->i = (int16_t)multiply_divide64(dx, magnitude, length);
    out->j = (int16_t)multiply_divide64(dy, magnitude, length);
    out->k = (int16_t)multiply_divide64(dz, magnitude, length);
    return out;
}

world_point2d *rotate_point2d(world_point2d *point, const world_point2d *origin, angle a)
{
    int64_t dx = (int64_t)point->x - origin->x, dy = (int64_t)point->y - origin->y;
    int64_t c = cosine_rounded(a), s = sine_rounded(a);
    point->x = (world_distance)(origin->x + ((dx * c - dy * s) >> TRIG_SHIFT));
    point->y = (world_distance)(origin->y + ((dx * s + dy * c) >> TRIG_SHIFT));
    return point;
}

// ---- closest points -----------------------------------------------------------

// The segment parameter of both closest-point helpers: t in 512ths of b - a.
// False when the divisor |b - a|^2 >> 9 is 0.
static bool segment_parameter(const world_point2d *p, const world_point2d *a, const world_point2d *b, int64_t *t)
{
    __int128 ex = (int64_t)b->x - a->x, ey = (int64_t)b->y - a->y;
    __int128 px = (int64_t)p->x - a->x, py = (int64_t)p->y - a->y;
    __int128 divisor = (ex * ex + ey * ey) >> WORLD_FRACTIONAL_BITS;
    if (divisor == 0) return false;
    __int128 quotient = (px * ex + py * ey) / divisor;
    // Only the sign and 0..512 matter beyond this point.
    *t = quotient > 1024 ? 1024 : (quotient < -1024 ? -1024 : (int64_t)quotient);
    return true;
}

static world_point2d segment_point(const world_point2d *a, const world_point2d *b, int64_t t)
{
    int64_t ex = (int64_t)b->x - a->x, ey = (int64_t)b->y - a->y;
    world_point2d result;
    result.x = (world_distance)(a->x + ((ex * t) >> WORLD_FRACTIONAL_BITS));
    result.y = (world_distance)(a->y + ((ey * t) >> WORLD_FRACTIONAL_BITS));
    return result;
}

bool closest_point_on_line_segment2d(const world_point2d *p, const world_point2d *a, const world_point2d *b,
                                     world_point2d *out)
{
    int64_t t;
    if (!segment_parameter(p, a, b, &t) || t > WORLD_ONE)
    {
        *out = *b;
        return false;
    }
    if (t < 0)
    {
        *out = *a;
        return false;
    }
    *out = segment_point(a, b, t);
    return true;
}

bool closest_point_on_line_segment_from_point(const world_point2d *p, const world_point2d *a, const world_point2d *b,
                                              world_point2d *on_line, world_point2d *on_segment)
{
    int64_t t;
    if (!segment_parameter(p, a, b, &t))
    {
        if (on_line) *on_line = *b;
        if (on_segment) *on_segment = *b;
        return false;
    }
    // The projection off the segment needs the true t, not the clamped one.
    if (on_line)
    {
        __int128 ex = (int64_t)b->x - a->x, ey = (int64_t)b->y - a->y;
        __int128 px = (int64_t)p->x - a->x, py = (int64_t)p->y - a->y;
        __int128 full_t = (px * ex + py * ey) / ((ex * ex + ey * ey) >> WORLD_FRACTIONAL_BITS);
        on_line->x = (world_distance)(a->x + (int64_t)((ex * full_t) >> WORLD_FRACTIONAL_BITS));
        on_line->y = (world_distance)(a->y + (int64_t)((ey * full_t) >> WORLD_FRACTIONAL_BITS));
    }
    bool inside = t >= 0 && t <= WORLD_ONE;
    if (on_segment) *on_segment = inside ? segment_point(a, b, t) : (t < 0 ? *a : *b);
    return inside;
}

void closest_point_on_circle2d(const world_point2d *centre, world_distance radius, const world_point2d *point,
                               world_point2d *result)
{
    int32_t dx = wrap_add32(point->x, -centre->x), dy = wrap_add32(point->y, -centre->y);
    uint64_t square = (uint64_t)((int64_t)dx * dx) + (uint64_t)((int64_t)dy * dy);
    int64_t length = isqrt64(square);
    // Nearest integer: round up when square > (length + 1/2)^2, i.e. > length^2 + length.
    if (square - (uint64_t)(length * length) > (uint64_t)length) length += 1;
    if (length == 0)
    {
        *result = *point;
        return;
    }
    result->x = wrap_add32(centre->x, (int32_t)(wrap_multiply32(radius, dx) / length));
    result->y = wrap_add32(centre->y, (int32_t)(wrap_multiply32(radius, dy) / length));
}

// ---- boxes, polygons, lines of cells ------------------------------------------

// A segment parameter as a fraction n / d with d > 0.
struct clip_fraction
{
    int64_t n, d;
};

static bool fraction_greater(clip_fraction a, clip_fraction b)
{
    return (__int128)a.n * b.d > (__int128)b.n * a.d;
}

// The parameters at which a->b enters and leaves the slab low..high of one
// axis.  False when the segment runs parallel to the slab outside it.
static bool clip_slab(int64_t start, int64_t delta, int64_t low, int64_t high, clip_fraction *enter,
                      clip_fraction *leave)
{
    if (delta == 0)
    {
        *enter = {-1, 1};
        *leave = {2, 1};
        return start >= low && start <= high;
    }
    if (delta > 0)
    {
        *enter = {low - start, delta};
        *leave = {high - start, delta};
    }
    else
    {
        *enter = {start - high, -delta};
        *leave = {start - low, -delta};
    }
    return true;
}

int32_t clip_line_to_box(world_distance left, world_distance right, world_distance top, world_distance bottom,
                         const world_point2d *a, const world_point2d *b, world_point2d *out)
{
    if (left > right || top > bottom) return _clip_missed;
    if (a->x >= left && a->x <= right && a->y >= top && a->y <= bottom)
    {
        *out = *a;
        return _clip_start_inside;
    }
    int64_t dx = (int64_t)b->x - a->x, dy = (int64_t)b->y - a->y;
    clip_fraction x_enter, x_leave, y_enter, y_leave;
    if (!clip_slab(a->x, dx, left, right, &x_enter, &x_leave)) return _clip_missed;
    if (!clip_slab(a->y, dy, top, bottom, &y_enter, &y_leave)) return _clip_missed;

    bool vertical = fraction_greater(x_enter, y_enter);
    clip_fraction enter = vertical ? x_enter : y_enter;
    clip_fraction leave = fraction_greater(x_leave, y_leave) ? y_leave : x_leave;
    const clip_fraction one = {1, 1};
    if (fraction_greater(enter, leave) || fraction_greater(enter, one)) return _clip_missed;

    world_point2d entry;
    if (vertical)
    {
        entry.x = dx > 0 ? left : right;
        int64_t y = a->y + multiply_divide64(dy, enter.n, enter.d);
        entry.y = (world_distance)(y < top ? top : (y > bottom ? bottom : y));
    }
    else
    {
        entry.y = dy > 0 ? top : bottom;
        int64_t x = a->x + multiply_divide64(dx, enter.n, enter.d);
        entry.x = (world_distance)(x < left ? left : (x > right ? right : x));
    }
    *out = entry;
    return vertical ? _clip_vertical_edge : _clip_horizontal_edge;
}

static bool outside_short_range(int64_t value) { return value < -32767 || value > 32767; }

bool point_in_polygon_test(const world_point2d *point, const world_point2d *points, int32_t count, bool closed)
{
    if (points == nullptr || count < 1) return false;
    int32_t edges = closed ? count : count - 1;
    for (int32_t i = 0; i < edges; i++)
    {
        const world_point2d *p0 = &points[i], *p1 = &points[(i + 1) % count];
        int64_t ex = (int64_t)p1->x - p0->x, ey = (int64_t)p1->y - p0->y;
        int64_t px = (int64_t)point->x - p0->x, py = (int64_t)point->y - p0->y;
        if (outside_short_range(ex) || outside_short_range(ey) || outside_short_range(px) ||
            outside_short_range(py))
        {
            ex >>= WORLD_FRACTIONAL_BITS;
            ey >>= WORLD_FRACTIONAL_BITS;
            px >>= WORLD_FRACTIONAL_BITS;
            py >>= WORLD_FRACTIONAL_BITS;
        }
        if (ex * py - ey * px < 0) return false;
    }
    return true;
}

int32_t DDA(int32_t x0, int32_t y0, int32_t x1, int32_t y1, void *context, dda_callback callback)
{
    int64_t dx = (int64_t)x1 - x0, dy = (int64_t)y1 - y0;
    int64_t adx = absolute64(dx), ady = absolute64(dy);
    int64_t x = x0, y = y0;
    // One step along the major axis per cell (x on a tie), the minor one when
    // the error says so.
    const bool x_major = adx >= ady;
    int64_t *major = x_major ? &x : &y, *minor = x_major ? &y : &x;
    const int32_t major_step = (x_major ? dx : dy) < 0 ? -1 : 1, minor_step = (x_major ? dy : dx) < 0 ? -1 : 1;
    const int64_t major_length = x_major ? adx : ady, minor_length = x_major ? ady : adx;
    int64_t error = 2 * minor_length - major_length;
    for (int64_t step = 0; step <= major_length; step++)
    {
        int32_t result = callback(context, (int32_t)x, (int32_t)y);
        if (result != 0) return result;
        if (error > 0)
        {
            *minor += minor_step;
            error -= 2 * major_length;
        }
        error += 2 * minor_length;
        *major += major_step;
    }
    return 0;
}

// ---- matrices -----------------------------------------------------------------

void build_rotation_matrix(rotation_matrix m, angle yaw, angle pitch)
{
    int32_t cy = cosine_truncated(yaw), sy = sine_truncated(yaw);
    int32_t cp = cosine_truncated(pitch), sp = sine_truncated(pitch);
    // right
    m[0][0] = (int16_t)sy;
    m[0][1] = (int16_t)-cy;
    m[0][2] = 0;
    // up
    m[1][0] = (int16_t)((-sp * cy) >> TRIG_SHIFT);
    m[1][1] = (int16_t)((-sp * sy) >> TRIG_SHIFT);
    m[1][2] = (int16_t)cp;
    // backward (the viewer looks along -z)
    m[2][0] = (int16_t)((-cp * cy) >> TRIG_SHIFT);
    m[2][1] = (int16_t)((-cp * sy) >> TRIG_SHIFT);
    m[2][2] = (int16_t)-sp;
}

// Scales v to length 16384 in place; false (v untouched) for the zero vector.
static bool normalize_vector(int64_t v[3])
{
    __int128 sum = (__int128)v[0] * v[0] + (__int128)v[1] * v[1] + (__int128)v[2] * v[2];
    // The inputs here stay below 2^45, so the sum fits 64 bits unsigned.
    int64_t length = isqrt64((uint64_t)sum);
    if (length == 0) return false;
    for (int i = 0; i < 3; i++) v[i] = multiply_divide64(v[i], TRIG_MAGNITUDE, length);
    return true;
}

// u minus its part along the unit (2.14) vector f, normalized; false when
// nothing is left.
static bool orthonormalize(const int64_t f[3], int64_t u[3])
{
    int64_t dot = u[0] * f[0] + u[1] * f[1] + u[2] * f[2];
    int64_t w[3];
    for (int i = 0; i < 3; i++) w[i] = u[i] * TRIG_MAGNITUDE - multiply_divide64(dot, f[i], TRIG_MAGNITUDE);
    // Components that almost cancel are rounding noise, not a direction.
    if (absolute64(w[0]) + absolute64(w[1]) + absolute64(w[2]) < TRIG_MAGNITUDE) return false;
    if (!normalize_vector(w)) return false;
    for (int i = 0; i < 3; i++) u[i] = w[i];
    return true;
}

void get_geometry_matrices(const world_vector3d *rotation, const world_vector3d *up, const world_vector3d *scale,
                           geometry_matrix *geometry_to_world, geometry_matrix *world_to_geometry)
{
    int64_t f[3] = {rotation->i, rotation->j, rotation->k};
    if (!normalize_vector(f))
    {
        f[0] = TRIG_MAGNITUDE;
        f[1] = f[2] = 0;
    }
    int64_t u[3] = {up->i, up->j, up->k};
    if (!orthonormalize(f, u))
    {
        u[0] = 0, u[1] = 0, u[2] = TRIG_MAGNITUDE;
        if (!orthonormalize(f, u))
        {
            u[0] = 0, u[1] = TRIG_MAGNITUDE, u[2] = 0;
            orthonormalize(f, u);
        }
    }
    // y = up x forward, so (forward, y, up) is right-handed like (x, y, z).
    int64_t s[3] = {(u[1] * f[2] - u[2] * f[1]) >> TRIG_SHIFT, (u[2] * f[0] - u[0] * f[2]) >> TRIG_SHIFT,
                    (u[0] * f[1] - u[1] * f[0]) >> TRIG_SHIFT};
    const int64_t *columns[3] = {f, s, u};
    const int32_t scales[3] = {scale->i, scale->j, scale->k};
    for (int r = 0; r < 3; r++)
    {
        for (int c = 0; c < 3; c++)
        {
            geometry_to_world->m[r][c] = (int32_t)((columns[c][r] * scales[c]) / WORLD_ONE);
            world_to_geometry->m[r][c] = scales[r] == 0 ? 0 : (int32_t)((columns[r][c] * WORLD_ONE) / scales[r]);
        }
    }
}

static void multiply_geometry_matrix(const geometry_matrix *matrix, const int64_t v[3], int64_t out[3])
{
    for (int r = 0; r < 3; r++)
    {
        __int128 sum = (__int128)matrix->m[r][0] * v[0] + (__int128)matrix->m[r][1] * v[1] +
                       (__int128)matrix->m[r][2] * v[2];
        out[r] = (int64_t)(sum >> TRIG_SHIFT);
    }
}

void transform_geometry_point_to_world(const world_point3d *origin, const world_point3d *centre,
                                       const world_point3d *vertex, const geometry_matrix *matrix,
                                       world_point3d *out)
{
    int64_t v[3] = {(int64_t)vertex->x - centre->x, (int64_t)vertex->y - centre->y, (int64_t)vertex->z - centre->z};
    int64_t w[3];
    multiply_geometry_matrix(matrix, v, w);
    out->x = (world_distance)(origin->x + w[0]);
    out->y = (world_distance)(origin->y + w[1]);
    out->z = (world_distance)(origin->z + w[2]);
}

void transform_world_point_to_geometry(const world_point3d *origin, const world_point3d *centre,
                                       const world_point3d *point, const geometry_matrix *matrix,
                                       world_point3d *out)
{
    int64_t v[3] = {(int64_t)point->x - origin->x, (int64_t)point->y - origin->y, (int64_t)point->z - origin->z};
    int64_t g[3];
    multiply_geometry_matrix(matrix, v, g);
    out->x = (world_distance)(centre->x + g[0]);
    out->y = (world_distance)(centre->y + g[1]);
    out->z = (world_distance)(centre->z + g[2]);
}

int32_t point_in_plane_test(const world_vector3d *normal, world_distance d, const world_point3d *point)
{
    int64_t dot = (int64_t)normal->i * point->x + (int64_t)normal->j * point->y + (int64_t)normal->k * point->z;
    return saturate32((dot >> TRIG_SHIFT) - d);
}
