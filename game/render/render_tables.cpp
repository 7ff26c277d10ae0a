// Render tables.  See render_tables.h.

#include "render/render_tables.h"

#include <cstring>

#include "cseries/log.h"
#include "shading_tables.h"

void build_transparency_table(int32_t transparency_mode, uint8_t *table)
{
    if (transparency_mode != _transparency_normal && transparency_mode != _transparency_overlay)
    {
        HALT("build_transparency_table: unknown transparency mode");
        return;
    }
    for (int32_t level = 0; level < NUMBER_OF_TRANSPARENCY_LEVELS; ++level)
        for (int32_t d = 0; d < 32; ++d)
            for (int32_t s = 0; s < 32; ++s)
            {
                int32_t entry;
                if (transparency_mode == _transparency_normal) entry = (7 + level * d + (15 - level) * s) / 15;
                else
                {
                    const int32_t u = 15 - level;
                    entry = (465 * d + u * s * (s - d) + 232) / 465;
                }
                table[level * 1024 + d * 32 + s] = (uint8_t)entry;
            }
}

static int32_t shading_byte_depth(int16_t encoding)
{
    if (encoding == _16bit_555_encoding || encoding == _16bit_565_encoding) return 2;
    if (encoding == _32bit_encoding) return 4;
    log_message(__FILE__, __LINE__, "halt: encoding #%d is invalid", (int)encoding);
    return 0;
}

static void put_shaded_pixel(int16_t encoding, void *level_start, int32_t index, uint32_t r, uint32_t g, uint32_t b)
{
    const rgb_color c = {(uint16_t)(r > 65535 ? 65535 : r), (uint16_t)(g > 65535 ? 65535 : g),
                         (uint16_t)(b > 65535 ? 65535 : b), 0};
    if (encoding == _32bit_encoding)
    {
        const uint32_t pixel = rgb_color_to_pixel32(&c);
        memcpy((uint8_t *)level_start + 4 * index, &pixel, 4);
        return;
    }
    const uint16_t pixel = encoding == _16bit_565_encoding ? rgb_color_to_pixel16_565(&c) : rgb_color_to_pixel16_555(&c);
    memcpy((uint8_t *)level_start + 2 * index, &pixel, 2);
}

// Colourizes c toward `tint` by fraction f: the luminance weighted by f.
static void colorize(uint32_t c[3], short_fixed f, const rgb_color *tint)
{
    const uint32_t k = (uint32_t)((((int64_t)2 * c[0] + 3 * c[1] + c[2]) / 5 * f) >> 16);
    const uint32_t t[3] = {tint->red, tint->green, tint->blue};
    for (int i = 0; i < 3; ++i) c[i] = (uint32_t)(((int64_t)t[i] * k + (int64_t)c[i] * (256 - f)) >> 8);
}

static void mix(uint32_t c[3], int32_t f, const rgb_color *target)
{
    const uint32_t t[3] = {target->red, target->green, target->blue};
    for (int i = 0; i < 3; ++i) c[i] = (uint32_t)(((int64_t)t[i] * f + (int64_t)c[i] * (256 - f)) >> 8);
}

void build_shading_table(int16_t encoding, int32_t shading_levels, const color_table *colors, void *shading_table,
                         int32_t mode, short_fixed tint_fraction1, const rgb_color *tint_color1,
                         short_fixed tint_fraction2, const rgb_color *tint_color2)
{
    const int32_t depth = shading_byte_depth(encoding);
    if (!depth || shading_levels < 1) return;
    const rgb_color black = {0, 0, 0, 0};
    if (!tint_color1) tint_color1 = &black;
    if (!tint_color2) tint_color2 = &black;
    short_fixed reflection_fraction = 0;
    rgb_color reflection_color = black;
    if (mode == _shading_mode_tint_and_blend_with_media)
        get_shading_table_permutation_data(_shading_table_reflection, &reflection_fraction, &reflection_color);
    const int32_t last = shading_levels - 1;
    const int32_t count = colors->color_count < 256 ? colors->color_count : 256;
    for (int32_t level = 0; level < shading_levels; ++level)
    {
        void *level_start = (uint8_t *)shading_table + (size_t)level * 256 * depth;
        for (int32_t i = 0; i < count; ++i)
        {
            const rgb_color &color = colors->colors[i];
            uint32_t c[3] = {color.red, color.green, color.blue};
            if (last > 0)
                for (uint32_t &component : c) component = (uint32_t)((level * (int64_t)component + last / 2) / last);
            if (tint_fraction1 != 0)
            {
                switch (mode)
                {
                case _shading_mode_tint: colorize(c, tint_fraction1, tint_color1); break;
                case _shading_mode_blend: mix(c, tint_fraction1, tint_color1); break;
                case _shading_mode_tint_and_blend_with_media:
                    colorize(c, tint_fraction1, tint_color1);
                    mix(c, reflection_fraction, &reflection_color);
                    break;
                default: break;
                }
            }
            if (tint_fraction2 != 0 && mode != _shading_mode_untinted) colorize(c, tint_fraction2, tint_color2);
            put_shaded_pixel(encoding, level_start, i, c[0], c[1], c[2]);
        }
    }
}

