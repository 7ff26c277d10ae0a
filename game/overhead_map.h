#pragma once
// The overhead map: the battlefield's picture, blips, flags, sketches and the camera.
//
// The small picture of the whole map in the top-right corner of the view: the
// map's painted overview (sequence 0, view 0, frame 0 of the map's overhead
// map collection, a flat 8-bit picture), a 2 x 2 blip per visible unit, a
// flashing 6 x 6 icon per flag, the players' sketches and the camera as a
// yellow arrow and outline.  It fades in and out, and on maps with limited
// terrain visibility shows only what the local player has explored, in a
// window that follows the explored area.  Drawn as post-rasterization effect
// 3 over the finished scene.  Input: overhead_map_input.h.
//
// Local state: nothing here is read by the simulation or hashed.
// Main thread only.

#include <cstddef>
#include <cstdint>

#include "cseries/byte_swapping.h"
#include "cseries/cseries.h"
#include "point2d.h"
#include "rgb_color.h"
#include "world.h"

struct bitmap_data;
struct command_header;
struct color_table;
struct flag_data;
struct new_game_data;
struct view_data;

enum
{
    MAXIMUM_OVERHEAD_MAP_BLIPS = 400,
    NUMBER_OF_OVERHEAD_MAP_COLOR_SLOTS = 20,
    // Team colours take slots 4 .. 4 + teams - 1: more teams would not fit.
    MAXIMUM_OVERHEAD_MAP_TEAMS = NUMBER_OF_OVERHEAD_MAP_COLOR_SLOTS - 4,
    MAXIMUM_OVERHEAD_MAP_DIMENSION = 4096,
    MAXIMUM_VISIBLE_SKETCH_POINTS = 200,
    MAXIMUM_POINTS_PER_SKETCH_COMMAND = 20,
    MAXIMUM_QUEUED_SKETCH_POINTS = MAXIMUM_POINTS_PER_SKETCH_COMMAND - 1, // room for the terminator
    OVERHEAD_MAP_POSTRASTERIZATION_PRIORITY = 3,
    OVERHEAD_MAP_FADE_TICKS = 15,
    OVERHEAD_MAP_REDRAW_TICKS = 15, // the working bitmap is rebuilt when more ticks than this passed
};

// The pop-up texts of the colour switch: 0 the label, 1 and 2 the two states.
#define OVERHEAD_MAP_STRING_LIST_TAG FOUR_CHARACTER_CODE('i', 'n', 'o', 'm')

enum overhead_map_state
{
    _overhead_map_closed = 0,
    _overhead_map_opening,
    _overhead_map_open,
    _overhead_map_closing,
};

enum overhead_map_drawing_state
{
    _overhead_map_friend_or_foe_colors = 0,
    _overhead_map_team_colors,
};

// Colour slots: indexes into the active colour indexes.  Slot 4 + t is team
// t's colour in team colours.
enum overhead_map_color_slot
{
    _overhead_map_camera_slot = 0,
    _overhead_map_allied_slot,
    _overhead_map_neutral_slot,
    _overhead_map_sketch_slot,
    _overhead_map_own_slot,
    _overhead_map_enemy_slot,
    NUMBER_OF_FRIEND_OR_FOE_SLOTS,
    _overhead_map_first_team_slot = _overhead_map_own_slot,
};

// A sketch point: a picture pixel divided by the sketch granularity.  (0, 0)
// ends a line.  Also the wire record of sketch commands (two bytes, no swap).
struct sketch_point2d
{
    uint8_t x, y;
};
static_assert(sizeof(sketch_point2d) == 2);

// One unit blip of the last scan: the unit's object and its colour slot.
struct blip
{
    int16_t object_index;
    int16_t color_index;
};

// 256 screen pixels, one per palette index of the working bitmap, in the
// screen's encoding (16-bit pixels in the first 512 bytes, or 32-bit).
struct shading_table
{
    uint8_t pixels[256 * 4];
};

