#pragma once
// The sound tag groups: sound definitions ('soun': one sound with up to five
// permutations and their IMA ADPCM sample block), ambient sound definitions
// ('amso': a background loop and a repeated one-shot placed by markers) and
// sound lists ('soli': numbered sounds other modules play by position).  The
// registry loads, swaps and postprocesses the records of the map; this module
// checks them against their tag's data, reads a sound's permutation list and,
// when a sound is first played or preloaded, decodes its sample block into
// 16-bit host-order PCM through one fixed decompression buffer.
//
// Stored layouts (big-endian) are the records below; docs/formats.md "Sound
// tags" describes them.  The records keep 4-byte run-time slots where an
// earlier layout held pointers; the pointers live in the definition's side
// record (`sound_runtime`), never in the record.
//
// Main thread only.

#include <cstddef>
#include <cstdint>

#include "cseries/byte_swapping.h"
#include "cseries/cseries.h"
#include "particles.h"
#include "tag_files/definitions.h"
#include "vesk/preloading.h"

#define SOUND_LIST_DEFINITION_GROUP_TAG FOUR_CHARACTER_CODE('s', 'o', 'l', 'i')

enum
{
    SOUND_DEFINITION_VERSION = 1,
    AMBIENT_SOUND_DEFINITION_VERSION = 1,
    SOUND_LIST_DEFINITION_VERSION = 1,
    MAXIMUM_SOUND_DEFINITIONS_PER_MAP = 1024,
    MAXIMUM_AMBIENT_SOUND_DEFINITIONS_PER_MAP = 64,
    MAXIMUM_SOUND_LIST_DEFINITIONS_PER_MAP = 16,
    SOUND_DEFINITION_SIZE = 64,
    AMBIENT_SOUND_DEFINITION_SIZE = 64,
    SOUND_LIST_DEFINITION_SIZE = 256,
    SOUND_PERMUTATION_DATA_SIZE = 32,
    SAMPLED_SOUND_HEADER_SIZE = 32,
    SOUND_LIST_ENTRY_SIZE = 8,
    MAXIMUM_PERMUTATIONS_PER_SOUND = 5,
    MAXIMUM_SOUND_PERMUTATION_NAME_LENGTH = 25,
    MAXIMUM_SOUNDS_PER_SOUND_LIST_DEFINITION = 30,
    NUMBER_OF_AMBIENT_SOUND_TAGS = 6,
    // Compressed samples are read through this buffer: a whole, even number of
    // 34-byte packets (30840), so stereo pairs never straddle two reads.
    DECOMPRESSION_BUFFER_SIZE = 1048560,
    // Bytes one decoded packet takes: 64 samples of 16 bits.
    DECODED_PACKET_SIZE = 128,
    _sample_rate_22k = 1445068800, // 22050 Hz, 16.16
};

enum sound_definition_flags
{
    _sound_cannot_be_restarted_flag = 1,
    _sound_can_occupy_multiple_channels_flag = 2,
    _sound_stopped_when_source_disappears_flag = 4,
    _sound_cannot_be_media_obstructed_flag = 8,
    _sound_is_ambient_background_loop_flag = 16,
    _sound_is_ambient_random_flag = 32,
    _sound_all_permutations_use_same_subtitle_flag = 64,
};

enum sound_loudness
{
    _sound_is_quiet,
    _sound_is_normal,
    _sound_is_loud,
    _sound_is_narration,
    NUMBER_OF_SOUND_LOUDNESSES
};

enum
{
    _sound_is_ima_compressed_flag = 1,
    _ambient_sound_has_infinite_radius_flag = 1,
    _ambient_sound_has_no_position_flag = 2,
    _ambient_sound_background_sound = 0,
    _ambient_sound_random_sound = 1,
};

