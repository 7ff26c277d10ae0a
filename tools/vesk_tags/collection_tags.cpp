// The data tool's "collection" command.  See collection_tags.h.

#include "collection_tags.h"

#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "cseries/byte_swapping.h"
#include "cseries/cstrings.h"
#include "cseries/tags.h"
#include "shapes.h"
#include "tag_files/tag_file_formats.h"
#include "tool_support.h"

namespace {

// Text of a collection with a few hundred frames is far below this.
const size_t MAXIMUM_COLLECTION_SOURCE_SIZE = MEG;
const int64_t MAXIMUM_TOOL_VIEWS = 64;
const int64_t MAXIMUM_TOOL_FRAMES = 1024;
const int64_t MAXIMUM_TOOL_INSTANCES = 32767;

struct tool_bitmap
{
    std::string name;
    int16_t width, height;
    uint8_t color;
};

struct tool_sequence
{
    std::string name;
    sequence_data data;
    std::vector<std::vector<int16_t>> frames; // instance indexes as given
};

struct tool_collection
{
    uint32_t flags = 0;
    rgb_color colors[256] = {};
    std::vector<tool_bitmap> bitmaps;
    std::vector<bitmap_instance_data> instances;
    std::vector<tool_sequence> sequences;
};

bool read_source(const char *path, std::vector<source_line> *lines)
{
    return tool_read_source(path, MAXIMUM_COLLECTION_SOURCE_SIZE, lines);
}

bool number(const std::string &word, int64_t minimum, int64_t maximum, int64_t *value)
{
    return tool_parse_number(word.c_str(), minimum, maximum, value);
}

// A frame or "none".
bool frame_or_none(const std::string &word, int64_t *value)
{
    if (word == "none") return (*value = NONE), true;
    return number(word, 0, MAXIMUM_TOOL_FRAMES - 1, value);
}

bool valid_name(const std::string &name) { return !name.empty() && name.size() < 64; }

bool parse_sequence_line(const source_line &line, tool_sequence *sequence)
{
    const std::string &key = line.words[0];
    sequence_data &data = sequence->data;
    int64_t value = 0;
    if (key == "frame")
    {
        std::vector<int16_t> frame;
        for (size_t i = 1; i < line.words.size(); ++i)
        {
            if (!number(line.words[i], 0, MAXIMUM_TOOL_INSTANCES - 1, &value)) return false;
            frame.push_back((int16_t)value);
        }
        if (frame.empty() || (int64_t)sequence->frames.size() >= MAXIMUM_TOOL_FRAMES) return false;
        sequence->frames.push_back(frame);
        return true;
    }
    if (line.words.size() != 2) return false;
    const std::string &word = line.words[1];
    if (key == "views" && number(word, 1, MAXIMUM_TOOL_VIEWS, &value)) data.number_of_views = (int16_t)value;
    else if (key == "flags" && number(word, 0, 7, &value)) data.flags = (uint32_t)value;
    else if (key == "ticks_per_frame" && number(word, 0, 32767, &value)) data.ticks_per_frame = (int16_t)value;
    else if (key == "key_frame" && frame_or_none(word, &value)) data.key_frame = (int16_t)value;
    else if (key == "loop_frame" && frame_or_none(word, &value)) data.loop_frame = (int16_t)value;
    else if (key == "transfer_mode" && number(word, 0, 7, &value)) data.transfer_mode = (int16_t)value;
    else if (key == "transfer_period" && number(word, 0, 32767, &value)) data.transfer_period = (int16_t)value;
    else if (key == "pixels_to_world" && number(word, 0, 0x7FFFFFFF, &value)) data.pixels_to_world = (fixed)value;
    else if (key == "radius" && number(word, 0, 32767, &value)) data.radius = (fixed)(value << 16);
    else if (key == "height0" && number(word, -32768, 32767, &value)) data.height0 = (fixed)(value * 65536);
    else if (key == "height1" && number(word, -32768, 32767, &value)) data.height1 = (fixed)(value * 65536);
    else return false;
    return true;
}

bool parse_line(const source_line &line, tool_collection *collection)
{
    const std::string &key = line.words[0];
    const size_t count = line.words.size();
    int64_t values[6] = {};
    if (key == "sequence")
    {
        if (count != 2 || !valid_name(line.words[1]) ||
            collection->sequences.size() >= (size_t)MAXIMUM_SEQUENCES_PER_COLLECTION)
            return false;
        tool_sequence sequence;
        memset(&sequence.data, 0, sizeof(sequence.data));
        sequence.name = line.words[1];
        sequence.data.number_of_views = 1;
        sequence.data.ticks_per_frame = 1;
        sequence.data.key_frame = NONE;
        sequence.data.loop_frame = NONE;
        sequence.data.pixels_to_world = 0x10000;
        for (tag &sound : sequence.data.sound_tags) sound = NONE;
        for (int16_t &index : sequence.data.sound_indexes) index = NONE;
        collection->sequences.push_back(sequence);
        return true;
    }
    if (key == "flags" && collection->sequences.empty() && count == 2 &&
        number(line.words[1], 0, 0xFFFFFFFF, &values[0]))
    {
        collection->flags = (uint32_t)values[0];
        return true;
    }
    if (key == "color" && count == 5 && number(line.words[1], 0, 255, &values[0]) &&
        number(line.words[2], 0, 65535, &values[1]) && number(line.words[3], 0, 65535, &values[2]) &&
        number(line.words[4], 0, 65535, &values[3]))
    {
        collection->colors[values[0]] = {(uint16_t)values[1], (uint16_t)values[2], (uint16_t)values[3], 0};
        return true;
    }
    if (key == "bitmap" && (count == 4 || count == 5) && valid_name(line.words[1]) &&
        number(line.words[2], 1, MAXIMUM_BITMAP_DIMENSION, &values[0]) &&
        number(line.words[3], 1, MAXIMUM_BITMAP_DIMENSION, &values[1]) &&
        (count == 4 || number(line.words[4], 0, 255, &values[2])) &&
        collection->bitmaps.size() < (size_t)MAXIMUM_BITMAPS_PER_COLLECTION)
    {
        collection->bitmaps.push_back({line.words[1], (int16_t)values[0], (int16_t)values[1], (uint8_t)values[2]});
        return true;
    }
    if (key == "instance" && (count == 6 || count == 7))
    {
        if (!number(line.words[1], 0, (int64_t)collection->bitmaps.size() - 1, &values[0])) return false;
        for (size_t i = 2; i < 6; ++i)
            if (!number(line.words[i], -32768, 32767, &values[i - 1])) return false;
        if (count == 7 && !number(line.words[6], 0, 63, &values[5])) return false;
        if (collection->instances.size() >= (size_t)MAXIMUM_TOOL_INSTANCES) return false;
        bitmap_instance_data instance;
        memset(&instance, 0, sizeof(instance));
        instance.flags = (uint32_t)values[5];
        instance.bitmap_index = (int16_t)values[0];
        instance.lowres_bitmap_index = NONE;
        instance.highres_bitmap_index = NONE;
        instance.registration_point = {(int16_t)values[1], (int16_t)values[2]};
        instance.key_point = {(int16_t)values[3], (int16_t)values[4]};
        collection->instances.push_back(instance);
        return true;
    }
    if (collection->sequences.empty()) return false;
    return parse_sequence_line(line, &collection->sequences.back());
}

// Every frame with one instance per view (mirrored views made here), the key
// and loop frames inside the frames.  Null when all is well, else why not.
const char *complete_sequence(tool_sequence *sequence, tool_collection *collection)
{
    sequence_data &data = sequence->data;
    const int32_t views = data.number_of_views;
    const bool mirroring = data.flags & _sequence_uses_mirroring_flag;
    const int32_t displayed = number_of_displayed_views_in_sequence(views);
    if (sequence->frames.empty()) return "a sequence without frames";
    data.frames_per_view = (int16_t)sequence->frames.size();
    data.flags |= _sequence_has_frame_data_flag;
    if (data.key_frame >= data.frames_per_view) return "key_frame is not a frame of the sequence";
    if (data.loop_frame >= data.frames_per_view) return "loop_frame is not a frame of the sequence";
    for (std::vector<int16_t> &frame : sequence->frames)
    {
        for (int16_t instance : frame)
            if (instance >= (int16_t)collection->instances.size()) return "a frame names an instance not given";
        if (mirroring && (int32_t)frame.size() == displayed && displayed < views)
            for (int32_t v = displayed; v < views; ++v)
            {
                if (collection->instances.size() >= (size_t)MAXIMUM_TOOL_INSTANCES) return "too many instances";
                collection->instances.push_back(collection->instances[frame[mirror_sequence_view(views, v)]]);
                frame.push_back((int16_t)(collection->instances.size() - 1));
            }
        if ((int32_t)frame.size() != views) return "a frame whose instance count is not the sequence's views";
    }
    return nullptr;
}

void append(std::vector<uint8_t> *out, const void *record, size_t size, const byte_swap_code *codes)
{
    std::vector<uint8_t> bytes((const uint8_t *)record, (const uint8_t *)record + size);
    if (codes) byte_swap_data("collection", bytes.data(), (int32_t)size, 1, codes);
    out->insert(out->end(), bytes.begin(), bytes.end());
}

void put16(std::vector<uint8_t> *out, int16_t value)
{
    uint8_t bytes[2];
    write_be16(bytes, (uint16_t)value);
    out->insert(out->end(), bytes, bytes + 2);
}

int16_t log2_of_power(int16_t value)
{
    if (value & (value - 1)) return 0;
    int16_t bits = 0;
    while ((1 << bits) < value) ++bits;
    return bits;
}

// The data block and its header (host order).
void build_collection(const tool_collection &collection, collection_header *header, std::vector<uint8_t> *data)
{
    memset(header, 0, sizeof(*header));
    header->user_data_flags = collection.flags;
    collection_block_data *blocks = header->blocks;

    // The colour table: count, seed, cookie, 20 unused bytes, 256 colours.
    uint8_t table[COLOR_TABLE_SIZE] = {};
    write_be32(table, 256);
    for (int32_t i = 0; i < 256; ++i)
    {
        write_be16(table + 32 + 8 * i, collection.colors[i].red);
        write_be16(table + 32 + 8 * i + 2, collection.colors[i].green);
        write_be16(table + 32 + 8 * i + 4, collection.colors[i].blue);
    }
    blocks[_collection_block_color_tables] = {1, 0, COLOR_TABLE_SIZE, 0};
    data->insert(data->end(), table, table + COLOR_TABLE_SIZE);

    // Where the sequences and bitmaps go: after every fixed-size block.
    const int32_t bitmap_count = (int32_t)collection.bitmaps.size();
    const int32_t instance_count = (int32_t)collection.instances.size();
    const int32_t sequence_count = (int32_t)collection.sequences.size();
    int32_t position = COLOR_TABLE_SIZE;
    blocks[_collection_block_hue_changes] = {0, position, 0, 0};
    blocks[_collection_block_bitmap_references] = {bitmap_count, position, bitmap_count * BITMAP_REFERENCE_SIZE, 0};
    position += bitmap_count * BITMAP_REFERENCE_SIZE;
    blocks[_collection_block_bitmap_instances] = {instance_count, position, instance_count * BITMAP_INSTANCE_SIZE, 0};
    position += instance_count * BITMAP_INSTANCE_SIZE;
    blocks[_collection_block_sequence_references] = {sequence_count, position,
                                                     sequence_count * SEQUENCE_REFERENCE_SIZE, 0};
    position += sequence_count * SEQUENCE_REFERENCE_SIZE;
    blocks[_collection_block_shadow_maps] = {0, position, 0, 0};
    blocks[_collection_block_blend_table] = {0, position, 0, 0};
    blocks[_collection_block_remapping_table] = {0, position, 0, 0};

    std::vector<uint8_t> sequences, bitmaps;
    std::vector<sequence_reference> sequence_references;
    for (const tool_sequence &sequence : collection.sequences)
    {
        sequence_reference reference;
        memset(&reference, 0, sizeof(reference));
        strlcpy(reference.name, sequence.name.c_str(), sizeof(reference.name));
        reference.offset = position + (int32_t)sequences.size();
        const size_t start = sequences.size();
        append(&sequences, &sequence.data, sizeof(sequence.data), sequence_data_byte_swapping_data);
        for (const std::vector<int16_t> &frame : sequence.frames)
        {
            put16(&sequences, NONE); // no shadow map
            for (int i = 0; i < 3 + 19; ++i) put16(&sequences, 0); // key point (computed), unused
            for (int16_t instance : frame) put16(&sequences, instance);
        }
        reference.size = (int32_t)(sequences.size() - start);
        sequence_references.push_back(reference);
    }
    position += (int32_t)sequences.size();
    std::vector<bitmap_reference> bitmap_references;
    for (const tool_bitmap &bitmap : collection.bitmaps)
    {
        bitmap_reference reference;
        memset(&reference, 0, sizeof(reference));
        strlcpy(reference.name, bitmap.name.c_str(), sizeof(reference.name));
        reference.offset = position + (int32_t)bitmaps.size();
        reference.width = bitmap.width;
        reference.height = bitmap.height;
        const size_t start = bitmaps.size();
        // width, height, bytes per row, flags (no row table), depth 8,
        // width and height bits, pixel upshift, encoding; run-time words.
        const int16_t words[9] = {bitmap.width, bitmap.height, bitmap.width, 32, 8,
                                  log2_of_power(bitmap.width), log2_of_power(bitmap.height), 0, 0};
        for (int16_t word : words) put16(&bitmaps, word);
        bitmaps.insert(bitmaps.end(), STORED_BITMAP_HEADER_SIZE - 18, 0);
        bitmaps.insert(bitmaps.end(), (size_t)bitmap.width * (size_t)bitmap.height, bitmap.color);
        reference.size = (int32_t)(bitmaps.size() - start);
        bitmap_references.push_back(reference);
    }

    for (const bitmap_reference &reference : bitmap_references)
        append(data, &reference, sizeof(reference), bitmap_reference_byte_swapping_data);
    for (const bitmap_instance_data &instance : collection.instances)
        append(data, &instance, sizeof(instance), bitmap_instance_byte_swapping_data);
    for (const sequence_reference &reference : sequence_references)
        append(data, &reference, sizeof(reference), sequence_reference_byte_swapping_data);
    data->insert(data->end(), sequences.begin(), sequences.end());
    data->insert(data->end(), bitmaps.begin(), bitmaps.end());
    header->data_offset = COLLECTION_HEADER_SIZE;
    header->data_size = (int32_t)data->size();
}

int usage(void)
{
    fprintf(stderr, "usage: vesk_tags collection OUT [--group .256] --subgroup S --name N SOURCE\n");
    return 2;
}

} // namespace

