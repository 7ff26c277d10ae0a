// Sound, ambient sound and sound list definitions.  See sound_definitions.h.

#include "sound_definitions.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cseries/errors.h"
#include "cseries/log.h"
#include "cseries/tags.h"
#include "sound_utils/adpcm.h"
#include "tag_files/tag_files.h"
#include "vesk/string_lists.h"

const byte_swap_code sound_definition_byte_swapping_data[] = {
    _begin_bs_array, 1, _4byte, _2byte, _2byte, _2byte, _2byte, _2byte, _2byte, _2byte, _2byte, _4byte, _4byte,
    _4byte, 4, _4byte, _4byte, _4byte, 16, _end_bs_array};

const byte_swap_code sound_permutation_data_byte_swapping_data[] = {
    _begin_bs_array, 1, _2byte, _2byte, 28, _end_bs_array};

// length_in_ticks stays as stored: nothing reads it, and the stored files
// always left it unswapped.
const byte_swap_code sampled_sound_header_byte_swapping_data[] = {
    _begin_bs_array, 1, _4byte, _2byte, _2byte, _2byte, 2, _4byte, _4byte, _4byte, _4byte, 4, _end_bs_array};

const byte_swap_code ambient_sound_definition_byte_swapping_data[] = {
    _begin_bs_array, 1, _4byte, _2byte, _2byte, _2byte, _2byte,
    _begin_bs_array, NUMBER_OF_AMBIENT_SOUND_TAGS, _4byte, _end_bs_array, _2byte, 10, 16, _end_bs_array};

const byte_swap_code sound_list_definition_byte_swapping_data[] = {
    _begin_bs_array, 1, _2byte, 14,
    _begin_bs_array, MAXIMUM_SOUNDS_PER_SOUND_LIST_DEFINITION, _4byte, 4, _end_bs_array, _end_bs_array};

static void release_sound_runtime(void *runtime);

definition_globals sound_definitions = {
    "sound", SOUND_DEFINITION_GROUP_TAG, SOUND_DEFINITION_VERSION, MAXIMUM_SOUND_DEFINITIONS_PER_MAP,
    SOUND_DEFINITION_SIZE, (int32_t)sizeof(sound_runtime), nullptr, postprocess_sound_definition, nullptr,
    get_default_sound_definition, get_sound_definition_tag_header_user_data, sound_definition_byte_swapping_data,
    release_sound_runtime,
};

definition_globals ambient_sound_definitions = {
    "ambient sound", AMBIENT_SOUND_DEFINITION_GROUP_TAG, AMBIENT_SOUND_DEFINITION_VERSION,
    MAXIMUM_AMBIENT_SOUND_DEFINITIONS_PER_MAP, AMBIENT_SOUND_DEFINITION_SIZE, 0, nullptr,
    postprocess_ambient_sound_definition, nullptr, get_default_ambient_sound_definition,
    get_ambient_sound_definition_tag_header_user_data, ambient_sound_definition_byte_swapping_data, nullptr,
};

definition_globals sound_list_definitions = {
    "sound list", SOUND_LIST_DEFINITION_GROUP_TAG, SOUND_LIST_DEFINITION_VERSION,
    MAXIMUM_SOUND_LIST_DEFINITIONS_PER_MAP, SOUND_LIST_DEFINITION_SIZE, 0, sound_list_definition_dependencies,
    postprocess_sound_list_definition, nullptr, get_default_sound_list_definition,
    get_sound_list_definition_tag_header_user_data, sound_list_definition_byte_swapping_data, nullptr,
};

static const int32_t DECOMPRESSION_BUFFER_PACKETS = (int32_t)DECOMPRESSION_BUFFER_SIZE / (int32_t)IMA_PACKET_SIZE;

static struct sound_definition_globals
{
    uint8_t *decompression_buffer; // DECOMPRESSION_BUFFER_SIZE bytes
} sound_definition_globals;

// ---- defaults -------------------------------------------------------------------------

void get_default_sound_definition(void *definition)
{
    sound_definition *sound = (sound_definition *)definition;
    memset(sound, 0, sizeof(*sound));
    sound->loudness = _sound_is_normal;
    sound->play_fraction = 65535;
    sound->external_frequency_modifier = 256;
    sound->pitch_lower_bound = 256;
    sound->volume_lower_bound = 256;
}

