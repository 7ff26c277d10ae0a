#include "render_opengl.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "bitmap_text.h"
#include "cseries/log.h"
#include "detail_maps.h"
#include "gl_dispatch.h"
#include "hardware/hardware_rasterizers.h"
#include "hardware/texture_cache.h"
#include "hardware_rasterizer.h"
#include "interface_definitions.h"
#include "mesh.h"
#include "render_opengl_terrain.h"
#include "render/render_geometry.h"
#include "render/render_surfaces.h"
#include "render_opengl_scene.h"
#include "render/terrain_maps.h"
#include "screen.h"
#include "screen_preferences.h"
#include "setup_opengl_sdl.h"
#include "utilities_opengl.h"

rendervert_t render_verts[MAXIMUM_RENDER_VERTS];
projection_mode_data projections[NUMBER_OF_PROJECTION_MODES];

// texture_count, world_scale, color, vesk_depth, tinting, lod_bias, mesh_shade
shader_data shaders[NUMBER_OF_SHADER_MODES] = {
    {0, false, false, false, false, false, false, 0, 0}, // none
    {2, true, true, false, false, false, false, 0, 0}, // fixed multitexture
    {0, false, true, false, false, false, false, 0, 0}, // basic colour
    {1, false, true, false, false, false, false, 0, 0}, // basic texture
    {1, true, false, false, true, false, false, 0, 0}, // world texture
    {1, true, false, true, true, true, false, 0, 0}, // sprite
    {0, true, false, true, false, false, false, 0, 0}, // depth
    {1, true, false, false, false, false, true, 0, 0}, // mesh 0
    {2, true, false, false, false, false, true, 0, 0}, // mesh 1
    {3, true, false, false, false, false, true, 0, 0}, // mesh 2
    {4, true, false, false, false, false, true, 0, 0}, // mesh 3
};

enum
{
    MAXIMUM_RENDER_QUADS = MAXIMUM_RENDER_VERTS / 4,
};
static_assert(MAXIMUM_RENDER_VERTS <= 65536, "quad corners are numbered in 16 bits");

struct shader_program
{
    uint32_t program, vertex_shader, fragment_shader;
};

static struct render_opengl_globals
{
    int32_t current_shader_mode;
    uint32_t current_program;
    uint8_t shader_state_flags; // in force
    int32_t current_projection_mode;
    int32_t current_depth_mode;
    int32_t current_blend_mode; // -1: not yet set
    int32_t current_blend_func; // -1: not yet set
    int32_t current_matrix_mode; // -1: not yet set
    int32_t current_texture_unit;
    int32_t current_client_texture_unit;
    int32_t current_texture[NUMBER_OF_TEXTURE_UNITS]; // -1: none remembered
    bool use_fixed_function_fog;
    bool fog_can_be_enabled;
    bool rasterizer_initialized;
    bool shaders_failed; // a program failed to link this map: shaders stay off until it ends

    shader_program programs[NUMBER_OF_SHADER_MODES];
    int32_t program_count;

    // The glyph atlas as a resident texture: the record is ours, the atlas
    // bitmap the text layer's.  `font_texture` points at the record while the
    // map lives.
    preallocated_texture font_texture_record;
    preallocated_texture *font_texture;

    vertex_capture_procedure capture;

    uint16_t quad_indices[MAXIMUM_RENDER_QUADS * 6];
    bool quad_indices_built;
} render_opengl_globals;

void set_rendervert_color(rendervert_t *vertex, uint32_t argb)
{
    vertex->color[0] = (uint8_t)(argb >> 16);
    vertex->color[1] = (uint8_t)(argb >> 8);
    vertex->color[2] = (uint8_t)argb;
    vertex->color[3] = (uint8_t)(argb >> 24);
}

uint8_t shader_mode_state_flags(int32_t mode)
{
    const shader_data *data = &shaders[mode];
    uint8_t flags = 0;
    if (data->world_scale) flags |= _fog_flag;
    if (data->tinting) flags |= _tint_flag;
    for (int32_t unit = 0; unit < data->texture_count; ++unit) flags |= (uint8_t)(_texture_0_flag << unit);
    return flags;
}

// ---- state ---------------------------------------------------------------------

static void set_active_texture_unit(int32_t unit)
{
    if (render_opengl_globals.current_texture_unit == unit) return;
    gl.ActiveTexture(GL_TEXTURE0 + (GLenum)unit);
    render_opengl_globals.current_texture_unit = unit;
}