// 'soun', 64 bytes stored.  Volumes and pitches are 8.8 (256 = unchanged).
struct sound_definition
{
    uint32_t flags;
    int16_t loudness;
    uint16_t play_fraction; // chance a request plays at all, 65535 = always
    int16_t external_frequency_modifier;
    int16_t pitch_lower_bound;
    int16_t pitch_delta;
    int16_t volume_lower_bound;
    int16_t volume_delta;
    int16_t first_subtitle_within_string_list_index;
    int32_t sound_offset; // the sample block within the tag's data
    int32_t sound_size;
    tag subtitle_string_list_tag; // 0 or NONE: no subtitles
    int16_t subtitle_string_list_index; // run time
    int16_t last_permutation_picked; // run time
    int32_t number_of_permutations; // 0..5
    int32_t permutations_offset;
    int32_t permutations_size;
    uint8_t sound_permutations[4]; // run time slot, unused (see sound_runtime)
    int16_t reference_count; // run time
    uint16_t permutations_played_flags; // run time
    uint32_t local_tick_last_played; // run time
    uint8_t sampled_sound_headers[4]; // run time slot, unused (see sound_runtime)
};
static_assert(sizeof(sound_definition) == SOUND_DEFINITION_SIZE);
static_assert(offsetof(sound_definition, loudness) == 4);
static_assert(offsetof(sound_definition, play_fraction) == 6);
static_assert(offsetof(sound_definition, external_frequency_modifier) == 8);
static_assert(offsetof(sound_definition, pitch_lower_bound) == 10);
static_assert(offsetof(sound_definition, volume_delta) == 16);
static_assert(offsetof(sound_definition, first_subtitle_within_string_list_index) == 18);
static_assert(offsetof(sound_definition, sound_offset) == 20);
static_assert(offsetof(sound_definition, sound_size) == 24);
static_assert(offsetof(sound_definition, subtitle_string_list_tag) == 28);
static_assert(offsetof(sound_definition, subtitle_string_list_index) == 32);
static_assert(offsetof(sound_definition, last_permutation_picked) == 34);
static_assert(offsetof(sound_definition, number_of_permutations) == 36);
static_assert(offsetof(sound_definition, permutations_offset) == 40);
static_assert(offsetof(sound_definition, permutations_size) == 44);
static_assert(offsetof(sound_definition, sound_permutations) == 48);
static_assert(offsetof(sound_definition, reference_count) == 52);
static_assert(offsetof(sound_definition, permutations_played_flags) == 54);
static_assert(offsetof(sound_definition, local_tick_last_played) == 56);
static_assert(offsetof(sound_definition, sampled_sound_headers) == 60);

// One permutation, 32 bytes stored.
struct sound_permutation_data
{
    uint16_t flags;
    uint16_t skip_fraction; // chance the permutation is passed over when picked
    int16_t unused;
    char name[MAXIMUM_SOUND_PERMUTATION_NAME_LENGTH + 1];
};
static_assert(sizeof(sound_permutation_data) == SOUND_PERMUTATION_DATA_SIZE);
static_assert(offsetof(sound_permutation_data, skip_fraction) == 2);
static_assert(offsetof(sound_permutation_data, name) == 6);

// The head of one permutation's samples, 32 bytes stored; the sample block
// starts with one per permutation, then each permutation's packets in order.
struct sampled_sound_header
{
    uint32_t flags;
    int16_t logical_bits_per_sample; // 16 once decoded
    int16_t physical_bytes_per_sample_minus_one;
    int16_t channels; // 1 or 2
    int16_t length_in_ticks; // kept as stored: not swapped
    int32_t sample_rate; // 16.16
    int32_t number_of_samples; // stored: 34-byte packets of both channels; decoded: 16-bit samples
    int32_t loop_start;
    int32_t loop_end;
    uint8_t samples[4]; // run time slot, unused (see sound_runtime)
};
static_assert(sizeof(sampled_sound_header) == SAMPLED_SOUND_HEADER_SIZE);
static_assert(offsetof(sampled_sound_header, logical_bits_per_sample) == 4);
static_assert(offsetof(sampled_sound_header, channels) == 8);
static_assert(offsetof(sampled_sound_header, length_in_ticks) == 10);
static_assert(offsetof(sampled_sound_header, sample_rate) == 12);
static_assert(offsetof(sampled_sound_header, number_of_samples) == 16);
static_assert(offsetof(sampled_sound_header, loop_start) == 20);
static_assert(offsetof(sampled_sound_header, loop_end) == 24);
static_assert(offsetof(sampled_sound_header, samples) == 28);