void get_default_sound_permutation_data(void *permutation) { memset(permutation, 0, SOUND_PERMUTATION_DATA_SIZE); }

void get_default_ambient_sound_definition(void *definition)
{
    ambient_sound_definition *ambient = (ambient_sound_definition *)definition;
    memset(ambient, 0, sizeof(*ambient));
    ambient->inner_radius = 6144;
    ambient->outer_radius = 10240;
    ambient->period_lower_bound = 150;
    ambient->period_delta = 150;
    for (tag &t : ambient->sound_tags) t = NONE;
    ambient->random_sound_radius = 3072;
}

void get_default_sound_list_definition(void *definition) { memset(definition, 0, SOUND_LIST_DEFINITION_SIZE); }

void get_default_sound_list_entry(void *entry)
{
    sound_list_entry *e = (sound_list_entry *)entry;
    memset(e, 0, sizeof(*e));
    e->sound_tag = NONE;
}

uint32_t get_sound_definition_tag_header_user_data(const void *definition)
{
    return ((const sound_definition *)definition)->flags;
}
uint32_t get_ambient_sound_definition_tag_header_user_data(const void *) { return (uint32_t)NONE; }
uint32_t get_sound_list_definition_tag_header_user_data(const void *) { return (uint32_t)NONE; }

// ---- start-up and maps ------------------------------------------------------------------

static void release_sound_runtime(void *runtime)
{
    sound_runtime *r = (sound_runtime *)runtime;
    free(r->permutations);
    free(r->block);
    memset(r, 0, sizeof(*r));
}

bool initialize_sound_definitions(void)
{
    if (!sound_definition_globals.decompression_buffer)
    {
        sound_definition_globals.decompression_buffer = (uint8_t *)malloc(DECOMPRESSION_BUFFER_SIZE);
        if (!sound_definition_globals.decompression_buffer)
        {
            ERROR_MESSAGE(_error_out_of_memory, "couldn't allocate #%d bytes for decompression buffer",
                          (int)DECOMPRESSION_BUFFER_SIZE);
            return false;
        }
    }
    return (sound_definitions.registered || initialize_definitions(&sound_definitions)) &&
           (ambient_sound_definitions.registered || initialize_definitions(&ambient_sound_definitions)) &&
           (sound_list_definitions.registered || initialize_definitions(&sound_list_definitions));
}

void initialize_sound_definitions_for_new_map(void)
{
    initialize_definitions_for_new_map(&sound_definitions);
    initialize_definitions_for_new_map(&ambient_sound_definitions);
    initialize_definitions_for_new_map(&sound_list_definitions);
}

void dispose_sound_definitions_from_old_map(void)
{
    // Permutation lists and sample blocks go through release_sound_runtime.
    dispose_definitions_from_old_map(&sound_list_definitions);
    dispose_definitions_from_old_map(&ambient_sound_definitions);
    dispose_definitions_from_old_map(&sound_definitions);
}

void dispose_sound_definitions(void)
{
    free(sound_definition_globals.decompression_buffer);
    sound_definition_globals.decompression_buffer = nullptr;
}

// ---- checking ------------------------------------------------------------------------------

// True when [offset, offset + size) lies inside `tag_size` bytes.
static bool range_inside(int32_t offset, int32_t size, int32_t tag_size)
{
    return offset >= 0 && size >= 0 && offset <= tag_size && size <= tag_size - offset;
}

const char *check_sound_definition(const sound_definition *definition, int32_t tag_size,
                                   const sampled_sound_header *headers)
{
    const int32_t n = definition->number_of_permutations;
    if (n < 0 || n > MAXIMUM_PERMUTATIONS_PER_SOUND) return "number_of_permutations";
    if (definition->permutations_size < n * SOUND_PERMUTATION_DATA_SIZE) return "permutations_size";
    if (!range_inside(definition->permutations_offset, definition->permutations_size, tag_size))
        return "permutations_offset";
    if (n == 0) return nullptr; // nothing will be decoded
    if (!range_inside(definition->sound_offset, definition->sound_size, tag_size)) return "sound_offset";
    if (definition->sound_size < n * SAMPLED_SOUND_HEADER_SIZE) return "sound_size";
    if (!headers) return nullptr;
    // Every permutation's packets must lie in the block, one after another.
    int64_t packet_bytes = 0;
    for (int32_t i = 0; i < n; ++i)
    {
        if (headers[i].number_of_samples < 0) return "number_of_samples";
        if (headers[i].channels < 1 || headers[i].channels > 2) return "channels";
        packet_bytes += (int64_t)headers[i].number_of_samples * IMA_PACKET_SIZE;
    }
    if ((int64_t)n * SAMPLED_SOUND_HEADER_SIZE + packet_bytes > definition->sound_size) return "number_of_samples";
    return nullptr;
}

