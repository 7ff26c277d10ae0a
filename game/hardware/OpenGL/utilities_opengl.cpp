#include "utilities_opengl.h"

#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include "bitmaps.h"
#include "cseries/log.h"
#include "gl_dispatch.h"
#include "render_opengl.h"
#include "screen.h"
#include "screen_preferences.h"

device_info_opengl opengl_device;
opengl_preferences gl_prefs;
float max_anisotropy;

static const opengl_preferences static_gl_prefs_default = {
    0, // ClearColor
    false, // ErasePreviousFrame
    8, // MaxAnisotropy
    1, // MSAASamples
    true, // ReuseContext
    true, // UseAppleClientStorage
    -0.5f, // TextureLodBias
    false, false, false, false, false, false, false, // set from the device before reading
};

opengl_preferences gl_prefs_default = static_gl_prefs_default;

#define GL_PREFS_ENTRY(key, type) {#key, type, (int32_t)offsetof(opengl_preferences, key), 0, 0, 0}
// UseNPO2Textures is looked up before UseMipMaps, though stored after it.
const inifile_entry gl_prefs_definition[] = {
    GL_PREFS_ENTRY(ClearColor, _inifile_integer),
    GL_PREFS_ENTRY(ErasePreviousFrame, _inifile_boolean),
    GL_PREFS_ENTRY(MaxAnisotropy, _inifile_integer),
    GL_PREFS_ENTRY(MSAASamples, _inifile_integer),
    GL_PREFS_ENTRY(ReuseContext, _inifile_boolean),
    GL_PREFS_ENTRY(UseAppleClientStorage, _inifile_boolean),
    GL_PREFS_ENTRY(TextureLodBias, _inifile_float),
    GL_PREFS_ENTRY(UseDepthTest, _inifile_boolean),
    GL_PREFS_ENTRY(UseNPO2Textures, _inifile_boolean),
    GL_PREFS_ENTRY(UseMipMaps, _inifile_boolean),
    GL_PREFS_ENTRY(UseShaders, _inifile_boolean),
    GL_PREFS_ENTRY(UseLightmapBlendingShader, _inifile_boolean),
    GL_PREFS_ENTRY(UpdateCMapChunked, _inifile_boolean),
    GL_PREFS_ENTRY(UseCMapTiles, _inifile_boolean),
    {nullptr, 0, 0, 0, 0, 0},
};
#undef GL_PREFS_ENTRY

const inifile_section gl_prefs_section = {
    "Renderer.OpenGL", nullptr, nullptr, gl_prefs_definition, &gl_prefs, &gl_prefs_default,
    (int32_t)sizeof(opengl_preferences),
};

static struct utilities_opengl_globals
{
    uint32_t clear_color; // the last set
} utilities_opengl_globals;

// ---- the device ----------------------------------------------------------------

bool extension_in_list(const char *extensions, const char *name)
{
    if (!extensions || !name || !*name) return false;
    const size_t length = strlen(name);
    for (const char *p = strstr(extensions, name); p; p = strstr(p + length, name))
    {
        const bool starts = p == extensions || p[-1] == ' ';
        const bool ends = p[length] == ' ' || p[length] == '\0';
        if (starts && ends) return true;
    }
    return false;
}

static int32_t parse_gl_version(const char *version)
{
    int major = 0, minor = 0;
    if (!version || sscanf(version, "%d.%d", &major, &minor) != 2) return 0;
    if (major < 0 || major > 0x7fff || minor < 0 || minor > 0xffff) return 0;
    return (int32_t)((major << 16) | minor);
}