// 'amso', 64 bytes stored.
struct ambient_sound_definition
{
    uint32_t flags;
    int16_t inner_radius; // full volume inside
    int16_t outer_radius; // silent from here on
    int16_t period_lower_bound; // ticks between one-shots
    int16_t period_delta;
    tag sound_tags[NUMBER_OF_AMBIENT_SOUND_TAGS]; // [0] loop, [1] one-shot, the rest unused
    int16_t random_sound_radius;
    int16_t unused[5];
    int16_t sound_indexes[NUMBER_OF_AMBIENT_SOUND_TAGS]; // run time
    int16_t phase; // run time
    int16_t period; // run time
};
static_assert(sizeof(ambient_sound_definition) == AMBIENT_SOUND_DEFINITION_SIZE);
static_assert(offsetof(ambient_sound_definition, period_delta) == 10);
static_assert(offsetof(ambient_sound_definition, sound_tags) == 12);
static_assert(offsetof(ambient_sound_definition, random_sound_radius) == 36);
static_assert(offsetof(ambient_sound_definition, unused) == 38);
static_assert(offsetof(ambient_sound_definition, sound_indexes) == 48);
static_assert(offsetof(ambient_sound_definition, phase) == 60);
static_assert(offsetof(ambient_sound_definition, period) == 62);

struct sound_list_entry
{
    tag sound_tag;
    int16_t unused;
    int16_t index; // run time: the resolved sound
};
static_assert(sizeof(sound_list_entry) == SOUND_LIST_ENTRY_SIZE);
static_assert(offsetof(sound_list_entry, index) == 6);

// 'soli', 256 bytes stored.
struct sound_list_definition
{
    int16_t number_of_sounds; // 0..30
    int16_t unused[7];
    sound_list_entry sounds[MAXIMUM_SOUNDS_PER_SOUND_LIST_DEFINITION];
};
static_assert(sizeof(sound_list_definition) == SOUND_LIST_DEFINITION_SIZE);
static_assert(offsetof(sound_list_definition, sounds) == 16);

extern const byte_swap_code sound_definition_byte_swapping_data[];
extern const byte_swap_code sound_permutation_data_byte_swapping_data[];
extern const byte_swap_code sampled_sound_header_byte_swapping_data[];
extern const byte_swap_code ambient_sound_definition_byte_swapping_data[];
extern const byte_swap_code sound_list_definition_byte_swapping_data[];

// What a sound keeps beside its record: the permutation list (host order) and,
// once decoded, the sample block (the headers in host order, then the PCM)
// with each permutation's first sample.
struct sound_runtime
{
    sound_permutation_data *permutations; // number_of_permutations records, or null
    uint8_t *block; // null until decoded
    int32_t block_size;
    bool decoded; // the block holds every permutation
    int16_t *samples[MAXIMUM_PERMUTATIONS_PER_SOUND];
};

extern definition_globals sound_definitions;
extern definition_globals ambient_sound_definitions;
extern definition_globals sound_list_definitions;

// ---- defaults and tag headers -------------------------------------------------

void get_default_sound_definition(void *definition);
void get_default_sound_permutation_data(void *permutation);
void get_default_ambient_sound_definition(void *definition);
void get_default_sound_list_definition(void *definition);
void get_default_sound_list_entry(void *entry);
uint32_t get_sound_definition_tag_header_user_data(const void *definition); // its flags
uint32_t get_ambient_sound_definition_tag_header_user_data(const void *definition); // NONE
uint32_t get_sound_list_definition_tag_header_user_data(const void *definition); // NONE

// ---- start-up and maps ----------------------------------------------------------

// Registers the three groups and allocates the decompression buffer (once).
// False when the registry refuses a group; code 8 when memory is short.
bool initialize_sound_definitions(void);
// Empties the three groups for the map that begins.
void initialize_sound_definitions_for_new_map(void);
// Frees every sound's permutation list and sample block and the three groups' definitions.
void dispose_sound_definitions_from_old_map(void);
// Frees the decompression buffer (shut-down and tests).
void dispose_sound_definitions(void);
// Fills the preloader's reader of a sound's permutation list.
bool register_sound_definition_preloading(void);

// ---- postprocessing ----------------------------------------------------------------