static bool refuse_sound(const char *name, const char *field, int64_t value)
{
    ERROR_MESSAGE(_error_data_corrupted, "sound '%s' refused: %s (%lld)", name, field, (long long)value);
    return false;
}

static int64_t sound_field_value(const sound_definition *definition, const char *field)
{
    if (strcmp(field, "number_of_permutations") == 0) return definition->number_of_permutations;
    if (strcmp(field, "permutations_size") == 0) return definition->permutations_size;
    if (strcmp(field, "permutations_offset") == 0) return definition->permutations_offset;
    if (strcmp(field, "sound_offset") == 0) return definition->sound_offset;
    return definition->sound_size;
}

// The stored data of one sound, from the store or from memory.
struct sound_data_source
{
    int32_t tag_index; // NONE: `data` holds it
    const uint8_t *data;
    int32_t size;
    bool read_ahead;
};

static bool read_sound_data(const sound_data_source *source, int32_t offset, int32_t size, void *buffer)
{
    if (size == 0) return true;
    if (source->tag_index == NONE)
    {
        if (!range_inside(offset, size, source->size)) return false;
        memcpy(buffer, source->data + offset, (size_t)size);
        return true;
    }
    return source->read_ahead ? tag_file_read_ahead(source->tag_index, offset, size, buffer)
                              : tag_file_read(source->tag_index, offset, size, buffer);
}

static bool read_permutations(const sound_data_source *source, const sound_definition *definition,
                              sound_runtime *runtime, const char *name)
{
    const int32_t n = definition->number_of_permutations;
    const int32_t size = n * SOUND_PERMUTATION_DATA_SIZE;
    sound_permutation_data *list = (sound_permutation_data *)malloc(size > 0 ? (size_t)size : 1);
    if (!list)
    {
        ERROR_MESSAGE(_error_out_of_memory, "couldn't allocate #%d bytes for permutation list of sound '%s'.",
                      (int)size, name);
        return false;
    }
    if (!read_sound_data(source, definition->permutations_offset, size, list) ||
        (n > 0 && !byte_swap_data("sound permutation", list, SOUND_PERMUTATION_DATA_SIZE, n,
                                  sound_permutation_data_byte_swapping_data)))
    {
        free(list);
        ERROR_MESSAGE(_error_file_read, "couldn't read permutation list from sound '%s'.", name);
        return false;
    }
    for (int32_t i = 0; i < n; ++i) list[i].name[MAXIMUM_SOUND_PERMUTATION_NAME_LENGTH] = 0;
    free(runtime->permutations);
    runtime->permutations = list;
    return true;
}

bool load_sound_permutation_data(int32_t tag_index, const sound_definition *definition, sound_runtime *runtime,
                                 bool read_ahead)
{
    const char *name = tag_file_name_get(tag_index);
    tag_file_info info;
    if (!tag_file_info_get(tag_index, &info)) return refuse_sound(name, "tag", tag_index);
    if (const char *field = check_sound_definition(definition, info.size, nullptr))
        return refuse_sound(name, field, sound_field_value(definition, field));
    const sound_data_source source = {tag_index, nullptr, 0, read_ahead};
    return read_permutations(&source, definition, runtime, name);
}

static bool fetch_sound_permutation_data(int32_t tag_index, void *definition, void *runtime, bool read_ahead)
{
    return load_sound_permutation_data(tag_index, (const sound_definition *)definition, (sound_runtime *)runtime,
                                       read_ahead);
}