static void set_client_texture_unit(int32_t unit)
{
    if (render_opengl_globals.current_client_texture_unit == unit) return;
    gl.ClientActiveTexture(GL_TEXTURE0 + (GLenum)unit);
    render_opengl_globals.current_client_texture_unit = unit;
}

static void set_matrix_mode(int32_t mode)
{
    if (render_opengl_globals.current_matrix_mode == mode) return;
    gl.MatrixMode((GLenum)mode);
    render_opengl_globals.current_matrix_mode = mode;
}

void bind_texture_unit_opengl(int32_t unit, int32_t texture)
{
    if (unit < 0 || unit >= NUMBER_OF_TEXTURE_UNITS) return;
    const uint8_t bit = (uint8_t)(_texture_0_flag << unit);
    const bool on = (render_opengl_globals.shader_state_flags & bit) != 0;
    const bool enabling = (texture == -1 && on) || (texture != -1 && !on);
    const bool binding = texture != -1 && texture != render_opengl_globals.current_texture[unit];
    if (!enabling && !binding) return;
    set_active_texture_unit(unit);
    if (enabling)
    {
        // With shaders, units 1..3 read unit 0's coordinates: only unit 0 has an array.
        if (unit == 0 || !gl_prefs.UseShaders)
        {
            set_client_texture_unit(unit);
            if (texture == -1) gl.DisableClientState(GL_TEXTURE_COORD_ARRAY);
            else gl.EnableClientState(GL_TEXTURE_COORD_ARRAY);
        }
        if (texture == -1) gl.Disable(GL_TEXTURE_2D);
        else gl.Enable(GL_TEXTURE_2D);
        render_opengl_globals.shader_state_flags ^= bit;
    }
    if (binding)
    {
        gl.BindTexture(GL_TEXTURE_2D, (GLuint)texture);
        render_opengl_globals.current_texture[unit] = texture;
    }
}

void bind_texture_unit_for_update_opengl(int32_t unit, int32_t texture)
{
    if (unit < 0 || unit >= NUMBER_OF_TEXTURE_UNITS) return;
    set_active_texture_unit(unit);
    bind_texture_unit_opengl(unit, texture);
}

void load_texture_matrix_opengl(int32_t unit, const float *matrix)
{
    if (unit < 0 || unit >= NUMBER_OF_TEXTURE_UNITS) return;
    set_active_texture_unit(unit);
    set_matrix_mode(GL_TEXTURE);
    if (matrix) gl.LoadMatrixf(matrix);
    else gl.LoadIdentity();
}

void reset_texture_state_opengl(void)
{
    gl.ActiveTexture(GL_TEXTURE0);
    render_opengl_globals.current_texture_unit = 0;
    set_matrix_mode(GL_TEXTURE);
    gl.LoadIdentity();
    for (int32_t unit = NUMBER_OF_TEXTURE_UNITS - 1; unit >= 0; --unit)
    {
        gl.ActiveTexture(GL_TEXTURE0 + (GLenum)unit);
        gl.Disable(GL_TEXTURE_2D);
        gl.ClientActiveTexture(GL_TEXTURE0 + (GLenum)unit);
        gl.DisableClientState(GL_TEXTURE_COORD_ARRAY);
        render_opengl_globals.current_texture[unit] = -1;
        render_opengl_globals.shader_state_flags &= (uint8_t)~(_texture_0_flag << unit);
    }
    // Unit 0 is left active for both, and the record says so.
    render_opengl_globals.current_texture_unit = 0;
    render_opengl_globals.current_client_texture_unit = 0;
}

void forget_bound_texture_opengl(int32_t texture)
{
    for (int32_t unit = 0; unit < NUMBER_OF_TEXTURE_UNITS; ++unit)
        if (render_opengl_globals.current_texture[unit] == texture) render_opengl_globals.current_texture[unit] = -1;
}