bool opengl_device_info_from_strings(device_info_opengl *device, const char *version, const char *extensions,
                                     const char *renderer, const char *vendor, int32_t max_texture_size)
{
    const int32_t packed = parse_gl_version(version);
    if (packed < 0x10001) return false;
    if (packed == 0x10001 && !extension_in_list(extensions, "GL_EXT_bgra")) return false;
    memset(device, 0, sizeof(*device));
    device->opengl_version = packed;
    device->opengl2_device = packed > 0x1ffff;
    device->max_texture_size = max_texture_size;
    device->msaa_samples = 1;
    if (renderer) snprintf(device->renderer, sizeof(device->renderer), "%s", renderer);
    if (vendor) snprintf(device->vendor, sizeof(device->vendor), "%s", vendor);
    snprintf(device->name, sizeof(device->name), "OpenGL %d.%d", packed >> 16, packed & 0xffff);
    return true;
}

static const char *gl_string(uint32_t name) { return (const char *)gl.GetString(name); }

bool get_opengl_device_info(device_info_opengl *device)
{
    if (!gl.GetString) load_gl_core_procedures();
    GLint max_texture_size = 0;
    gl.GetIntegerv(GL_MAX_TEXTURE_SIZE, &max_texture_size);
    return opengl_device_info_from_strings(device, gl_string(GL_VERSION), gl_string(GL_EXTENSIONS),
                                           gl_string(GL_RENDERER), gl_string(GL_VENDOR), max_texture_size);
}

// ---- the settings --------------------------------------------------------------

opengl_preferences opengl_run_time_defaults(const device_info_opengl *device)
{
    opengl_preferences prefs = static_gl_prefs_default;
    const bool above_2_0 = device->opengl_version > 0x20000;
    prefs.ReuseContext = true;
    prefs.UseDepthTest = true;
    prefs.UseMipMaps = above_2_0;
    prefs.UseNPO2Textures = above_2_0;
    prefs.UseShaders = above_2_0;
    prefs.UseLightmapBlendingShader = false;
    prefs.UpdateCMapChunked = true;
    prefs.UseCMapTiles = above_2_0 && device->max_texture_size > 2047 && !strstr(device->renderer, "Intel 965/963");
    return prefs;
}

static void settings_line(opengl_settings_result *result, const char *format, ...) __attribute__((format(printf, 2, 3)));
static void settings_line(opengl_settings_result *result, const char *format, ...)
{
    if (result->line_count >= MAXIMUM_OPENGL_SETTINGS_LINES) return;
    va_list arguments;
    va_start(arguments, format);
    vsnprintf(result->lines[result->line_count++], OPENGL_SETTINGS_LINE_SIZE, format, arguments);
    va_end(arguments);
}

// A value out of its range keeps the default, with a line.
static void keep_integer_in_range(opengl_settings_result *result, const char *key, int32_t *value, int32_t minimum,
                                  int32_t maximum, int32_t fallback)
{
    if (*value >= minimum && *value <= maximum) return;
    settings_line(result, "OpenGL: %s=%d is out of range (%d..%d); keeping %d", key, *value, minimum, maximum,
                  fallback);
    *value = fallback;
}