// Reads and swaps the n sample headers of a sound; false when the read fails.
static bool read_sample_headers(const sound_data_source *source, const sound_definition *definition,
                                sampled_sound_header *headers)
{
    const int32_t n = definition->number_of_permutations;
    if (n == 0) return true;
    return read_sound_data(source, definition->sound_offset, n * SAMPLED_SOUND_HEADER_SIZE, headers) &&
           byte_swap_data("sampled sound header", headers, SAMPLED_SOUND_HEADER_SIZE, n,
                          sampled_sound_header_byte_swapping_data);
}

bool postprocess_sound_definition(definition_globals *group, int32_t index, int32_t tag_index, void *definition)
{
    sound_definition *sound = (sound_definition *)definition;
    sound_runtime *runtime = (sound_runtime *)get_definition_runtime(group, index);
    const char *name = tag_file_name_get(tag_index);
    if (!runtime) return false;
    tag_file_info info;
    if (!tag_file_info_get(tag_index, &info)) return refuse_sound(name, "tag", tag_index);
    // The sample headers are checked now, so that a sound that could not be
    // decoded safely is absent from the start rather than when first played.
    sampled_sound_header headers[MAXIMUM_PERMUTATIONS_PER_SOUND];
    if (const char *field = check_sound_definition(sound, info.size, nullptr))
        return refuse_sound(name, field, sound_field_value(sound, field));
    const sound_data_source source = {tag_index, nullptr, 0, false};
    if (!read_sample_headers(&source, sound, headers))
        return refuse_sound(name, "sampled sound headers", sound->sound_offset);
    if (const char *field = check_sound_definition(sound, info.size, headers))
        return refuse_sound(name, field, sound->sound_size);

    const bool preloaded = group->flags && (group->flags[index] & _definition_preloaded_flag) &&
                           (runtime->permutations || sound->number_of_permutations == 0);
    if (!preloaded && !load_sound_permutation_data(tag_index, sound, runtime, false)) return false;

    memset(sound->sampled_sound_headers, 0, sizeof(sound->sampled_sound_headers));
    memset(sound->sound_permutations, 0, sizeof(sound->sound_permutations));
    sound->reference_count = 0;
    sound->permutations_played_flags = 0;
    sound->local_tick_last_played = 0;
    sound->last_permutation_picked = NONE;
    sound->subtitle_string_list_index = NONE;
    const uint32_t subtitles = (uint32_t)sound->subtitle_string_list_tag;
    if (subtitles >= 0x00FF0001u && subtitles <= 0xFFFFFFFEu)
    {
        const int32_t list = string_list_tag_to_string_index(sound->subtitle_string_list_tag);
        if (list == NONE || list == 0xFFFF)
        {
            ERROR_MESSAGE(_error_data_missing, "sound '%s': subtitle list '%s' missing", name,
                          tag_to_string(sound->subtitle_string_list_tag));
            return false;
        }
        sound->subtitle_string_list_index = (int16_t)list;
    }
    return true;
}

bool postprocess_ambient_sound_definition(definition_globals *, int32_t, int32_t, void *definition)
{
    ambient_sound_definition *ambient = (ambient_sound_definition *)definition;
    bool resolved = true;
    for (int32_t i = 0; i < NUMBER_OF_AMBIENT_SOUND_TAGS; ++i) ambient->sound_indexes[i] = NONE;
    for (int32_t i = _ambient_sound_background_sound; i <= _ambient_sound_random_sound; ++i)
    {
        if (ambient->sound_tags[i] == NONE) continue;
        const int32_t index = try_definition_tag_to_index(&sound_definitions, ambient->sound_tags[i], true, 0);
        ambient->sound_indexes[i] = (int16_t)index;
        if (index == NONE) resolved = false;
    }
    ambient->period = ambient->phase = 0;
    return resolved;
}

// A count outside the list's 30 entries is taken to the nearest bound.
static void clamp_sound_list_count(sound_list_definition *list)
{
    if (list->number_of_sounds >= 0 && list->number_of_sounds <= MAXIMUM_SOUNDS_PER_SOUND_LIST_DEFINITION) return;
    log_message(__FILE__, __LINE__, "sound list: number_of_sounds %d clamped to 0..%d", (int)list->number_of_sounds,
                (int)MAXIMUM_SOUNDS_PER_SOUND_LIST_DEFINITION);
    list->number_of_sounds =
        (int16_t)(list->number_of_sounds < 0 ? 0 : MAXIMUM_SOUNDS_PER_SOUND_LIST_DEFINITION);
}