void set_shader_mode_opengl(int32_t mode)
{
    if (mode < 0 || mode >= NUMBER_OF_SHADER_MODES) return;
    const uint8_t wanted = shaders[mode].state_flags;
    const uint8_t diff = (uint8_t)(wanted ^ render_opengl_globals.shader_state_flags);
    if (diff == 0 && mode == render_opengl_globals.current_shader_mode) return;
    for (int32_t unit = 0; unit < NUMBER_OF_TEXTURE_UNITS; ++unit)
    {
        const uint8_t bit = (uint8_t)(_texture_0_flag << unit);
        if ((diff & bit) && !(wanted & bit)) bind_texture_unit_opengl(unit, -1);
    }
    if (render_opengl_globals.use_fixed_function_fog && (diff & _fog_flag))
    {
        render_opengl_globals.shader_state_flags ^= _fog_flag;
        if (render_opengl_globals.shader_state_flags & _fog_flag) gl.Enable(GL_FOG);
        else gl.Disable(GL_FOG);
    }
    if (gl_prefs.UseShaders)
    {
        if (diff & _tint_flag)
        {
            render_opengl_globals.shader_state_flags ^= _tint_flag;
            if (render_opengl_globals.shader_state_flags & _tint_flag) gl.EnableVertexAttribArray(TINT_ATTRIBUTE_INDEX);
            else gl.DisableVertexAttribArray(TINT_ATTRIBUTE_INDEX);
        }
        if (shaders[mode].program != render_opengl_globals.current_program)
        {
            gl.UseProgram(shaders[mode].program);
            render_opengl_globals.current_program = shaders[mode].program;
        }
    }
    render_opengl_globals.current_shader_mode = mode;
}