void compute_opengl_settings(const opengl_preferences *read, const opengl_settings_inputs *inputs,
                             opengl_settings_result *result)
{
    memset(result, 0, sizeof(*result));
    opengl_preferences *p = &result->prefs;
    *p = *read;
    const opengl_preferences defaults = opengl_run_time_defaults(inputs->device);

    keep_integer_in_range(result, "ClearColor", &p->ClearColor, 0, 0xffffff, defaults.ClearColor);
    keep_integer_in_range(result, "MaxAnisotropy", &p->MaxAnisotropy, 0, 16, defaults.MaxAnisotropy);
    keep_integer_in_range(result, "MSAASamples", &p->MSAASamples, 1, 16, defaults.MSAASamples);
    if (!(p->TextureLodBias >= -16.0f && p->TextureLodBias <= 16.0f))
    {
        settings_line(result, "OpenGL: TextureLodBias=%.2f is out of range (-16..16); keeping %.2f",
                      (double)p->TextureLodBias, (double)defaults.TextureLodBias);
        p->TextureLodBias = defaults.TextureLodBias;
    }

    p->ReuseContext = true;
    if (p->UseShaders)
    {
        if (!inputs->device->opengl2_device)
        {
            p->UseShaders = false;
            settings_line(result, "OpenGL: Forcing UseShaders=0 because the device does not support OpenGL 2.0");
        }
        else if (!p->UseDepthTest)
        {
            p->UseShaders = false;
            settings_line(result, "OpenGL: Forcing UseShaders=0 because UseDepthTest=0");
        }
        else if (inputs->shader_program_failed)
        {
            p->UseShaders = false;
            settings_line(result, "OpenGL: Forcing UseShaders=0 because a shader program failed to link");
        }
        else if (!inputs->shader_procedures_found)
        {
            // The lookup cannot be trusted to say so, but when it does the
            // fixed-function path still draws.
            p->UseShaders = false;
            settings_line(result, "OpenGL: Forcing UseShaders=0 because %s was not found.",
                          inputs->missing_procedure ? inputs->missing_procedure : "an OpenGL 2.0 function");
        }
    }
    if (p->UseMipMaps && !p->UseShaders)
    {
        p->UseMipMaps = false;
        settings_line(result, "OpenGL: Forcing UseMipMaps=0 because UseShaders=0");
    }
    if (p->UseLightmapBlendingShader && !p->UseShaders)
    {
        p->UseLightmapBlendingShader = false;
        settings_line(result, "OpenGL: Forcing UseLightmapBlendingShader=0 because UseShaders=0");
    }
    if (p->UseCMapTiles)
    {
        const int64_t cache_bytes = (int64_t)inputs->texture_cache_size << 20;
        const bool textures_32bit = (inputs->screen_flags & _screen_pref_32bit_flag) != 0;
        if (!p->UpdateCMapChunked)
        {
            settings_line(result, "OpenGL: Forcing UseCMapTiles=0 because UpdateCMapChunked=0");
            p->UseCMapTiles = false;
        }
        else if (cache_bytes < (textures_32bit ? 0x2000000 : 0x1800000))
        {
            settings_line(result, "OpenGL: Forcing UseCMapTiles=0 because the texture cache size is too small");
            p->UseCMapTiles = false;
        }
    }
    if (!p->UseCMapTiles && inputs->perma_disable_extended_zoom && inputs->perma_disable_extended_zoom())
        settings_line(result, "OpenGL: Extended zoom will be unavailable because UseCmapTiles=0");
    if (!p->ErasePreviousFrame && inputs->extended_zoom_enabled && inputs->extended_zoom_enabled())
        p->ErasePreviousFrame = true;

    if (p->UseShaders)
    {
        if (inputs->generate_mipmap_form == _generate_mipmap_ext && inputs->generate_mipmap_found)
            settings_line(result, "OpenGL: glGenerateMipmap not found; using glGenerateMipmapEXT.");
        if (p->UseMipMaps && !inputs->generate_mipmap_found)
        {
            p->UseMipMaps = false;
            settings_line(result, "OpenGL: Forcing UseMipMaps=0 because glGenerateMipmap[EXT] was not found.");
        }
    }
    if (p->MSAASamples >= 2 && p->MSAASamples != inputs->device->msaa_samples)
    {
        settings_line(result, "OpenGL: The MSAASamples option is not supported on your platform.");
        p->MSAASamples = inputs->device->msaa_samples;
    }
    result->swap_interval = (inputs->screen_flags & _screen_pref_vsync_enabled_flag) != 0;
    if ((inputs->screen_flags & _screen_pref_anisotropic_filtering_flag) &&
        opengl_device_renders_on_processor(inputs->device))
    {
        // Each filtered texel costs such a driver the processor's time, on
        // every pixel of every frame.
        settings_line(result, "OpenGL: Forcing MaxAnisotropy=0 because the driver draws on the processor (%.64s)",
                      inputs->device->renderer);
        p->MaxAnisotropy = 0;
        result->max_anisotropy = 0.0f;
    }
    else if (inputs->screen_flags & _screen_pref_anisotropic_filtering_flag)
    {
        const float wanted = (float)p->MaxAnisotropy;
        result->max_anisotropy = wanted < inputs->driver_max_anisotropy ? wanted : inputs->driver_max_anisotropy;
    }
    else
    {
        p->MaxAnisotropy = 0;
        result->max_anisotropy = 0.0f;
    }
    p->UseAppleClientStorage =
        p->UseAppleClientStorage && extension_in_list(inputs->extensions, "GL_APPLE_client_storage");
    settings_line(result,
                  "OpenGL: Initialized with TexCacheSize=%d, ErasePreviousFrame=%d, MaxAnisotropy=%d, "
                  "MSAASamples=%d, UseDepthTest=%d, UseMipMaps=%d, UseNPO2Textures=%d, UseShaders=%d, "
                  "UseLightmapBlendingShader=%d, UpdateCMapChunked=%d, UseCMapTiles=%d%s",
                  (int)inputs->texture_cache_size, p->ErasePreviousFrame, p->MaxAnisotropy, p->MSAASamples,
                  p->UseDepthTest, p->UseMipMaps, p->UseNPO2Textures, p->UseShaders, p->UseLightmapBlendingShader,
                  p->UpdateCMapChunked, p->UseCMapTiles,
                  p->UseAppleClientStorage ? ", UseAppleClientStorage=1" : ", UseAppleClientStorage=0");
}