void sound_list_definition_dependencies(definition_globals *, int32_t, int32_t, void *definition,
                                        definition_dependency_report report)
{
    sound_list_definition *list = (sound_list_definition *)definition;
    clamp_sound_list_count(list);
    for (int32_t i = 0; i < MAXIMUM_SOUNDS_PER_SOUND_LIST_DEFINITION; ++i) list->sounds[i].index = NONE;
    for (int32_t i = 0; i < list->number_of_sounds; ++i)
        if (list->sounds[i].sound_tag != NONE)
            report(SOUND_DEFINITION_GROUP_TAG, list->sounds[i].sound_tag, &list->sounds[i].index, 0);
}

bool postprocess_sound_list_definition(definition_globals *, int32_t, int32_t, void *definition)
{
    sound_list_definition *list = (sound_list_definition *)definition;
    clamp_sound_list_count(list);
    for (int32_t i = 0; i < list->number_of_sounds; ++i)
    {
        sound_list_entry &entry = list->sounds[i];
        if (entry.sound_tag == NONE) entry.index = NONE;
        else if (entry.index == NONE)
            entry.index = (int16_t)try_definition_tag_to_index(&sound_definitions, entry.sound_tag, true, 0);
    }
    return true;
}

// ---- queries -------------------------------------------------------------------------------

sound_definition *get_sound_definition(int32_t sound_index)
{
    return sound_index == NONE ? nullptr : (sound_definition *)try_and_get_definition(&sound_definitions, sound_index);
}

sound_runtime *get_sound_runtime(int32_t sound_index)
{
    if (!get_sound_definition(sound_index)) return nullptr;
    return (sound_runtime *)get_definition_runtime(&sound_definitions, sound_index);
}

ambient_sound_definition *get_ambient_sound_definition(int32_t ambient_index)
{
    return ambient_index == NONE
               ? nullptr
               : (ambient_sound_definition *)try_and_get_definition(&ambient_sound_definitions, ambient_index);
}

sound_list_definition *get_sound_list_definition(int32_t list_index)
{
    return list_index == NONE ? nullptr
                              : (sound_list_definition *)try_and_get_definition(&sound_list_definitions, list_index);
}

int32_t get_sound_list_sound_index(int32_t list_index, int32_t position)
{
    if (!VASSERT(position >= 0 && position < MAXIMUM_SOUNDS_PER_SOUND_LIST_DEFINITION,
                 "sound_index>=0 && sound_index<MAXIMUM_SOUNDS_PER_SOUND_LIST_DEFINITION"))
        return NONE;
    const sound_list_definition *list = get_sound_list_definition(list_index);
    if (!list || position >= list->number_of_sounds) return NONE;
    return list->sounds[position].index;
}

int32_t get_sound_decoded_block_size(const sound_definition *definition)
{
    const int32_t n = definition->number_of_permutations;
    if (n < 0 || n > MAXIMUM_PERMUTATIONS_PER_SOUND || definition->sound_size < n * SAMPLED_SOUND_HEADER_SIZE)
        return 0;
    const int64_t size =
        (int64_t)n * SAMPLED_SOUND_HEADER_SIZE +
        (int64_t)((definition->sound_size - n * SAMPLED_SOUND_HEADER_SIZE) / IMA_PACKET_SIZE) * DECODED_PACKET_SIZE;
    return size > 0x7FFFFFFF ? 0 : (int32_t)size;
}

// ---- decoding -------------------------------------------------------------------------------

