#pragma once
// The OpenGL rasterizer's state machine and vertex stream: one shared vertex
// array, the remembered state (shader mode, program, projection, depth and
// blend modes, bound textures, enabled units) through which only changes
// reach the driver, the two projections, the generated shader programs, and
// the rasterizer's start and end for each map.
//
// Main thread only; the remembered state assumes nothing else calls OpenGL.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct mesh_header;
struct preallocated_texture;

// One vertex as OpenGL reads the interleaved arrays.
struct rendervert_t
{
    int32_t position[4]; // x, y, z, w
    float texcoord[4]; // s, t of unit 0, then unit 1's s, t (fixed function) or p, q (shaders)
    uint8_t tint[4]; // the attribute in_tint_kpqr, normalized
    uint8_t color[4]; // red, green, blue, alpha
};
static_assert(sizeof(rendervert_t) == 40);
static_assert(offsetof(rendervert_t, position) == 0);
static_assert(offsetof(rendervert_t, texcoord) == 16);
static_assert(offsetof(rendervert_t, tint) == 32);
static_assert(offsetof(rendervert_t, color) == 36);

enum
{
    MAXIMUM_RENDER_VERTS = 24576, // 8192 triangles
    TINT_ATTRIBUTE_INDEX = 6,
    NUMBER_OF_TEXTURE_UNITS = 4,
};
extern rendervert_t render_verts[MAXIMUM_RENDER_VERTS];

// Stores 0xAARRGGBB as the vertex's red, green, blue, alpha bytes.
void set_rendervert_color(rendervert_t *vertex, uint32_t argb);

enum shader_mode
{
    _shader_none = 0,
    _shader_fixed_multitexture,
    _shader_basic_color,
    _shader_basic_texture,
    _shader_world_texture,
    _shader_sprite,
    _shader_depth,
    _shader_mesh_0,
    _shader_mesh_1,
    _shader_mesh_2,
    _shader_mesh_3,
    NUMBER_OF_SHADER_MODES,
    _shader_first_opengl2 = _shader_basic_color,
};

enum depth_mode
{
    _depth_mode_none = 0,
    _depth_mode_test = 1,
    _depth_mode_write = 2,
    _depth_mode_full = 3,
};

enum blend_mode
{
    _blend_mode_replace = 0,
    _blend_mode_alpha,
    _blend_mode_premultiplied_alpha,
};

enum projection_mode
{
    _projection_mode_none = -1,
    _projection_mode_ortho = 0,
    _projection_mode_perspective,
    NUMBER_OF_PROJECTION_MODES,
};

enum shader_state_flags
{
    _texture_0_flag = 1,
    _texture_1_flag = 2,
    _texture_2_flag = 4,
    _texture_3_flag = 8,
    _texture_x_mask = 15,
    _fog_flag = 16,
    _tint_flag = 32,
};

struct projection_mode_data
{
    float proj_mat[16]; // column-major
    float view_mat[16];
    int32_t viewport[4]; // x, y, width, height
    float unproject_y_bias, unproject_y_scale; // perspective only
};
extern projection_mode_data projections[NUMBER_OF_PROJECTION_MODES];

// ---- shader modes --------------------------------------------------------------

// What a shader mode draws with (the `shaders` table).
struct shader_data
{
    uint8_t texture_count; // 0..4
    bool world_scale; // positions in world units, scaled by 1/512
    bool color; // the vertex colour multiplies the texture
    bool vesk_depth; // depth taken at the distance in w
    bool tinting; // the tint attribute and formula
    bool lod_bias; // texture 0 sampled with TextureLodBias
    bool mesh_shade; // lightmap blending from the colour map's alpha
    uint8_t state_flags; // shader_state_flags, computed at map start
    uint32_t program; // GL name, 0 when none
};
extern shader_data shaders[NUMBER_OF_SHADER_MODES];

// The state flags a mode needs.
uint8_t shader_mode_state_flags(int32_t mode);

// What the generated text depends on besides the mode.
struct shader_build_parameters
{
    bool fog; // fog_can_be_enabled_opengl when built
    bool lightmap_blending; // UseLightmapBlendingShader
    float lod_bias; // TextureLodBias
    // The map's terrain shade (mesh header): 16.16 colours and transition
    // point, 8.8 fractions.
    int32_t dark_color[3], light_color[3];
    int32_t transition_point;
    int32_t dark_fraction, light_fraction;
};

// The vertex and fragment shader lines of `mode` (GLSL 1.10, no line limit).
void build_shader_text(int32_t mode, const shader_build_parameters *parameters, std::vector<std::string> *vertex,
                       std::vector<std::string> *fragment);