struct overhead_map_globals
{
    bool initialized;
    bool limited_terrain_visibility;
    int16_t state; // overhead_map_state
    int16_t mouse_state; // 0 no press, 1 press began off the map, 2 press began on it
    int32_t ticks; // into the opening or closing fade
    int32_t last_real_update_tick; // local time of the last `updates` step; 0 forces a redraw
    int32_t last_update_tick; // game time of the last redraw
    int32_t last_blip_update_tick; // game time of the last blip scan, NONE at first
    int32_t updates; // its lowest bit makes the flag icons flash
    rectangle2d bounds; // screen rectangle of the map drawn last
    point2d offset; // picture pixel at the window's top-left (limited visibility)
    point2d visual_offset; // shift that centres the explored area in the window
    point2d scaled_visual_offset;
    int16_t display_width, display_height;
    float scale; // screen pixels per picture pixel
    bool dragging;
    point2d drag_origin;
    rectangle2d drag_original_bounds;
    bitmap_data *original_bitmap; // the picture (its collection owns it)
    bitmap_data *bitmap; // the working 8-bit bitmap (owned here)
    fixed_fraction map_transparency, overlay_transparency; // 65535: invisible
    bool sketching;
    bool local_team_is_eliminated;
    int32_t first_sketch_point_time, last_sketch_point_time;
    int16_t queued_sketch_point_count;
    sketch_point2d queued_sketch_points[MAXIMUM_POINTS_PER_SKETCH_COMMAND];
    int16_t visible_sketch_point_count;
    sketch_point2d visible_sketch_points[MAXIMUM_VISIBLE_SKETCH_POINTS];
    int16_t sketch_point_granularity_x, sketch_point_granularity_y;
    bool valid_map_click_location;
    world_point2d map_click_location;
    int16_t drawing_state, desired_drawing_state; // overhead_map_drawing_state
    int16_t limited_visibility_width, limited_visibility_height;
    shading_table good_bad_shading_table;
    uint8_t good_bad_color_indexes[NUMBER_OF_OVERHEAD_MAP_COLOR_SLOTS];
    shading_table team_shading_table;
    uint8_t team_color_indexes[NUMBER_OF_OVERHEAD_MAP_COLOR_SLOTS];
    shading_table *active_shading_table;
    uint8_t *active_color_indexes;
    int16_t number_of_blips;
    blip blips[MAXIMUM_OVERHEAD_MAP_BLIPS];
};

// Flag icons: 6 rows of 6 bits, bit 0 the leftmost pixel.
extern const uint8_t banner_icon_bits[6]; // flags of type 0: a square ring
extern const uint8_t token_icon_bits[6]; // other flags: a cross

// ---- life cycle -----------------------------------------------------------------------

// Start-up: registers the drawing as post-rasterization effect 3.  Always true.
bool initialize_overhead_map(void);
// Builds the map for the new game: the picture, the working bitmap, both
// palettes, the window for limited visibility.  A missing or malformed
// picture leaves the map disabled for the game (reported as a data mismatch);
// the game goes on.  Always true.
bool initialize_overhead_map_for_new_game(const new_game_data *data);
// The screen changed size during the game: the window of a scrolling
// limited-visibility map takes the size the new screen asks for (refilled
// when next drawn), and a hardware map its default zoom again.  Nothing when
// no map was built.
void update_overhead_map_for_new_resolution(void);
// Frees the working bitmap; safe when nothing was built.
void dispose_overhead_map_from_old_game(void);

// ---- what the bars and the rest of the game ask ------------------------------------------

// Opens or closes the map (the status bar's map button); nothing before the
// map is built.  Hiding while sketching leaves sketch mode first.
void set_overhead_map_visibility(bool visible);
// True when the map is fully open.
bool get_overhead_map_state(void);
// True once a picture was built for this game.
bool overhead_map_initialized(void);
// Cycles friend-or-foe and team colours and tells the player on the pop-up
// line; nothing without the string list 'inom'.
void toggle_overhead_map_drawing_state(void);
// The camera's outline on the ground for the eye at `center` looking along
// `yaw`: four world points.
void get_overhead_map_view_projection_corners(const world_point2d *center, angle yaw, world_point2d corners[4]);

// ---- the steps, public for the input module and the tests ---------------------------------

// The post-rasterization effect.
void rasterize_overhead_map(view_data *view);
// Rescans the units into blips (slot rules, at most 400, own units last).
void update_monster_blips(void);

// What the blip rules read of one unit and of the game (gathered by
// update_monster_blips from the unit, its definition and its object).
struct overhead_map_blip_facts
{
    bool ambient_life_class; // never shown
    bool ambient_for_selection;
    bool targetable_if_ambient; // the definition's flag
    bool invisible_definition; // the definition hides it from the map
    bool hunted;
    bool allied; // allied with the local team (its own team included)
    bool same_team; // on the local team
    bool own; // the local player's
    bool ignores_user_commands;
    bool object_hidden; // wholly under media, hidden from the map, or fading out
    bool on_visible_cell; // its cell is visible now
    int16_t team; // NONE: no team
};
struct overhead_map_blip_context
{
    bool observer; // a network game without a local team
    bool team_colors; // the drawing state
    bool hunting; // the game's scoring
    bool allow_overhead_map; // the game's option
    bool network_film; // a replay that is not a solo replay
    bool limited_visibility; // the game's option
};
// The unit's colour slot, or NONE when it gets no blip.
int16_t overhead_map_blip_slot(const overhead_map_blip_facts *unit, const overhead_map_blip_context *game);
// Orders blips by slot: teams first, then allied, neutral, enemy and own
// units last (on top).  Stable.
void sort_friendly_blips_last(blip *blips, int32_t count);
// A flag's colour slot for the local team (NONE: none).
int16_t overhead_map_flag_slot(const flag_data *flag, int16_t local_team, bool team_colors);
// Draws every flag's icon through `drawer`, which gets the icon's top-left
// corner, its bits and the colours of set and cleared bits (palette indexes of
// the working bitmap; NONE transparent).
typedef void (*flag_blip_drawer)(void *data, const point2d *corner, const uint8_t *icon_bits, int16_t set_color,
                                 int16_t clear_color);