// Decodes `packets` packets of `buffer` into `destination`: one after another
// for mono, pairs interleaved left, right for stereo (`packets` even).
static void decode_packets(const uint8_t *buffer, int32_t packets, bool stereo, int16_t *destination)
{
    int16_t left[NUMBER_OF_IMA_SAMPLES_PER_PACKET], right[NUMBER_OF_IMA_SAMPLES_PER_PACKET];
    for (int32_t p = 0; p < packets; p += stereo ? 2 : 1)
    {
        const uint8_t *packet = buffer + p * IMA_PACKET_SIZE;
        if (!stereo)
        {
            apple_adpcm_packet_decompress(read_be16(packet), packet + 2, destination, NUMBER_OF_IMA_SAMPLES_PER_PACKET);
            destination += NUMBER_OF_IMA_SAMPLES_PER_PACKET;
            continue;
        }
        apple_adpcm_packet_decompress(read_be16(packet), packet + 2, left, NUMBER_OF_IMA_SAMPLES_PER_PACKET);
        apple_adpcm_packet_decompress(read_be16(packet + IMA_PACKET_SIZE), packet + IMA_PACKET_SIZE + 2, right,
                                      NUMBER_OF_IMA_SAMPLES_PER_PACKET);
        for (int32_t k = 0; k < NUMBER_OF_IMA_SAMPLES_PER_PACKET; ++k)
        {
            *destination++ = left[k];
            *destination++ = right[k];
        }
    }
}

// Decodes every permutation of a checked sound into `runtime` (its block of
// `block_size` bytes already allocated).  False when a read fails; the
// permutations before it stay decoded.
static bool decode_sound_block(const sound_data_source *source, const sound_definition *definition,
                               sound_runtime *runtime, uint8_t *buffer)
{
    const int32_t n = definition->number_of_permutations;
    sampled_sound_header *headers = (sampled_sound_header *)runtime->block;
    if (!read_sample_headers(source, definition, headers))
    {
        log_message(__FILE__, __LINE__, "couldn't read headers for sound.");
        return false;
    }
    int16_t *destination = (int16_t *)(runtime->block + n * SAMPLED_SOUND_HEADER_SIZE);
    int32_t position = definition->sound_offset + n * SAMPLED_SOUND_HEADER_SIZE;
    for (int32_t i = 0; i < n; ++i)
    {
        sampled_sound_header *header = &headers[i];
        const bool stereo = header->channels >= 2;
        const int32_t packets = header->number_of_samples;
        // An unpaired last stereo packet is skipped: it has no partner to interleave with.
        const int32_t used = stereo ? packets & ~1 : packets;
        if (used != packets) log_message(__FILE__, __LINE__, "stereo sound with odd packet count %d", (int)packets);
        runtime->samples[i] = destination;
        int32_t done = 0;
        while (done < used)
        {
            int32_t chunk = used - done;
            if (chunk > DECOMPRESSION_BUFFER_PACKETS) chunk = DECOMPRESSION_BUFFER_PACKETS;
            if (!read_sound_data(source, position, chunk * IMA_PACKET_SIZE, buffer))
            {
                log_message(__FILE__, __LINE__, "couldn't read samples from sound.");
                header->number_of_samples = 0;
                return false;
            }
            decode_packets(buffer, chunk, stereo, destination);
            destination += chunk * NUMBER_OF_IMA_SAMPLES_PER_PACKET;
            position += chunk * IMA_PACKET_SIZE;
            done += chunk;
        }
        position += (packets - used) * IMA_PACKET_SIZE;
        destination += (packets - used) * NUMBER_OF_IMA_SAMPLES_PER_PACKET; // keeps the stated layout
        header->number_of_samples = used * NUMBER_OF_IMA_SAMPLES_PER_PACKET;
        // The block now holds 16-bit PCM, whatever the file said.
        header->logical_bits_per_sample = 16;
        header->physical_bytes_per_sample_minus_one = 1;
        memset(header->samples, 0, sizeof(header->samples));
    }
    runtime->decoded = true;
    return true;
}

// Allocates the block for a checked sound and decodes it.
static bool decode_sound(const sound_data_source *source, const sound_definition *definition,
                         sound_runtime *runtime, const char *name)
{
    if (runtime->decoded) return true;
    const int32_t size = get_sound_decoded_block_size(definition);
    if (!runtime->block)
    {
        runtime->block = (uint8_t *)calloc(size > 0 ? (size_t)size : 1, 1);
        if (!runtime->block)
        {
            ERROR_MESSAGE(_error_out_of_memory, "couldn't allocate #%d bytes for samples of sound '%s'.", (int)size,
                          name);
            return false;
        }
        runtime->block_size = size;
    }
    uint8_t *buffer = sound_definition_globals.decompression_buffer;
    const bool own_buffer = buffer == nullptr; // tools and the fuzzer run without start-up
    if (own_buffer && !(buffer = (uint8_t *)malloc(DECOMPRESSION_BUFFER_SIZE))) return false;
    const bool decoded = decode_sound_block(source, definition, runtime, buffer);
    if (own_buffer) free(buffer);
    return decoded;
}