// Builds the programs of modes 2..10 whose world_scale equals the argument
// (screen space at map start, world space once fog is known).  False when one
// failed to compile or link: its logs are written and it is not stored.
bool initialize_shader_programs_opengl2(bool world_scale);
// Links `program` and logs the program's and shaders' logs when it fails.
bool link_program_opengl(uint32_t program, uint32_t vertex_shader, uint32_t fragment_shader);
// Deletes every program with its shaders and forgets them.
void dispose_shader_programs_opengl2(void);
int32_t shader_program_count(void);

// ---- state ---------------------------------------------------------------------

// Makes `mode` current: units it does not use off, fog and the tint array
// toggled as needed, its program in use.  Nothing reaches OpenGL when the mode
// and its flags are already in force.
void set_shader_mode_opengl(int32_t mode);
// The shader mode, then projection, depth (only with UseDepthTest) and blend,
// each only when it changes.
void set_render_mode_opengl(int32_t shader_mode, int32_t projection_mode, int32_t depth_mode, int32_t blend_mode);
// Binds the GL texture `texture` to `unit` (0..3), enabling the unit as
// needed; -1 disables the unit.
void bind_texture_unit_opengl(int32_t unit, int32_t texture);
// The same, but `unit` is made active even when nothing else changes, so a
// following upload goes to it.
void bind_texture_unit_for_update_opengl(int32_t unit, int32_t texture);
// Loads `unit`'s texture matrix (column-major; null: identity); `unit` is
// left the active one.
void load_texture_matrix_opengl(int32_t unit, const float *matrix);
// Every unit off and unbound, unit 0 active (client unit too).
void reset_texture_state_opengl(void);
// Forgets `texture` wherever it is remembered as bound (before deleting it).
void forget_bound_texture_opengl(int32_t texture);

// The orthographic projection of the active screen; forgets the current projection.
void build_orthogonal_projection(void);
void resize_opengl_screen(void);

// Draws render_verts[first .. first + count) with `primitive`.
void draw_render_verts_opengl(uint32_t primitive, int32_t first, int32_t count);
// Draws render_verts[0 .. count) as count / 4 quads in one draw, each split
// as a fan of its four corners is (corners 0 1 2, then 0 2 3), so a quad
// covers the pixels its fan would.  The capture hook is handed the corners
// with GL_QUADS.  Nothing unless count is a positive multiple of 4.
void draw_render_quads_opengl(int32_t count);

// The state in force at a draw, as the capture hook sees it.
struct opengl_draw_state
{
    int32_t shader_mode, projection_mode, depth_mode, blend_mode;
    uint32_t program;
    uint8_t shader_state_flags;
    int32_t textures[NUMBER_OF_TEXTURE_UNITS];
};
// Called before every draw with the vertices drawn (tests).  Null: none.
typedef void (*vertex_capture_procedure)(uint32_t primitive, const rendervert_t *vertices, int32_t count,
                                         const opengl_draw_state *state);
vertex_capture_procedure set_vertex_capture_procedure(vertex_capture_procedure procedure);
// The remembered state now.
opengl_draw_state current_opengl_draw_state(void);

// ---- map life ------------------------------------------------------------------

// The context, the remembered state reset, the client arrays, the
// screen-space programs, the texture cache and the font texture (the glyph
// atlas of interface font 1, resident, its bitmap the text layer's).  False
// when the context cannot be made.  A program that fails to link forces
// UseShaders off (logged) and the start is made again without shaders.
bool initialize_opengl_rasterizer_for_new_map(void);
// After the mesh is loaded: fog, the world-space programs, the terrain tile
// cache (with UseCMapTiles), the colour-map shading tables and the colour
// map's texture.
void initialize_opengl_mesh_parameters_for_new_map(void);
// The font texture and its atlas, the texture cache, the programs, the tile
// cache and the shading tables; then the context.
void dispose_opengl_rasterizer_from_old_map(void);
bool opengl_rasterizer_initialized(void);
// The font texture while a map is started (its `texture` null when the
// upload failed); null otherwise.
preallocated_texture *opengl_font_texture(void);

// GL_EXP fog of the map's colour and density (x 512) when the fog screen
// flag is set and the map has fog; otherwise fog off.
void initialize_opengl_fog_for_map(const mesh_header *mesh);

// Fog as the map set it (GL_FOG usable; fixed-function fog in use).
bool opengl_fog_can_be_enabled(void);
bool opengl_uses_fixed_function_fog(void);

// Joins the back end to the program: the texture cache to the bitmaps'
// disposal and the back end's table of hardware procedures.
void register_opengl_hooks(void);