void draw_flag_blips(void *data, flag_blip_drawer drawer);
void rasterize_camera_trapezoid(view_data *view);
// Gives up the least used colours of `picture`'s palette to the colour slots
// and fills `table` (in `encoding`: 1 555, 2 565, 3 32-bit) and `color_indexes`.
// The picture's pixels are remapped in place.  False (logged) for an
// encoding it cannot fill or a picture whose rows are not packed.
bool build_overhead_map_shading_table(shading_table *table, uint8_t color_indexes[NUMBER_OF_OVERHEAD_MAP_COLOR_SLOTS],
                                      bool use_team_colors, bitmap_data *picture, const color_table *colors,
                                      int16_t encoding);
// The picture of the map's overhead map collection, or null (a data mismatch
// reported) when it is missing, run-length, not 8-bit or above 4096 x 4096.
bitmap_data *get_original_overhead_map_bitmap(void);

// Picture pixel of world point `point` (the picture's x runs opposite to the
// world's), before the window offset and scale.
point2d overhead_map_picture_position(const world_point2d *point);
// Rebuilds the working bitmap now (what the drawing does every 16 ticks).
void rebuild_overhead_map_bitmap(void);
// Applies the desired drawing state, steps `updates` when more than 15 local
// ticks passed, and marks the working bitmap changed.
void mark_overhead_map_changed(void);
// Advances the fade by `ticks` (each input action's time delta).
void advance_overhead_map_fade(int32_t ticks);

// The window size for limited visibility on a screen of `width` x `height`.
void overhead_map_window_size(int16_t width, int16_t height, int16_t *window_width, int16_t *window_height);

// The one record, for the input module and the tests.
overhead_map_globals *get_overhead_map_globals(void);

// ---- zoom -------------------------------------------------------------------------------

// Sets the scale (hardware renderer only, once the map is built) and stores
// it in the game preferences relative to the default scale.
void zoom_overhead_map(float scale);
// The saved zoom applied again (the screen's resolution changed).
void rezoom_overhead_map(void);
// The default scale: 1, the picture (or limited window) at its own pixels, as the software renderer draws it.
float overhead_map_default_scale(void);

// The world point clicked by the last action when it was such a click, else null.
const world_point2d *get_overhead_map_click_location(void);

// ---- sketches -------------------------------------------------------------------------------
//
// Sketch command (verb 13): the 4-byte record `command_sketch_data` (u16
// flags, u16 pad, big-endian), then an array of at most 20 `sketch_point2d`
// (a 2-byte count, then two bytes per point).  Films and peers carry it, so
// its layout never changes.

enum command_sketch_flags
{
    _command_sketch_start_flag = 1, // the sender entered sketch mode
    _command_sketch_erase_flag = 2, // the sender erased
};

struct command_sketch_data
{
    uint16_t flags; // command_sketch_flags
    uint16_t pad;
};
static_assert(sizeof(command_sketch_data) == 4);
static_assert(offsetof(command_sketch_data, flags) == 0);
static_assert(offsetof(command_sketch_data, pad) == 2);
extern const byte_swap_code command_sketch_data_byte_swapping_data[];

// The status bar's sketch and eraser buttons; erase_sketch_points(false) also
// for a team-mate's erase command.
void change_sketch_mode(bool sketching);
void erase_sketch_points(bool forward);
// Adds `count` points (at most MAXIMUM_VISIBLE_SKETCH_POINTS) to the drawn
// ones; the oldest make room.
void add_visible_sketch_points(int32_t count, const sketch_point2d *points);
// A team-mate's sketch points (command execution): `count` is clamped to
// 0..MAXIMUM_POINTS_PER_SKETCH_COMMAND; the oldest visible points make room.
void submit_sketch_points_to_overhead_map(int32_t player_index, int32_t count, const sketch_point2d *points);
// Sends the queued points as one command (see overhead_map.cpp).
void issue_sketch_command(bool end_of_line, uint16_t flags);

// Encodes a sketch command and queues it outgoing: `count` (0..20) points.
// False (logged) for a count out of range or a full ring.
bool queue_sketch_command(const command_sketch_data *data, int32_t count, const sketch_point2d *points);
// Reads a sketch command (header in host order, fields big-endian, decoded in
// place).  False, with nothing stored, for a command that is not verb 13, is
// truncated or holds more than 20 points.  Points with a coordinate beyond the
// picture are clamped to its last sketch unit.
bool decode_sketch_command(command_header *command, command_sketch_data *data, int32_t *count,
                           sketch_point2d points[MAXIMUM_POINTS_PER_SKETCH_COMMAND]);

// The executor's reader of verb 13: its record and its points, as
// decode_sketch_command reads them, acting on nothing (unit_commands.h).
struct command_codec_state;
void read_sketch_command(command_codec_state *state, command_header *command);

// Registers the start-up step, the map step and the selection's
// click-location slot (game/subsystems.cpp).
void register_overhead_map_hooks(void);