int collection_tags_command(int argc, char **argv)
{
    const char *out = argc > 2 ? argv[2] : nullptr, *name = nullptr, *source = nullptr;
    tag subgroup = NONE;
    for (int i = 3; i < argc; ++i)
    {
        const std::string option = argv[i];
        tag group = NONE;
        if (option == "--group" && i + 1 < argc)
        {
            if (!tool_parse_code(argv[++i], false, &group) || group != COLLECTION_GROUP_TAG) return usage();
        }
        else if (option == "--subgroup" && i + 1 < argc)
        {
            if (!tool_parse_code(argv[++i], false, &subgroup)) return usage();
        }
        else if (option == "--name" && i + 1 < argc) name = argv[++i];
        else if (!source && option[0] != '-') source = argv[i];
        else return usage();
    }
    if (!out || !name || !source || subgroup == NONE) return usage();
    if (!tag_name_is_valid(name)) return tool_refuse(name, "not a valid tag name");
    std::vector<source_line> lines;
    if (!read_source(source, &lines)) return 1;

    tool_collection collection;
    for (const source_line &line : lines)
        if (!parse_line(line, &collection))
            return tool_refuse_line(source, line.number, "not understood or out of range");
    for (tool_sequence &sequence : collection.sequences)
        if (const char *refusal = complete_sequence(&sequence, &collection))
            return tool_refuse_line(source, 0, (std::string("sequence ") + sequence.name + ": " + refusal).c_str());

    collection_header header;
    std::vector<uint8_t> data;
    build_collection(collection, &header, &data);
    if ((int64_t)data.size() + COLLECTION_HEADER_SIZE > 0x7FFFFFF0) return tool_refuse(source, "collection too large");
    std::vector<uint8_t> tag_data;
    append(&tag_data, &header, sizeof(header), collection_header_byte_swapping_data);
    tag_data.insert(tag_data.end(), data.begin(), data.end());
    return tool_write_local_tag_file(out, COLLECTION_GROUP_TAG, subgroup, COLLECTION_VERSION_NUMBER, 0, name,
                                     tag_data.data(), (int32_t)tag_data.size())
               ? 0
               : 1;
}
