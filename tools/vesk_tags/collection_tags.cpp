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
#include "collection_builder.h"
#include "render/render_tables.h"
#include "tool_support.h"

namespace {

// Text of a collection with a few hundred frames is far below this.
const size_t MAXIMUM_COLLECTION_SOURCE_SIZE = MEG;
const int64_t MAXIMUM_TOOL_VIEWS = 64;
const int64_t MAXIMUM_TOOL_FRAMES = 1024;
const int64_t MAXIMUM_TOOL_INSTANCES = 32767;

bool collection_read_source(const char *path, std::vector<source_line> *lines)
{
    return tool_read_source(path, MAXIMUM_COLLECTION_SOURCE_SIZE, lines);
}

bool collection_number(const std::string &word, int64_t minimum, int64_t maximum, int64_t *value)
{
    return tool_parse_number(word.c_str(), minimum, maximum, value);
}

// A frame or "none".
bool frame_or_none(const std::string &word, int64_t *value)
{
    if (word == "none") return (*value = NONE), true;
    return collection_number(word, 0, MAXIMUM_TOOL_FRAMES - 1, value);
}

// A pixel value or "none" (transparent).
bool pixel_value(const std::string &word, uint16_t *value)
{
    int64_t v = 0;
    if (word == "none") return (*value = BUILDER_TRANSPARENT), true;
    if (!collection_number(word, 0, 65534, &v)) return false;
    *value = (uint16_t)v;
    return true;
}

bool bitmap_form(const std::string &word, int32_t *form)
{
    static const char *const names[NUMBER_OF_BUILDER_BITMAP_FORMS] = {"flat", "rle", "rle_nibble", "nibble", "flat16", "flat_rows"};
    for (int32_t i = 0; i < NUMBER_OF_BUILDER_BITMAP_FORMS; ++i)
        if (word == names[i]) return (*form = i), true;
    return false;
}

bool valid_name(const std::string &name) { return !name.empty() && name.size() < 64; }

bool parse_sequence_line(const source_line &line, builder_sequence *sequence, const builder_collection &collection)
{
    const std::string &key = line.words[0];
    sequence_data &data = sequence->data;
    int64_t value = 0;
    if (key == "frame")
    {
        std::vector<int16_t> frame;
        for (size_t i = 1; i < line.words.size(); ++i)
        {
            if (!collection_number(line.words[i], 0, MAXIMUM_TOOL_INSTANCES - 1, &value)) return false;
            frame.push_back((int16_t)value);
        }
        if (frame.empty() || (int64_t)sequence->frames.size() >= MAXIMUM_TOOL_FRAMES) return false;
        sequence->frames.push_back(frame);
        sequence->frame_shadow_maps.push_back(NONE);
        return true;
    }
    if (line.words.size() != 2) return false;
    const std::string &word = line.words[1];
    if (key == "views" && collection_number(word, 1, MAXIMUM_TOOL_VIEWS, &value)) data.number_of_views = (int16_t)value;
    else if (key == "flags" && collection_number(word, 0, 7, &value)) data.flags = (uint32_t)value;
    else if (key == "ticks_per_frame" && collection_number(word, 0, 32767, &value)) data.ticks_per_frame = (int16_t)value;
    else if (key == "key_frame" && frame_or_none(word, &value)) data.key_frame = (int16_t)value;
    else if (key == "loop_frame" && frame_or_none(word, &value)) data.loop_frame = (int16_t)value;
    else if (key == "transfer_mode" && collection_number(word, 0, 7, &value)) data.transfer_mode = (int16_t)value;
    else if (key == "transfer_period" && collection_number(word, 0, 32767, &value)) data.transfer_period = (int16_t)value;
    else if (key == "pixels_to_world" && collection_number(word, 0, 0x7FFFFFFF, &value)) data.pixels_to_world = (fixed)value;
    else if (key == "radius" && collection_number(word, 0, 32767, &value)) data.radius = (fixed)(value << 16);
    else if (key == "height0" && collection_number(word, -32768, 32767, &value)) data.height0 = (fixed)(value * 65536);
    else if (key == "height1" && collection_number(word, -32768, 32767, &value)) data.height1 = (fixed)(value * 65536);
    else if (key == "shadow" && !sequence->frames.empty() &&
             collection_number(word, 0, (int64_t)collection.shadow_maps.size() - 1, &value))
        sequence->frame_shadow_maps.back() = (int16_t)value;
    else return false;
    return true;
}

// Drawing statements on the last bitmap.
bool parse_drawing_line(const source_line &line, builder_bitmap *bitmap)
{
    const std::string &key = line.words[0];
    const size_t count = line.words.size();
    int64_t v[4] = {};
    uint16_t value = 0;
    auto coordinates = [&](size_t n) {
        for (size_t i = 0; i < n; ++i)
            if (!collection_number(line.words[1 + i], -4096, 8192, &v[i])) return false;
        return true;
    };
    if (key == "rectangle" && count == 6 && coordinates(4) && pixel_value(line.words[5], &value))
        builder_fill_rectangle(bitmap, (int32_t)v[0], (int32_t)v[1], (int32_t)v[2], (int32_t)v[3], value);
    else if (key == "ellipse" && count == 6 && coordinates(4) && pixel_value(line.words[5], &value))
        builder_fill_ellipse(bitmap, (int32_t)v[0], (int32_t)v[1], (int32_t)v[2], (int32_t)v[3], value);
    else if (key == "gradient" && count == 7 && coordinates(4))
    {
        int64_t first = 0, last = 0;
        if (!collection_number(line.words[5], 0, 255, &first) || !collection_number(line.words[6], 0, 255, &last)) return false;
        builder_vertical_gradient(bitmap, (int32_t)v[0], (int32_t)v[1], (int32_t)v[2], (int32_t)v[3], (uint8_t)first,
                                  (uint8_t)last);
    }
    else if (key == "outline" && count == 2 && pixel_value(line.words[1], &value)) builder_outline(bitmap, value);
    else return false;
    return true;
}

bool parse_line(const source_line &line, builder_collection *collection)
{
    const std::string &key = line.words[0];
    const size_t count = line.words.size();
    int64_t values[6] = {};
    if (key == "sequence")
    {
        if (count != 2 || !valid_name(line.words[1]) ||
            collection->sequences.size() >= (size_t)MAXIMUM_SEQUENCES_PER_COLLECTION)
            return false;
        collection->sequences.push_back(new_builder_sequence(line.words[1]));
        return true;
    }
    if (key == "flags" && collection->sequences.empty() && count == 2 &&
        collection_number(line.words[1], 0, 0xFFFFFFFF, &values[0]))
    {
        collection->user_data_flags = (uint32_t)values[0];
        return true;
    }
    if (key == "color" && count == 5 && collection_number(line.words[1], 0, 255, &values[0]) &&
        collection_number(line.words[2], 0, 65535, &values[1]) && collection_number(line.words[3], 0, 65535, &values[2]) &&
        collection_number(line.words[4], 0, 65535, &values[3]))
    {
        collection->colors.colors[values[0]] = {(uint16_t)values[1], (uint16_t)values[2], (uint16_t)values[3], 0};
        return true;
    }
    if (key == "bitmap" && count >= 4 && count <= 6 && valid_name(line.words[1]) &&
        collection_number(line.words[2], 1, MAXIMUM_BITMAP_DIMENSION, &values[0]) &&
        collection_number(line.words[3], 1, MAXIMUM_BITMAP_DIMENSION, &values[1]) &&
        collection->bitmaps.size() < (size_t)MAXIMUM_BITMAPS_PER_COLLECTION)
    {
        uint16_t fill = 0;
        int32_t form = _builder_flat_8bit;
        if (count >= 5 && !pixel_value(line.words[4], &fill)) return false;
        if (count == 6 && !bitmap_form(line.words[5], &form)) return false;
        if (form != _builder_flat_16bit && fill != BUILDER_TRANSPARENT && fill > 255 &&
            form != _builder_rle_8bit_nibble && form != _builder_flat_8bit_nibble)
            return false;
        collection->bitmaps.push_back(new_builder_bitmap(line.words[1], (int16_t)values[0], (int16_t)values[1], form, fill));
        return true;
    }
    if ((key == "rectangle" || key == "ellipse" || key == "gradient" || key == "outline") && collection->sequences.empty())
        return !collection->bitmaps.empty() && parse_drawing_line(line, &collection->bitmaps.back());
    if (key == "hue_change" && count == 7 && valid_name(line.words[1]) && collection_number(line.words[2], 0, 65535, &values[0]) &&
        collection_number(line.words[3], 0, 65535, &values[1]) && collection_number(line.words[4], 0, 65535, &values[2]) &&
        collection_number(line.words[5], 0, 65535, &values[3]) && collection_number(line.words[6], 0, 3, &values[4]))
    {
        hue_change change;
        memset(&change, 0, sizeof(change));
        strlcpy(change.name, line.words[1].c_str(), sizeof(change.name));
        change.hue0 = (uint16_t)values[0];
        change.hue1 = (uint16_t)values[1];
        change.minimum_saturation = (uint16_t)values[2];
        change.median_hue = (uint16_t)values[3];
        change.flags = (uint16_t)values[4];
        collection->hue_changes.push_back(change);
        return true;
    }
    if (key == "shadow_map" && (count == 4 || count == 5))
    {
        if (!collection_number(line.words[1], 0, (int64_t)collection->bitmaps.size() - 1, &values[0]) ||
            !collection_number(line.words[2], -32768, 32767, &values[1]) || !collection_number(line.words[3], -32768, 32767, &values[2]) ||
            (count == 5 && !collection_number(line.words[4], 0, 15, &values[3])))
            return false;
        shadow_map_data shadow;
        memset(&shadow, 0, sizeof(shadow));
        shadow.flags = (uint32_t)values[3];
        shadow.registration_x = (fixed)(values[1] * 65536);
        shadow.registration_y = (fixed)(values[2] * 65536);
        shadow.bitmap_index = (int16_t)values[0];
        collection->shadow_maps.push_back(shadow);
        return true;
    }
    if (key == "blend_table" && count == 1)
    {
        collection->blend_table.assign(256 * 256, 0); // built once every colour is known
        return true;
    }
    if (key == "instance" && (count == 6 || count == 7))
    {
        if (!collection_number(line.words[1], 0, (int64_t)collection->bitmaps.size() - 1, &values[0])) return false;
        for (size_t i = 2; i < 6; ++i)
            if (!collection_number(line.words[i], -32768, 32767, &values[i - 1])) return false;
        if (count == 7 && !collection_number(line.words[6], 0, 63, &values[5])) return false;
        if (collection->instances.size() >= (size_t)MAXIMUM_TOOL_INSTANCES) return false;
        collection->instances.push_back(builder_instance((int16_t)values[0], (int16_t)values[1], (int16_t)values[2],
                                                         (int16_t)values[3], (int16_t)values[4], (uint32_t)values[5]));
        return true;
    }
    if (collection->sequences.empty()) return false;
    return parse_sequence_line(line, &collection->sequences.back(), *collection);
}

int collection_usage(void)
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
            if (!tool_parse_code(argv[++i], false, &group) || group != COLLECTION_GROUP_TAG) return collection_usage();
        }
        else if (option == "--subgroup" && i + 1 < argc)
        {
            if (!tool_parse_code(argv[++i], false, &subgroup)) return collection_usage();
        }
        else if (option == "--name" && i + 1 < argc) name = argv[++i];
        else if (!source && option[0] != '-') source = argv[i];
        else return collection_usage();
    }
    if (!out || !name || !source || subgroup == NONE) return collection_usage();
    if (!tag_name_is_valid(name)) return tool_refuse(name, "not a valid tag name");
    std::vector<source_line> lines;
    if (!collection_read_source(source, &lines)) return 1;

    builder_collection collection;
    collection.colors.color_count = MAXIMUM_COLORS_PER_TABLE;
    for (const source_line &line : lines)
        if (!parse_line(line, &collection))
            return tool_refuse_line(source, line.number, "not understood or out of range");
    for (builder_sequence &sequence : collection.sequences)
        if (const char *refusal = complete_builder_sequence(&sequence, &collection))
            return tool_refuse_line(source, 0, (std::string("sequence ") + sequence.name + ": " + refusal).c_str());
    for (hue_change &change : collection.hue_changes) update_colors_effected_by_hue_change(&collection.colors, &change);
    if (!collection.blend_table.empty()) build_blend_table(&collection.colors, collection.blend_table.data());

    const std::vector<uint8_t> tag_data = build_collection_tag_data(collection);
    if (tag_data.empty()) return tool_refuse(source, "collection too large");
    if (!check_collection_tag_data(tag_data.data(), (int32_t)tag_data.size(), name))
        return tool_refuse(source, "the collection does not make a sound collection tag");
    return tool_write_local_tag_file(out, COLLECTION_GROUP_TAG, subgroup, COLLECTION_VERSION_NUMBER, 0, name,
                                     tag_data.data(), (int32_t)tag_data.size())
               ? 0
               : 1;
}
