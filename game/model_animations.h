#pragma once
// Model animations: a model whose definition steps through a list of model
// definitions (its frames), a door opening, a drawbridge falling.  Each
// animation owns one model; the frame decides that model's definition.
// Definitions ('mani', 160 bytes) give the frames, the ticks per frame and
// the sounds.  Scripts start, stop, jump and test them; the tick advances the
// running ones.  Simulation: integer arithmetic only.

#include <cstddef>

#include "cseries/byte_swapping.h"
#include "cseries/cseries.h"
#include "tag_files/definitions.h"
#include "world.h"

#define MODEL_ANIMATION_DEFINITION_GROUP_TAG FOUR_CHARACTER_CODE('m', 'a', 'n', 'i')

enum
{
    MODEL_ANIMATION_DEFINITION_VERSION = 1,
    MAXIMUM_MODEL_ANIMATION_DEFINITIONS_PER_MAP = 64,
    MAXIMUM_MODEL_ANIMATIONS_PER_MAP = 128,
    MAXIMUM_MODEL_ANIMATION_FRAMES = 32,
};

// 160 bytes stored.
struct model_animation_definition
{
    uint32_t flags; // model_animation_flag_bits the animations start with
    int16_t number_of_frames; // 1..32
    int16_t ticks_per_frame; // at least 1
    int16_t forward_sound_type; // NONE: silent
    int16_t backward_sound_type;
    uint8_t unused[20];
    tag frame_model_tags[MAXIMUM_MODEL_ANIMATION_FRAMES]; // 'mode' tags
    // Run time: the model definition of each frame, filled when the tag loads.
};
static_assert(sizeof(model_animation_definition) == 160);

enum model_animation_flag_bits
{
    _model_animation_forward_bit = 0,
    _model_animation_back_and_forth_bit = 1,
    _model_animation_cycles_bit = 2,

    _model_animation_forward_flag = FLAG(_model_animation_forward_bit),
    _model_animation_back_and_forth_flag = FLAG(_model_animation_back_and_forth_bit),
    _model_animation_cycles_flag = FLAG(_model_animation_cycles_bit),
};

enum model_animation_state
{
    _model_animation_stopped = 0,
    _model_animation_running = 1,
};

struct model_animation_data
{
    int16_t identifier; // its marker's
    int16_t definition_index;
    uint16_t flags; // model_animation_flag_bits
    int16_t state; // model_animation_state
    int16_t current_frame_index;
    int16_t current_model_index;
    int16_t ticks_until_next_frame;
    int16_t marker_index;
};

extern const byte_swap_code model_animation_definition_byte_swapping_data[];
extern definition_globals model_animation_definitions;

bool initialize_model_animations(void);
void initialize_model_animations_for_new_map(void);
void dispose_model_animations_from_old_map(void);

model_animation_definition *get_model_animation_definition(int32_t index);
// The model definition index of a definition's frame; NONE when out of range.
int16_t get_model_animation_frame_model_type(int32_t definition_index, int32_t frame_index);
model_animation_data *get_model_animation(int32_t animation_index);
// Slots in use run 0 .. this - 1 (free ones read as null); 0 before the
// array is set up.
int32_t get_model_animation_slot_count(void);

// Makes an animation of definition `definition_index` standing at `location`,
// stopped at frame 0, with its model; NONE when either array is full or the
// definition is missing.
int32_t new_model_animation(int16_t definition_index, const world_point3d *location, angle yaw, angle pitch);

// Runs one tick: each running animation counts down, and steps
// (advance_model_animation) when its count reaches 0, then counts
// ticks_per_frame again.  Index order.
void update_model_animations(void);

// One step: forward (flag bit 0) frame + 1, else frame - 1.  At the last frame
// going forward: back-and-forth turns around (plays the backward sound) and
// steps back; else cycling starts over at 0; else it stops there.  At frame 0
// going backward: back-and-forth with cycling turns around (forward sound)
// and steps on; else cycling goes to the last frame; else it stops there.  A
// single frame never moves.  The model takes the frame's definition.
void advance_model_animation(int32_t animation_index);

// Sets the frame (clamped to the frames) and the model's definition; the count
// starts over.
void jump_model_animation_to_frame(int32_t animation_index, int32_t frame_index);

// Plays sound type `sound_type` of the animation's definition (forward or
// backward) at its model through the sound hook.
enum
{
    _model_animation_forward_sound = 0,
    _model_animation_backward_sound = 1,
};
void play_model_animation_sound(int32_t animation_index, int32_t sound_type);

// Identifier lookups (16-bit marker identifiers; the lowest index wins).
int32_t model_animation_identifier_to_model_animation_index(int16_t identifier);
int32_t model_animation_identifiers_to_model_animation_indexes(const int16_t *identifiers, int16_t *indexes,
                                                               int32_t count);

void hash_model_animations(uint32_t *hash);