// Checks the counts, offsets and sizes of a sound against its tag's data
// (`tag_size` bytes) and its sample headers (`headers`, host order, n of
// them, or null to skip that part).  Null when they agree, else the name of
// the first field found wrong.
const char *check_sound_definition(const sound_definition *definition, int32_t tag_size,
                                   const sampled_sound_header *headers);

// Reads the permutation list of the sound into `runtime` (through the store's
// read-ahead with `read_ahead`).  False, logged, when the record disagrees
// with its tag's data or the read fails.
bool load_sound_permutation_data(int32_t tag_index, const sound_definition *definition, sound_runtime *runtime,
                                 bool read_ahead);

// The registry's postprocess of 'soun': checks the record against its tag's
// data (a refusal names the field in the log), reads the permutation list
// unless the preloader did, clears the run-time fields and resolves the
// subtitle list (a tag in 0x00FF0001..0xFFFFFFFE must exist).
bool postprocess_sound_definition(definition_globals *group, int32_t index, int32_t tag_index, void *definition);
// 'amso': resolves sound tags 0 and 1 (a NONE tag gives NONE); false when a
// present tag cannot be loaded.
bool postprocess_ambient_sound_definition(definition_globals *group, int32_t index, int32_t tag_index,
                                          void *definition);
// 'soli': reports the first number_of_sounds entries as sound dependencies;
// a count outside 0..30 is clamped first, with a log line.
void sound_list_definition_dependencies(definition_globals *group, int32_t index, int32_t tag_index,
                                        void *definition, definition_dependency_report report);
bool postprocess_sound_list_definition(definition_globals *group, int32_t index, int32_t tag_index,
                                       void *definition);

// ---- queries --------------------------------------------------------------------------

// The loaded sound, ambient sound or list at `index`; null for a hole or NONE.
sound_definition *get_sound_definition(int32_t sound_index);
sound_runtime *get_sound_runtime(int32_t sound_index);
ambient_sound_definition *get_ambient_sound_definition(int32_t ambient_index);
sound_list_definition *get_sound_list_definition(int32_t list_index);

// The sound at `position` of list `list_index`; NONE for a position at or
// beyond the list's count (asserts 0..29) or a missing list.
int32_t get_sound_list_sound_index(int32_t list_index, int32_t position);

// Bytes of a sound's decoded sample block: n × 32 + packets × 128.  0 for a
// sound whose sizes are not sane.
int32_t get_sound_decoded_block_size(const sound_definition *definition);

// Decodes the sample block of the sound at `sound_index` into its side record
// (allocated here when missing).  True when every permutation is decoded.  A
// failed read stops the load with a log line; the permutations decoded before
// it stay.  A stereo permutation with an odd packet count loses its last
// packet.  Afterwards each header's number_of_samples counts 16-bit samples
// and logical_bits_per_sample is 16.
bool load_sound_definition_data(int32_t sound_index);

// The decoded header and samples of permutation `permutation` of a loaded
// sound; null until decoded or for a permutation out of range.
const sampled_sound_header *get_sound_permutation_header(int32_t sound_index, int32_t permutation,
                                                         const int16_t **samples);

// ---- the stored form, for tools, tests and the fuzzer ---------------------------

// One permutation's PCM to store: `frames` frames of `channels` (1 or 2)
// interleaved host-order samples at `sample_rate` (16.16).
struct sound_pcm_permutation
{
    const int16_t *samples;
    int32_t frames;
    int16_t channels;
    int32_t sample_rate;
    uint16_t skip_fraction;
    const char *name; // may be null
};

// Writes the stored data of a 'soun' tag (`record` in host order gives the
// flags, loudness, fractions, pitches, volumes and subtitles; its offsets,
// sizes and count are filled in): the record, the permutation list, then the
// sample block with every permutation IMA-encoded.  Returns the bytes used,
// the bytes needed with a null buffer, NONE for more than five permutations,
// a channel count other than 1 or 2, or a buffer too small.
int32_t encode_sound_tag_data(const sound_definition *record, const sound_pcm_permutation *permutations,
                              int32_t count, void *buffer, int32_t size);

// Checks and decodes a 'soun' tag's data held in memory as the game would.
// Null when it is taken (then `decoded_samples` is the total of decoded
// samples), else the field refused.  For the fuzzer and tools.
const char *check_sound_tag_data(const void *data, int32_t size, int32_t *decoded_samples);