void set_render_mode_opengl(int32_t shader_mode, int32_t projection_mode, int32_t depth_mode, int32_t blend_mode)
{
    set_shader_mode_opengl(shader_mode);

    if (projection_mode != render_opengl_globals.current_projection_mode)
    {
        if (VASSERT(projection_mode >= 0 && projection_mode < NUMBER_OF_PROJECTION_MODES,
                    "mode != _projection_mode_none"))
        {
            const projection_mode_data *data = &projections[projection_mode];
            gl.Viewport(data->viewport[0], data->viewport[1], data->viewport[2], data->viewport[3]);
            set_matrix_mode(GL_PROJECTION);
            gl.LoadMatrixf(data->proj_mat);
            if (!gl_prefs.UseShaders)
            {
                set_matrix_mode(GL_MODELVIEW);
                gl.LoadMatrixf(data->view_mat);
            }
            render_opengl_globals.current_projection_mode = projection_mode;
        }
    }

    if (gl_prefs.UseDepthTest && depth_mode != render_opengl_globals.current_depth_mode)
    {
        const int32_t changed = depth_mode ^ render_opengl_globals.current_depth_mode;
        if (changed & _depth_mode_test)
        {
            if (depth_mode & _depth_mode_test) gl.Enable(GL_DEPTH_TEST);
            else gl.Disable(GL_DEPTH_TEST);
        }
        if (changed & _depth_mode_write) gl.DepthMask((depth_mode & _depth_mode_write) ? GL_TRUE : GL_FALSE);
        render_opengl_globals.current_depth_mode = depth_mode;
    }

    if (blend_mode != render_opengl_globals.current_blend_mode)
    {
        if (blend_mode == _blend_mode_replace)
        {
            gl.Disable(GL_BLEND);
        }
        else
        {
            if (render_opengl_globals.current_blend_mode == _blend_mode_replace ||
                render_opengl_globals.current_blend_mode == -1)
                gl.Enable(GL_BLEND);
            if (blend_mode != render_opengl_globals.current_blend_func)
            {
                // Under fixed-function fog textures are not premultiplied.
                if (blend_mode == _blend_mode_premultiplied_alpha && !render_opengl_globals.use_fixed_function_fog)
                    gl.BlendFunc(GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
                else gl.BlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
                render_opengl_globals.current_blend_func = blend_mode;
            }
        }
        render_opengl_globals.current_blend_mode = blend_mode;
    }
}

void build_orthogonal_projection(void)
{
    projection_mode_data *data = &projections[_projection_mode_ortho];
    memset(data, 0, sizeof(*data));
    const float width = active_screen.width > 0 ? (float)active_screen.width : 1.0f;
    const float height = active_screen.height > 0 ? (float)active_screen.height : 1.0f;
    const uint32_t near_far_bits = 0xb8800100u; // -2/32767: integer z 0 on the near plane
    float near_far;
    memcpy(&near_far, &near_far_bits, sizeof(near_far));
    data->proj_mat[0] = 2.0f / width;
    data->proj_mat[5] = -2.0f / height;
    data->proj_mat[10] = near_far;
    data->proj_mat[12] = -1.0f;
    data->proj_mat[13] = 1.0f;
    data->proj_mat[14] = -1.0f;
    data->proj_mat[15] = 1.0f;
    for (int32_t i = 0; i < 4; ++i) data->view_mat[i * 5] = 1.0f;
    data->viewport[2] = active_screen.physical_pixel_width;
    data->viewport[3] = active_screen.physical_pixel_height;
    render_opengl_globals.current_projection_mode = _projection_mode_none;
}

void resize_opengl_screen(void) { build_orthogonal_projection(); }

opengl_draw_state current_opengl_draw_state(void)
{
    opengl_draw_state state = {};
    state.shader_mode = render_opengl_globals.current_shader_mode;
    state.projection_mode = render_opengl_globals.current_projection_mode;
    state.depth_mode = render_opengl_globals.current_depth_mode;
    state.blend_mode = render_opengl_globals.current_blend_mode;
    state.program = render_opengl_globals.current_program;
    state.shader_state_flags = render_opengl_globals.shader_state_flags;
    for (int32_t unit = 0; unit < NUMBER_OF_TEXTURE_UNITS; ++unit)
        state.textures[unit] = render_opengl_globals.current_texture[unit];
    return state;
}

vertex_capture_procedure set_vertex_capture_procedure(vertex_capture_procedure procedure)
{
    const vertex_capture_procedure previous = render_opengl_globals.capture;
    render_opengl_globals.capture = procedure;
    return previous;
}

void draw_render_verts_opengl(uint32_t primitive, int32_t first, int32_t count)
{
    if (first < 0 || count <= 0 || count > MAXIMUM_RENDER_VERTS - first) return;
    if (render_opengl_globals.capture)
    {
        const opengl_draw_state state = current_opengl_draw_state();
        render_opengl_globals.capture(primitive, render_verts + first, count, &state);
    }
    gl.DrawArrays(primitive, first, count);
}

// The triangles of every quad render_verts can hold, in fan order.
static const uint16_t *quad_indices(void)
{
    uint16_t *indices = render_opengl_globals.quad_indices;
    if (!render_opengl_globals.quad_indices_built)
    {
        for (int32_t quad = 0; quad < MAXIMUM_RENDER_QUADS; ++quad)
        {
            const uint16_t corner = (uint16_t)(quad * 4);
            const uint16_t fan[6] = {corner, (uint16_t)(corner + 1), (uint16_t)(corner + 2),
                                     corner, (uint16_t)(corner + 2), (uint16_t)(corner + 3)};
            memcpy(&indices[quad * 6], fan, sizeof(fan));
        }
        render_opengl_globals.quad_indices_built = true;
    }
    return indices;
}

void draw_render_quads_opengl(int32_t count)
{
    if (count <= 0 || count % 4 != 0 || count > MAXIMUM_RENDER_VERTS) return;
    if (!gl.DrawElements)
    {
        for (int32_t first = 0; first < count; first += 4) draw_render_verts_opengl(GL_TRIANGLE_FAN, first, 4);
        return;
    }
    if (render_opengl_globals.capture)
    {
        const opengl_draw_state state = current_opengl_draw_state();
        render_opengl_globals.capture(GL_QUADS, render_verts, count, &state);
    }
    gl.DrawElements(GL_TRIANGLES, count / 4 * 6, GL_UNSIGNED_SHORT, quad_indices());
}

// ---- shader programs -----------------------------------------------------------

static void append_line(std::vector<std::string> *lines, const char *format, ...) __attribute__((format(printf, 2, 3)));
static void append_line(std::vector<std::string> *lines, const char *format, ...)
{
    va_list arguments, copy;
    va_start(arguments, format);
    va_copy(copy, arguments);
    const int length = vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string line(length > 0 ? (size_t)length : 0, '\0');
    if (length > 0) vsnprintf(line.data(), (size_t)length + 1, format, arguments);
    va_end(arguments);
    lines->push_back(line);
}

void build_shader_text(int32_t mode, const shader_build_parameters *parameters, std::vector<std::string> *vertex,
                       std::vector<std::string> *fragment)
{
    const shader_data *data = &shaders[mode];
    const int32_t count = data->texture_count;
    VASSERT(!(data->color && data->texture_count > 1), "!(data->color && data->texture_count > 1)");
    VASSERT(!(data->color && data->tinting), "!(data->color && data->tinting)");

    vertex->clear();
    if (data->tinting)
    {
        append_line(vertex, "attribute vec4 in_tint_kpqr;\n");
        append_line(vertex, "varying vec4 tint_kpqr;\n");
    }
    append_line(vertex, "void main() {\n");
    if (data->tinting) append_line(vertex, "tint_kpqr = in_tint_kpqr;\n");
    if (count > 0)
    {
        append_line(vertex, "gl_TexCoord[0] = gl_MultiTexCoord0;\n");
        for (int32_t i = 1; i < count; ++i)
            append_line(vertex, "gl_TexCoord[%d] = gl_TextureMatrix[0][%d] * gl_MultiTexCoord0;\n", i, i);
    }
    if (data->color || data->tinting || count > 1) append_line(vertex, "gl_FrontColor = gl_Color;\n");
    if (data->world_scale) append_line(vertex, "vec4 pos = gl_Vertex*%.9lf;\n", 1.0 / 512.0);
    else append_line(vertex, "vec4 pos = gl_Vertex;\n");
    append_line(vertex, "gl_Position = gl_ProjectionMatrix * vec4(pos.xyz, 1.0);\n");
    if (data->vesk_depth)
        append_line(vertex, "gl_Position.z = (gl_ProjectionMatrix * vec4(0, 0, pos.w, 1.0)).z*pos.z/pos.w;\n");
    append_line(vertex, "}\n");

    fragment->clear();
    for (int32_t i = 0; i < count; ++i) append_line(fragment, "uniform sampler2D texture%d;\n", i);
    if (data->tinting) append_line(fragment, "varying vec4 tint_kpqr;\n");
    append_line(fragment, "void main() {\n");
    if (count == 0 && !data->color)
    {
        append_line(fragment, "gl_FragColor = vec4(0, 0, 0, 0);\n");
        append_line(fragment, "}\n");
        return;
    }
    char bias[32] = "";
    if (data->lod_bias) snprintf(bias, sizeof(bias), ", %.2f", (double)parameters->lod_bias);
    if (count > 0)
    {
        if (data->color) append_line(fragment, "vec4 color = gl_Color * texture2D(texture0, gl_TexCoord[0].st%s);\n", bias);
        else append_line(fragment, "vec4 color = texture2D(texture0, gl_TexCoord[0].st%s);\n", bias);
    }
    else
    {
        append_line(fragment, "vec4 color = gl_Color;\n");
    }
    if (data->mesh_shade && parameters->lightmap_blending)
    {
        const double t = parameters->transition_point / 65536.0;
        const double dark_scale = t == 0.0 ? 0.0 : (parameters->dark_fraction / 256.0) / t;
        const double light_scale =
            parameters->transition_point == 65536 ? 0.0 : -(parameters->light_fraction / 256.0) / (1.0 - t);
        append_line(fragment, "const vec3 dark_color = vec3(%.3f, %.3f, %.3f);\n", parameters->dark_color[0] / 65536.0,
                    parameters->dark_color[1] / 65536.0, parameters->dark_color[2] / 65536.0);
        append_line(fragment, "const vec3 light_color = vec3(%.3f, %.3f, %.3f);\n",
                    parameters->light_color[0] / 65536.0, parameters->light_color[1] / 65536.0,
                    parameters->light_color[2] / 65536.0);
        append_line(fragment, "const float transition_point = %.3f;\n", t);
        append_line(fragment, "const float dark_scale = %.3f;\n", dark_scale);
        append_line(fragment, "const float light_scale = %.3f;\n", light_scale);
        // The colour map's alpha is the shade: darker below the transition point, lighter above.
        append_line(fragment, "float shade = color.a;\n");
        append_line(fragment, "float shade_step = step(shade, transition_point);\n");
        append_line(fragment, "float shade_alpha = mix(light_scale, dark_scale, shade_step) * (transition_point - shade);\n");
        append_line(fragment, "vec3 shade_color = mix(light_color, dark_color, shade_step);\n");
        append_line(fragment, "color.rgb = mix(color.rgb, shade_color, shade_alpha);\n");
    }
    if (count >= 2)
    {
        static const char channels[] = {'r', 'g', 'b'};
        for (int32_t i = 1; i < count; ++i)
            append_line(fragment, "vec3 d%d = 2.0*texture2D(texture%d, gl_TexCoord[%d].pq).rgb - 1.0;\n", i, i, i);
        std::string sum = "vec3 detail = 1.0";
        for (int32_t i = 1; i < count; ++i)
        {
            char term[32];
            snprintf(term, sizeof(term), " + d%d * gl_Color.%c", (int)i, channels[i - 1]);
            sum += term;
        }
        append_line(fragment, "%s;\n", sum.c_str());
        append_line(fragment, "color.rgb *= detail;\n");
    }
    if (data->tinting)
    {
        append_line(fragment, "const vec3 L = vec3(0.4, 0.6, 0.2);\n");
        append_line(fragment, "vec4 tint_xyza = gl_Color;\n");
        append_line(fragment, "color *= tint_xyza.a;\n");
        append_line(fragment,
                    "color.rgb = color.rgb*tint_kpqr.x + color.a*tint_kpqr.yzw + dot(L,color.rgb)*tint_xyza.xyz;\n");
    }
    if (parameters->fog)
    {
        append_line(fragment, "float fogFactor = exp(-gl_Fog.density * (gl_FragCoord.z / gl_FragCoord.w));\n");
        append_line(fragment, "fogFactor = clamp(fogFactor, 0.0, 1.0);\n");
        if (data->world_scale && data->tinting)
            append_line(fragment, "color.rgb = mix(color.a*gl_Fog.color.rgb, color.rgb, fogFactor);\n");
        else append_line(fragment, "color.rgb = mix(gl_Fog.color.rgb, color.rgb, fogFactor);\n");
    }
    append_line(fragment, "gl_FragColor = color;\n");
    append_line(fragment, "}\n");
}

static void log_info_log(const char *what, uint32_t object, bool program)
{
    char text[2048];
    GLsizei length = 0;
    if (program) gl.GetProgramInfoLog(object, (GLsizei)sizeof(text), &length, text);
    else gl.GetShaderInfoLog(object, (GLsizei)sizeof(text), &length, text);
    if (length <= 0) return;
    text[length < (GLsizei)sizeof(text) ? length : (GLsizei)sizeof(text) - 1] = '\0';
    log_message(__FILE__, __LINE__, "%s log:\n%s", what, text);
}

bool link_program_opengl(uint32_t program, uint32_t vertex_shader, uint32_t fragment_shader)
{
    gl.LinkProgram(program);
    GLint status = 0;
    gl.GetProgramiv(program, GL_LINK_STATUS, &status);
    if (status == 1) return true;
    log_info_log("program", program, true);
    log_info_log("vertex shader", vertex_shader, false);
    log_info_log("fragment shader", fragment_shader, false);
    return false;
}

static uint32_t compile_shader(GLenum kind, const std::vector<std::string> &lines)
{
    std::vector<const char *> sources;
    for (const std::string &line : lines) sources.push_back(line.c_str());
    const GLuint shader = gl.CreateShader(kind);
    gl.ShaderSource(shader, (GLsizei)sources.size(), sources.data(), nullptr);
    gl.CompileShader(shader);
    return shader;
}

static shader_build_parameters current_shader_build_parameters(void)
{
    shader_build_parameters parameters = {};
    parameters.fog = render_opengl_globals.fog_can_be_enabled;
    parameters.lightmap_blending = gl_prefs.UseLightmapBlendingShader;
    parameters.lod_bias = gl_prefs.TextureLodBias;
    if (const mesh_header *mesh = get_mesh_header())
    {
        parameters.dark_color[0] = mesh->dark_color.red, parameters.dark_color[1] = mesh->dark_color.green;
        parameters.dark_color[2] = mesh->dark_color.blue;
        parameters.light_color[0] = mesh->light_color.red, parameters.light_color[1] = mesh->light_color.green;
        parameters.light_color[2] = mesh->light_color.blue;
        parameters.transition_point = mesh->transition_point;
        parameters.dark_fraction = mesh->dark_fraction;
        parameters.light_fraction = mesh->light_fraction;
    }
    return parameters;
}

bool initialize_shader_programs_opengl2(bool world_scale)
{
    if (!VASSERT(gl_prefs.UseShaders, "gl_prefs.UseShaders")) return false;
    const shader_build_parameters parameters = current_shader_build_parameters();
    bool built = true;
    for (int32_t mode = _shader_first_opengl2; mode < NUMBER_OF_SHADER_MODES && built; ++mode)
    {
        shader_data *data = &shaders[mode];
        if (data->world_scale != world_scale) continue;
        if (!VASSERT(render_opengl_globals.program_count < NUMBER_OF_SHADER_MODES,
                     "program_count <= NUMBER_OF_SHADER_MODES"))
            break;
        std::vector<std::string> vertex_lines, fragment_lines;
        build_shader_text(mode, &parameters, &vertex_lines, &fragment_lines);
        shader_program *entry = &render_opengl_globals.programs[render_opengl_globals.program_count];
        entry->vertex_shader = compile_shader(GL_VERTEX_SHADER, vertex_lines);
        entry->fragment_shader = compile_shader(GL_FRAGMENT_SHADER, fragment_lines);
        entry->program = gl.CreateProgram();
        gl.AttachShader(entry->program, entry->vertex_shader);
        gl.AttachShader(entry->program, entry->fragment_shader);
        if (data->tinting) gl.BindAttribLocation(entry->program, TINT_ATTRIBUTE_INDEX, "in_tint_kpqr");
        // Counted before linking so that a failed program is deleted with the rest.
        ++render_opengl_globals.program_count;
        if (!link_program_opengl(entry->program, entry->vertex_shader, entry->fragment_shader))
        {
            built = false;
            break;
        }
        if (data->texture_count > 0)
        {
            gl.UseProgram(entry->program);
            for (int32_t i = 0; i < data->texture_count; ++i)
            {
                char name[16];
                snprintf(name, sizeof(name), "texture%d", (int)i);
                const GLint location = gl.GetUniformLocation(entry->program, name);
                if (location >= 0) gl.Uniform1i(location, i);
            }
        }
        data->program = entry->program;
    }
    gl.UseProgram(render_opengl_globals.current_program);
    return built;
}

void dispose_shader_programs_opengl2(void)
{
    if (render_opengl_globals.program_count == 0) return;
    gl.UseProgram(0);
    render_opengl_globals.current_program = 0;
    for (int32_t i = 0; i < render_opengl_globals.program_count; ++i)
    {
        shader_program *entry = &render_opengl_globals.programs[i];
        gl.DeleteProgram(entry->program);
        gl.DeleteShader(entry->fragment_shader);
        gl.DeleteShader(entry->vertex_shader);
        *entry = shader_program{};
    }
    for (shader_data &data : shaders) data.program = 0;
    render_opengl_globals.program_count = 0;
}

int32_t shader_program_count(void) { return render_opengl_globals.program_count; }

// ---- map life ------------------------------------------------------------------

static void bind_client_arrays(void)
{
    const bool shaders_on = gl_prefs.UseShaders;
    gl.VertexPointer(shaders_on ? 4 : 3, GL_INT, sizeof(rendervert_t), render_verts[0].position);
    gl.EnableClientState(GL_VERTEX_ARRAY);
    gl.ColorPointer(4, GL_UNSIGNED_BYTE, sizeof(rendervert_t), render_verts[0].color);
    gl.EnableClientState(GL_COLOR_ARRAY);
    set_client_texture_unit(0);
    gl.TexCoordPointer(shaders_on ? 4 : 2, GL_FLOAT, sizeof(rendervert_t), render_verts[0].texcoord);
    if (!shaders_on && detail_maps_enabled())
    {
        set_client_texture_unit(1);
        gl.TexCoordPointer(2, GL_FLOAT, sizeof(rendervert_t), &render_verts[0].texcoord[2]);
        set_client_texture_unit(0);
    }
    if (shaders_on)
        gl.VertexAttribPointer(TINT_ATTRIBUTE_INDEX, 4, GL_UNSIGNED_BYTE, GL_TRUE, sizeof(rendervert_t),
                               render_verts[0].tint);
}

static void reset_remembered_state(void)
{
    render_opengl_globals.fog_can_be_enabled = false;
    render_opengl_globals.use_fixed_function_fog = false;
    gl.DepthFunc(GL_LEQUAL);
    gl.BlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    render_opengl_globals.current_matrix_mode = -1;
    reset_texture_state_opengl();
    gl.Disable(GL_FOG);
    render_opengl_globals.current_shader_mode = _shader_none;
    render_opengl_globals.current_program = 0;
    render_opengl_globals.shader_state_flags = 0;
    render_opengl_globals.current_projection_mode = _projection_mode_none;
    render_opengl_globals.current_depth_mode = _depth_mode_none;
    gl.DepthMask(GL_FALSE);
    gl.Disable(GL_DEPTH_TEST);
    render_opengl_globals.current_blend_mode = -1;
    render_opengl_globals.current_blend_func = -1;
    build_orthogonal_projection();
}

static void initialize_font_texture(void)
{
    bitmap_data *atlas = initialize_hardware_font(get_interface_font_index(1));
    if (!atlas) log_message(__FILE__, __LINE__, "OpenGL: no memory for the glyph atlas; text has no font texture");
    render_opengl_globals.font_texture = texture_cache_initialize_preallocated(
        &render_opengl_globals.font_texture_record, atlas, _bitmap_ownership_by_caller, nullptr, 0);
}

// The texture goes first, so that it never outlives the atlas it reads.
static void dispose_font_texture(void)
{
    // A cache disposed in the meantime has disposed the texture with it and
    // zero-filled our record, which then no longer says it is ours.
    preallocated_texture *font = render_opengl_globals.font_texture;
    if (font && font->user_owned_ptex) texture_cache_dispose_preallocated(font);
    render_opengl_globals.font_texture = nullptr;
    dispose_hardware_font();
}

// Everything of the map's start undone, the context kept.
static void dispose_map_state(void)
{
    dispose_volatile_cmap_texture_opengl();
    if (render_opengl_globals.rasterizer_initialized)
    {
        dispose_font_texture();
        dispose_texture_cache_from_old_map_opengl();
        dispose_shader_programs_opengl2();
        dispose_cmap_shading_tables_from_old_map();
        dispose_tile_cache_from_old_map();
        clear_opengl_backbuffer();
        clear_opengl_backbuffer();
        render_opengl_globals.rasterizer_initialized = false;
    }
    dispose_opengl_context();
    whole_model_transparent_hack_required = false;
}

// A program that does not link leaves the map to the fixed-function path:
// the start is made again with UseShaders forced off.
static bool restart_without_shaders(void)
{
    // At map start the screen-space programs exist before the map counts as started.
    dispose_shader_programs_opengl2();
    dispose_map_state();
    render_opengl_globals.shaders_failed = true;
    force_opengl_shaders_off(true);
    return initialize_opengl_rasterizer_for_new_map();
}

bool initialize_opengl_rasterizer_for_new_map(void)
{
    render_opengl_globals.rasterizer_initialized = false;
    if (!SetupOpenGLContext()) return false;
    reset_remembered_state();
    bind_client_arrays();
    for (int32_t mode = 0; mode < NUMBER_OF_SHADER_MODES; ++mode) shaders[mode].state_flags = shader_mode_state_flags(mode);
    if (gl_prefs.UseShaders && !initialize_shader_programs_opengl2(false)) return restart_without_shaders();
    initialize_texture_cache_for_new_map_opengl();
    initialize_font_texture();
    render_opengl_globals.rasterizer_initialized = true;
    whole_model_transparent_hack_required = !gl_prefs.UseShaders;
    return true;
}

void initialize_opengl_fog_for_map(const mesh_header *mesh)
{
    const bool fog_preferred = active_screen.prefs && (active_screen.prefs->flags & _screen_pref_fog_enabled_flag);
    if (fog_preferred && mesh && mesh->fog_density != 0)
    {
        const GLfloat color[4] = {mesh->fog_color.red / 65535.0f, mesh->fog_color.green / 65535.0f,
                                  mesh->fog_color.blue / 65535.0f, 1.0f};
        gl.Fogi(GL_FOG_MODE, GL_EXP);
        gl.Fogfv(GL_FOG_COLOR, color);
        gl.Fogf(GL_FOG_DENSITY, (float)mesh->fog_density * 512.0f);
        render_opengl_globals.fog_can_be_enabled = true;
        render_opengl_globals.use_fixed_function_fog = !gl_prefs.UseShaders;
    }
    else
    {
        gl.Disable(GL_FOG);
        render_opengl_globals.fog_can_be_enabled = false;
        render_opengl_globals.use_fixed_function_fog = false;
    }
}

void initialize_opengl_mesh_parameters_for_new_map(void)
{
    if (!render_opengl_globals.rasterizer_initialized) return;
    initialize_opengl_fog_for_map(get_mesh_header());
    // The world-space programs are built here: their fog code depends on the map.
    if (gl_prefs.UseShaders && !initialize_shader_programs_opengl2(true))
    {
        if (!restart_without_shaders()) return;
        initialize_opengl_fog_for_map(get_mesh_header());
    }
    if (gl_prefs.UseCMapTiles) initialize_tile_cache_for_new_map(0);
    initialize_cmap_shading_tables_for_new_map();
    initialize_volatile_cmap_texture_opengl();
}

void dispose_opengl_rasterizer_from_old_map(void)
{
    dispose_map_state();
    if (render_opengl_globals.shaders_failed)
    {
        render_opengl_globals.shaders_failed = false;
        force_opengl_shaders_off(false);
    }
}

bool opengl_rasterizer_initialized(void) { return render_opengl_globals.rasterizer_initialized; }
preallocated_texture *opengl_font_texture(void) { return render_opengl_globals.font_texture; }
bool opengl_fog_can_be_enabled(void) { return render_opengl_globals.fog_can_be_enabled; }
bool opengl_uses_fixed_function_fog(void) { return render_opengl_globals.use_fixed_function_fog; }

void register_opengl_hooks(void)
{
    register_texture_cache_hooks();
    register_opengl_hardware_rasterizer();
}