// ---- utilities -----------------------------------------------------------------

bool poorManCheckExtension(const char *name) { return extension_in_list(gl_string(GL_EXTENSIONS), name); }

int32_t getOpenGLVersion(void) { return parse_gl_version(gl_string(GL_VERSION)); }

void copy_gl_string(char *buffer, int32_t size, uint32_t name)
{
    const char *text = gl_string(name);
    if (!text || !buffer || size <= 0) return;
    snprintf(buffer, (size_t)size, "%s", text);
}

const char *gl_error_name(uint32_t error)
{
    static const char *const names[] = {"GL_INVALID_ENUM",    "GL_INVALID_VALUE",    "GL_INVALID_OPERATION",
                                        "GL_STACK_OVERFLOW",  "GL_STACK_UNDERFLOW",  "GL_OUT_OF_MEMORY"};
    return error >= 0x500 && error <= 0x505 ? names[error - 0x500] : "(unknown error)";
}

void gl_debug(const char *what, const char *file, int32_t line)
{
    const GLenum error = gl.GetError();
    if (error == GL_NO_ERROR) return;
    log_message(nullptr, -1, "OpenGL error: %s generated %s at %s:%d", what, gl_error_name(error), file, (int)line);
}

void set_clear_color_opengl(uint32_t color)
{
    if (color == utilities_opengl_globals.clear_color) return;
    gl.ClearColor((float)((color >> 16) & 255) / 255.0f, (float)((color >> 8) & 255) / 255.0f,
                  (float)(color & 255) / 255.0f, 0.0f);
    utilities_opengl_globals.clear_color = color;
}

void clear_opengl_backbuffer(void)
{
    if (utilities_opengl_globals.clear_color != 0)
    {
        gl.ClearColor(0.0f, 0.0f, 0.0f, 0.0f);
        utilities_opengl_globals.clear_color = 0;
    }
    gl.Clear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
}

uint32_t current_clear_color_opengl(void) { return utilities_opengl_globals.clear_color; }
void reset_clear_color_opengl(void) { utilities_opengl_globals.clear_color = 0; }