bool load_sound_definition_data(int32_t sound_index)
{
    const sound_definition *definition = get_sound_definition(sound_index);
    sound_runtime *runtime = get_sound_runtime(sound_index);
    if (!definition || !runtime) return false;
    const int32_t tag_index = get_definition_tag_header(&sound_definitions, sound_index);
    const char *name = get_definition_name(&sound_definitions, sound_index);
    tag_file_info info;
    if (tag_index == NONE || !tag_file_info_get(tag_index, &info)) return false;
    // Checked again: the store may have been reopened since the postprocess.
    sampled_sound_header headers[MAXIMUM_PERMUTATIONS_PER_SOUND];
    const sound_data_source source = {tag_index, nullptr, 0, false};
    if (const char *field = check_sound_definition(definition, info.size, nullptr))
        return refuse_sound(name, field, sound_field_value(definition, field));
    if (!read_sample_headers(&source, definition, headers)) return refuse_sound(name, "sampled sound headers", 0);
    if (const char *field = check_sound_definition(definition, info.size, headers))
        return refuse_sound(name, field, definition->sound_size);
    return decode_sound(&source, definition, runtime, name);
}

const sampled_sound_header *get_sound_permutation_header(int32_t sound_index, int32_t permutation,
                                                         const int16_t **samples)
{
    const sound_definition *definition = get_sound_definition(sound_index);
    const sound_runtime *runtime = get_sound_runtime(sound_index);
    if (!definition || !runtime || !runtime->decoded || permutation < 0 ||
        permutation >= definition->number_of_permutations)
        return nullptr;
    if (samples) *samples = runtime->samples[permutation];
    return (const sampled_sound_header *)runtime->block + permutation;
}

// ---- the stored form ------------------------------------------------------------------------

static int32_t packets_of(const sound_pcm_permutation &p)
{
    const int32_t per_channel = (p.frames + NUMBER_OF_IMA_SAMPLES_PER_PACKET - 1) / NUMBER_OF_IMA_SAMPLES_PER_PACKET;
    return per_channel * p.channels;
}