void build_colored_shading_table(int16_t encoding, int32_t shading_levels, const color_table *colors,
                                 void *shading_table, short_fixed dark_color_fraction, const rgb_color *dark_color,
                                 fixed transition_point, short_fixed light_color_fraction,
                                 const rgb_color *light_color)
{
    const int32_t depth = shading_byte_depth(encoding);
    if (!depth || shading_levels < 1) return;
    const int32_t last = shading_levels - 1;
    const int32_t transition = (int32_t)(((int64_t)last * transition_point) >> 16);
    const int32_t count = colors->color_count < 256 ? colors->color_count : 256;
    for (int32_t level = 0; level < shading_levels; ++level)
    {
        int32_t f = 0;
        const rgb_color *target = dark_color;
        if (last > 0)
        {
            if (level <= transition)
                // With no level below the transition, level 0 takes the full dark fraction.
                f = transition > 0 ? (int16_t)((transition - level) * dark_color_fraction / transition)
                                   : dark_color_fraction;
            else
            {
                target = light_color;
                f = (int16_t)((level - transition) * light_color_fraction / (last - transition));
            }
        }
        void *level_start = (uint8_t *)shading_table + (size_t)level * 256 * depth;
        for (int32_t i = 0; i < count; ++i)
        {
            const rgb_color &color = colors->colors[i];
            uint32_t c[3] = {color.red, color.green, color.blue};
            if (f && target) mix(c, f, target);
            put_shaded_pixel(encoding, level_start, i, c[0], c[1], c[2]);
        }
    }
}

static float luminance(float r, float g, float b) { return 0.4f * r + 0.6f * g + 0.2f * b; }

static uint8_t shader_byte(float value)
{
    const float scaled = value * 255.0f;
    const int32_t truncated = (int32_t)scaled;
    return (uint8_t)(truncated < 0 ? 0 : truncated > 255 ? 255 : truncated);
}

void build_tinting_shader(uint8_t tint_shader[8], int32_t mode, short_fixed fraction, const rgb_color *color,
                          short_fixed global_tint_fraction, const rgb_color *global_tint_color)
{
    const rgb_color black = {0, 0, 0, 0};
    if (!color) color = &black;
    float f = 0, c[3] = {0, 0, 0}, p = 0, pc[3] = {0, 0, 0};
    if (mode == _shading_mode_tint || mode == _shading_mode_tint_and_blend_with_media)
    {
        f = fraction / 256.0f;
        c[0] = color->red / 65536.0f, c[1] = color->green / 65536.0f, c[2] = color->blue / 65536.0f;
    }
    if (mode == _shading_mode_blend)
    {
        p = fraction / 256.0f;
        pc[0] = color->red / 65536.0f, pc[1] = color->green / 65536.0f, pc[2] = color->blue / 65536.0f;
    }
    else if (mode == _shading_mode_tint_and_blend_with_media)
    {
        short_fixed reflection_fraction = 0;
        rgb_color reflection = black;
        get_shading_table_permutation_data(_shading_table_reflection, &reflection_fraction, &reflection);
        p = reflection_fraction / 256.0f;
        pc[0] = reflection.red / 65536.0f, pc[1] = reflection.green / 65536.0f, pc[2] = reflection.blue / 65536.0f;
    }
    const rgb_color *global = global_tint_color ? global_tint_color : &black;
    const float g = global_tint_fraction / 256.0f;
    const float gc[3] = {global->red / 65536.0f, global->green / 65536.0f, global->blue / 65536.0f};
    const float a = (1 - g) * (1 - p);
    const float lum_pc = luminance(pc[0], pc[1], pc[2]), lum_c = luminance(c[0], c[1], c[2]);
    tint_shader[0] = shader_byte(a * (1 - f));
    for (int i = 0; i < 3; ++i)
    {
        tint_shader[1 + i] = shader_byte(gc[i] * lum_pc * p * g + (1 - g) * p * pc[i]);
        tint_shader[4 + i] = shader_byte(gc[i] * (lum_c * (1 - p) * f + (1 - f) * (1 - p)) * g + c[i] * a * f);
    }
    tint_shader[7] = 0;
}

void build_blend_table(const color_table *colors, uint8_t *blend_table)
{
    const int32_t count = colors->color_count < 256 ? colors->color_count : 256;
    for (int32_t k = 0; k < count; ++k)
    {
        blend_table[k * 256 + 0] = (uint8_t)k;
        blend_table[0 * 256 + k] = (uint8_t)k;
    }
    for (int32_t k = 1; k < count; ++k)
        for (int32_t j = 1; j < count; ++j)
        {
            const rgb_color &a = colors->colors[k], &b = colors->colors[j];
            const rgb_color average = {(uint16_t)((a.red + b.red) >> 1), (uint16_t)((a.green + b.green) >> 1),
                                       (uint16_t)((a.blue + b.blue) >> 1), 0};
            blend_table[k * 256 + j] = (uint8_t)closest_color_in_color_table(colors, &average);
        }
}