void flip_rows_in_place(uint8_t *pixels, int32_t height, int32_t bytes_per_row)
{
    // Swapped a few bytes at a time: no row buffer to allocate, so no
    // failure can leave the frame upside down.
    for (int32_t top = 0, bottom = height - 1; top < bottom; ++top, --bottom)
    {
        uint8_t *a = pixels + (size_t)top * (size_t)bytes_per_row;
        uint8_t *b = pixels + (size_t)bottom * (size_t)bytes_per_row;
        for (int32_t i = 0; i < bytes_per_row;)
        {
            uint8_t chunk[256];
            const int32_t n = bytes_per_row - i < (int32_t)sizeof(chunk) ? bytes_per_row - i : (int32_t)sizeof(chunk);
            memcpy(chunk, a + i, (size_t)n);
            memcpy(a + i, b + i, (size_t)n);
            memcpy(b + i, chunk, (size_t)n);
            i += n;
        }
    }
}

bitmap_data *copy_bits_from_opengl_render_buffer(const rectangle2d *rectangle)
{
    const int32_t width = rectangle->right - rectangle->left, height = rectangle->bottom - rectangle->top;
    if (width <= 0 || height <= 0) return nullptr;
    bitmap_data *bitmap = new_bitmap((int16_t)width, (int16_t)height, -1, _32bit_encoding, 0);
    if (!bitmap) return nullptr;
    uint8_t *pixels = bitmap->row_addresses[0];
    gl.PixelStorei(GL_PACK_ALIGNMENT, 1);
    gl.PixelStorei(GL_PACK_ROW_LENGTH, bitmap->bytes_per_row / 4);
    gl.ReadPixels(rectangle->left, active_screen.physical_pixel_height - rectangle->bottom, width, height, GL_BGRA,
                  GL_UNSIGNED_INT_8_8_8_8_REV, pixels);
    gl.PixelStorei(GL_PACK_ROW_LENGTH, 0);
    flip_rows_in_place(pixels, height, bitmap->bytes_per_row);
    return bitmap;
}

// ---- texture uploads -----------------------------------------------------------

struct texture_upload_format
{
    GLint internal_format;
    GLenum format, type;
};

// Encodings 7..12; false for any other.
static bool texture_upload_format_of(int32_t encoding, texture_upload_format *format)
{
    static const texture_upload_format formats[] = {
        {GL_RGB5, GL_BGRA, GL_UNSIGNED_SHORT_1_5_5_5_REV}, // 7 xrgb 1555
        {GL_RGB5_A1, GL_BGRA, GL_UNSIGNED_SHORT_1_5_5_5_REV}, // 8 argb 1555
        {GL_RGBA4, GL_BGRA, GL_UNSIGNED_SHORT_4_4_4_4_REV}, // 9 argb 4444
        {GL_RGB8, GL_BGRA, GL_UNSIGNED_INT_8_8_8_8_REV}, // 10 xrgb 8888
        {GL_RGBA8, GL_BGRA, GL_UNSIGNED_INT_8_8_8_8_REV}, // 11 argb 8888
        {GL_RGB, GL_RGB, GL_UNSIGNED_BYTE}, // 12 rgb 888
    };
    if (encoding < _16bit_xrgb_1555_texture_encoding || encoding > _24bit_rgb_888_texture_encoding) return false;
    *format = formats[encoding - _16bit_xrgb_1555_texture_encoding];
    return true;
}

void initialize_texture_cache_for_new_map_opengl(void)
{
    const screen_parameters *prefs = active_screen.prefs;
    const bool textures_32bit = prefs && (prefs->flags & _screen_pref_32bit_flag);
    const int64_t budget = (int64_t)(prefs ? prefs->texture_cache_size : 0) * 1048576;
    initialize_texture_cache_for_new_map(nullptr, new_cached_texture_opengl, update_cached_texture_opengl,
                                         delete_cached_texture_opengl, textures_32bit, gl_prefs.UseNPO2Textures,
                                         gl_prefs.UseAppleClientStorage, budget);
}

void dispose_texture_cache_from_old_map_opengl(void) { dispose_texture_cache_from_old_map(); }

static void log_unknown_texture_encoding(const cached_texture_data *texture)
{
    log_message(__FILE__, __LINE__, "OpenGL: texture encoding %d cannot be uploaded; the texture is dropped",
                (int)texture->encoding);
}