int32_t encode_sound_tag_data(const sound_definition *record, const sound_pcm_permutation *permutations,
                              int32_t count, void *buffer, int32_t size)
{
    if (count < 0 || count > MAXIMUM_PERMUTATIONS_PER_SOUND) return NONE;
    int64_t packet_total = 0;
    for (int32_t i = 0; i < count; ++i)
    {
        if (permutations[i].channels < 1 || permutations[i].channels > 2 || permutations[i].frames < 0) return NONE;
        packet_total += packets_of(permutations[i]);
    }
    const int32_t list_offset = SOUND_DEFINITION_SIZE;
    const int32_t list_size = count * SOUND_PERMUTATION_DATA_SIZE;
    const int32_t block_offset = list_offset + list_size;
    const int64_t total = block_offset + (int64_t)count * SAMPLED_SOUND_HEADER_SIZE + packet_total * IMA_PACKET_SIZE;
    if (total > 0x7FFFFFFF) return NONE;
    if (!buffer) return (int32_t)total;
    if (size < total) return NONE;
    uint8_t *out = (uint8_t *)buffer;
    memset(out, 0, (size_t)total);

    sound_definition stored = *record;
    stored.number_of_permutations = count;
    stored.permutations_offset = list_offset;
    stored.permutations_size = list_size;
    stored.sound_offset = block_offset;
    stored.sound_size = (int32_t)(total - block_offset);
    stored.subtitle_string_list_index = 0;
    stored.last_permutation_picked = 0;
    stored.reference_count = 0;
    stored.permutations_played_flags = 0;
    stored.local_tick_last_played = 0;
    memset(stored.sound_permutations, 0, 4);
    memset(stored.sampled_sound_headers, 0, 4);
    byte_swap_data("sound definition", &stored, SOUND_DEFINITION_SIZE, 1, sound_definition_byte_swapping_data);
    memcpy(out, &stored, SOUND_DEFINITION_SIZE);

    uint8_t *packet_out = out + block_offset + count * SAMPLED_SOUND_HEADER_SIZE;
    for (int32_t i = 0; i < count; ++i)
    {
        const sound_pcm_permutation &p = permutations[i];
        sound_permutation_data permutation = {};
        permutation.skip_fraction = p.skip_fraction;
        if (p.name) snprintf(permutation.name, sizeof(permutation.name), "%s", p.name);
        byte_swap_data("sound permutation", &permutation, SOUND_PERMUTATION_DATA_SIZE, 1,
                       sound_permutation_data_byte_swapping_data);
        memcpy(out + list_offset + i * SOUND_PERMUTATION_DATA_SIZE, &permutation, SOUND_PERMUTATION_DATA_SIZE);

        const int32_t packets = packets_of(p);
        sampled_sound_header header = {};
        header.flags = _sound_is_ima_compressed_flag;
        header.logical_bits_per_sample = 16;
        header.physical_bytes_per_sample_minus_one = 1;
        header.channels = p.channels;
        header.sample_rate = p.sample_rate;
        header.number_of_samples = packets;
        header.loop_end = packets / p.channels * NUMBER_OF_IMA_SAMPLES_PER_PACKET;
        byte_swap_data("sampled sound header", &header, SAMPLED_SOUND_HEADER_SIZE, 1,
                       sampled_sound_header_byte_swapping_data);
        memcpy(out + block_offset + i * SAMPLED_SOUND_HEADER_SIZE, &header, SAMPLED_SOUND_HEADER_SIZE);

        // Each channel is its own stream of packets; stereo stores them in
        // alternate packets, left first.
        int16_t index[2] = {0, 0}, predictor[2] = {0, 0};
        int16_t channel[NUMBER_OF_IMA_SAMPLES_PER_PACKET];
        for (int32_t first = 0; first < p.frames; first += NUMBER_OF_IMA_SAMPLES_PER_PACKET)
        {
            const int32_t frames = p.frames - first < NUMBER_OF_IMA_SAMPLES_PER_PACKET ? p.frames - first
                                                                                       : NUMBER_OF_IMA_SAMPLES_PER_PACKET;
            for (int32_t c = 0; c < p.channels; ++c)
            {
                for (int32_t k = 0; k < frames; ++k) channel[k] = p.samples[(first + k) * p.channels + c];
                encode_ima_packet(channel, frames, (apple_ima_packet_chunk *)packet_out, &index[c], &predictor[c]);
                packet_out += IMA_PACKET_SIZE;
            }
        }
    }
    return (int32_t)total;
}

const char *check_sound_tag_data(const void *data, int32_t size, int32_t *decoded_samples)
{
    if (decoded_samples) *decoded_samples = 0;
    if (size < SOUND_DEFINITION_SIZE) return "size";
    sound_definition definition;
    memcpy(&definition, data, sizeof(definition));
    if (!byte_swap_data("sound definition", &definition, SOUND_DEFINITION_SIZE, 1,
                        sound_definition_byte_swapping_data))
        return "record";
    const sound_data_source source = {NONE, (const uint8_t *)data, size, false};
    if (const char *field = check_sound_definition(&definition, size, nullptr)) return field;
    sampled_sound_header headers[MAXIMUM_PERMUTATIONS_PER_SOUND];
    if (!read_sample_headers(&source, &definition, headers)) return "sampled sound headers";
    if (const char *field = check_sound_definition(&definition, size, headers)) return field;
    sound_runtime runtime = {};
    const bool taken = read_permutations(&source, &definition, &runtime, "check") &&
                       decode_sound(&source, &definition, &runtime, "check");
    if (taken && decoded_samples)
        for (int32_t i = 0; i < definition.number_of_permutations; ++i)
            *decoded_samples += ((const sampled_sound_header *)runtime.block)[i].number_of_samples;
    release_sound_runtime(&runtime);
    return taken ? nullptr : "samples";
}

// ---- registration into the preloader ------------------------------------------------------

bool register_sound_definition_preloading(void)
{
    return register_load_sound_permutation_data_procedure(fetch_sound_permutation_data);
}