void *new_cached_texture_opengl(void *context, bitmap_data *bitmap, cached_texture_data *texture)
{
    (void)context;
    texture_upload_format format;
    if (!texture_upload_format_of(texture->encoding, &format))
    {
        log_unknown_texture_encoding(texture);
        return nullptr;
    }
    GLuint name = 0;
    gl.GenTextures(1, &name);
    if (name == 0) return nullptr;
    bind_texture_unit_for_update_opengl(0, (int32_t)name);
    const GLint wrap = (texture->flags & _texture_repeat_flag)            ? GL_REPEAT
                       : (texture->flags & _texture_clamp_to_border_flag) ? GL_CLAMP_TO_BORDER
                                                                          : GL_CLAMP_TO_EDGE;
    gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, wrap);
    gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, wrap);
    gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER,
                     (texture->flags & _texture_mipmaps_flag) ? GL_LINEAR_MIPMAP_LINEAR : GL_LINEAR);
    const screen_parameters *prefs = active_screen.prefs;
    if ((texture->flags & _texture_anisotropic_flag) && prefs &&
        (prefs->flags & _screen_pref_anisotropic_filtering_flag) && max_anisotropy > 0.0f)
        gl.TexParameterf(GL_TEXTURE_2D, GL_TEXTURE_MAX_ANISOTROPY_EXT, max_anisotropy);
    update_cached_texture_pixels(bitmap, texture);
    return gl_name_to_handle(name);
}

void *update_cached_texture_opengl(void *context, bitmap_data *bitmap, cached_texture_data *texture)
{
    (void)context;
    texture_upload_format format;
    if (!texture_upload_format_of(texture->encoding, &format))
    {
        log_unknown_texture_encoding(texture);
        return nullptr;
    }
    bind_texture_unit_for_update_opengl(0, (int32_t)gl_handle_to_name(texture->user_data));
    update_cached_texture_pixels(bitmap, texture);
    return texture->user_data;
}

void delete_cached_texture_opengl(void *context, void *name)
{
    (void)context;
    const GLuint texture_name = gl_handle_to_name(name);
    if (texture_name == 0) return;
    forget_bound_texture_opengl((int32_t)texture_name);
    gl.DeleteTextures(1, &texture_name);
}

bool update_cached_texture_pixels(bitmap_data *bitmap, cached_texture_data *texture)
{
    (void)bitmap;
    texture_upload_format format;
    if (!texture_upload_format_of(texture->encoding, &format)) return false;
    if (texture->row_pixels != 0) gl.PixelStorei(GL_UNPACK_ROW_LENGTH, texture->row_pixels);
    const bool mipmaps = (texture->flags & _texture_mipmaps_flag) != 0;
    if (mipmaps && !gl.GenerateMipmap && texture->pixels)
    {
        // GLU scales the block to powers of two itself and builds the chain.
        gl.Build2DMipmaps(GL_TEXTURE_2D, format.internal_format, texture->adjusted_width, texture->adjusted_height,
                          format.format, format.type, texture->pixels);
    }
    else
    {
        if (texture->adjusted_width != texture->hardware_width || texture->adjusted_height != texture->hardware_height)
        {
            gl.TexImage2D(GL_TEXTURE_2D, 0, format.internal_format, texture->hardware_width,
                          texture->hardware_height, 0, format.format, format.type, nullptr);
            if (texture->pixels)
                gl.TexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, texture->adjusted_width, texture->adjusted_height,
                                 format.format, format.type, texture->pixels);
        }
        else
        {
            gl.TexImage2D(GL_TEXTURE_2D, 0, format.internal_format, texture->adjusted_width,
                          texture->adjusted_height, 0, format.format, format.type, texture->pixels);
        }
        if (mipmaps && gl.GenerateMipmap) gl.GenerateMipmap(GL_TEXTURE_2D);
    }
    if (texture->row_pixels != 0) gl.PixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    return true;
}
