// The data tool's sound commands.  See sound_tags.h.

#include "sound_tags.h"
#include "tool_support.h"

#include <cstdio>
#include <cstring>

#include "cseries/byte_swapping.h"
#include "cseries/cseries.h"
#include "cseries/tags.h"
#include "sound/sound_definitions.h"
#include "tag_files/tag_file_formats.h"

static const size_t MAXIMUM_WAV_SIZE = 256u << 20;

static uint32_t le16(const std::string &b, size_t at) { return (uint8_t)b[at] | (uint32_t)(uint8_t)b[at + 1] << 8; }
static uint32_t le32(const std::string &b, size_t at) { return le16(b, at) | le16(b, at + 2) << 16; }

bool read_pcm_wav(const std::string &bytes, std::vector<int16_t> *samples, int32_t *channels, int32_t *rate,
                  std::string *reason)
{
    if (bytes.size() < 12 || bytes.compare(0, 4, "RIFF") != 0 || bytes.compare(8, 4, "WAVE") != 0)
        return *reason = "not a RIFF WAVE file", false;
    bool have_format = false;
    size_t at = 12;
    while (at + 8 <= bytes.size())
    {
        const std::string id = bytes.substr(at, 4);
        const uint32_t size = le32(bytes, at + 4);
        const size_t body = at + 8;
        if (size > bytes.size() - body) return *reason = "chunk '" + id + "' runs past the end of the file", false;
        if (id == "fmt ")
        {
            if (size < 16) return *reason = "short 'fmt ' chunk", false;
            const uint32_t encoding = le16(bytes, body), bits = le16(bytes, body + 14);
            *channels = (int32_t)le16(bytes, body + 2);
            *rate = (int32_t)le32(bytes, body + 4);
            if (encoding != 1 || bits != 16) return *reason = "only 16-bit PCM is taken", false;
            if (*channels != 1 && *channels != 2) return *reason = "only mono or stereo is taken", false;
            if (*rate < 1 || *rate > 65535) return *reason = "sample rate outside 1..65535", false;
            have_format = true;
        }
        else if (id == "data")
        {
            if (!have_format) return *reason = "'data' before 'fmt '", false;
            const size_t frames = size / (2u * (uint32_t)*channels);
            if (frames == 0) return *reason = "no samples", false;
            samples->resize(frames * (size_t)*channels);
            for (size_t i = 0; i < samples->size(); ++i) (*samples)[i] = (int16_t)le16(bytes, body + 2 * i);
            return true;
        }
        at = body + size + (size & 1);
    }
    return *reason = "no 'data' chunk", false;
}

// Reads --subgroup and --name; the rest of the options go to `option`, which
// returns 1 when it took the option (and its values), 0 when it does not know
// it, -1 for a bad value.  Plain words go to `words`.
template <typename option_procedure>
static bool parse_tag_command(int argc, char **argv, tag *subgroup, const char **name, std::vector<const char *> *words,
                              option_procedure option)
{
    *subgroup = NONE;
    *name = nullptr;
    for (int i = 3; i < argc; ++i)
    {
        const bool has_value = i + 1 < argc;
        if (strcmp(argv[i], "--subgroup") == 0 && has_value)
        {
            if (!tool_parse_code(argv[++i], false, subgroup)) return false;
        }
        else if (strcmp(argv[i], "--name") == 0 && has_value) *name = argv[++i];
        else if (argv[i][0] == '-' && argv[i][1] == '-')
        {
            const int taken = option(argv[i], argc - i - 1, argv + i + 1);
            if (taken <= 0) return false;
            i += taken - 1;
        }
        else words->push_back(argv[i]);
    }
    return *subgroup != NONE && *name != nullptr;
}

static bool number_argument(char **values, int available, int which, int64_t low, int64_t high, int64_t *value)
{
    return which < available && tool_parse_argument_number(values[which], low, high, value);
}

static int sound_usage(void)
{
    fprintf(stderr, "usage: vesk_tags sound OUT --subgroup S --name N [--loudness 0-3] [--flags F] [--pitch LOW DELTA]\n"
                    "                  [--volume LOW DELTA] [--play-fraction P] WAV...   (1 to 5 files)\n");
    return 2;
}

int sound_tags_command(int argc, char **argv)
{
    if (argc < 3) return sound_usage();
    sound_definition record;
    get_default_sound_definition(&record);
    tag subgroup;
    const char *name;
    std::vector<const char *> files;
    auto option = [&record](const char *option, int available, char **values) -> int {
        int64_t a, b;
        if (strcmp(option, "--loudness") == 0)
            return number_argument(values, available, 0, 0, NUMBER_OF_SOUND_LOUDNESSES - 1, &a)
                       ? (record.loudness = (int16_t)a, 2)
                       : -1;
        if (strcmp(option, "--flags") == 0)
            return number_argument(values, available, 0, 0, 127, &a) ? (record.flags = (uint32_t)a, 2) : -1;
        if (strcmp(option, "--play-fraction") == 0)
            return number_argument(values, available, 0, 0, 65535, &a) ? (record.play_fraction = (uint16_t)a, 2) : -1;
        const bool pitch = strcmp(option, "--pitch") == 0, volume = strcmp(option, "--volume") == 0;
        if (!pitch && !volume) return 0;
        if (!number_argument(values, available, 0, 0, 32767, &a) || !number_argument(values, available, 1, 0, 32767, &b))
            return -1;
        (pitch ? record.pitch_lower_bound : record.volume_lower_bound) = (int16_t)a;
        (pitch ? record.pitch_delta : record.volume_delta) = (int16_t)b;
        return 3;
    };
    if (!parse_tag_command(argc, argv, &subgroup, &name, &files, option)) return sound_usage();
    if (files.empty() || files.size() > MAXIMUM_PERMUTATIONS_PER_SOUND) return sound_usage();
    if (!tag_name_is_valid(name)) return tool_refuse(name, "not a valid tag name");

    std::vector<std::vector<int16_t>> pcm(files.size());
    std::vector<sound_pcm_permutation> permutations(files.size());
    for (size_t i = 0; i < files.size(); ++i)
    {
        std::string bytes, reason;
        int32_t channels = 0, rate = 0;
        if (!tool_read_file(files[i], MAXIMUM_WAV_SIZE, &bytes, &reason) ||
            !read_pcm_wav(bytes, &pcm[i], &channels, &rate, &reason))
            return tool_refuse(files[i], reason.c_str());
        const char *base = strrchr(files[i], '/');
        permutations[i] = {pcm[i].data(), (int32_t)(pcm[i].size() / channels), (int16_t)channels, rate << 16, 0,
                           base ? base + 1 : files[i]};
    }
    const int32_t size = encode_sound_tag_data(&record, permutations.data(), (int32_t)permutations.size(), nullptr, 0);
    if (size == NONE) return tool_refuse(files[0], "the sound does not fit one tag");
    std::vector<uint8_t> data((size_t)size);
    encode_sound_tag_data(&record, permutations.data(), (int32_t)permutations.size(), data.data(), size);
    return tool_write_local_tag_file(argv[2], SOUND_DEFINITION_GROUP_TAG, subgroup, SOUND_DEFINITION_VERSION,
                                     record.flags, name, data.data(), size)
               ? 0
               : 1;
}

static int ambient_usage(void)
{
    fprintf(stderr, "usage: vesk_tags ambient-sound OUT --subgroup S --name N [--loop TAG] [--random TAG] [--inner R]\n"
                    "                  [--outer R] [--period LOW DELTA] [--random-radius R] [--flags F]\n");
    return 2;
}

int ambient_sound_tags_command(int argc, char **argv)
{
    if (argc < 3) return ambient_usage();
    ambient_sound_definition record;
    get_default_ambient_sound_definition(&record);
    tag subgroup;
    const char *name;
    std::vector<const char *> words;
    auto option = [&record](const char *option, int available, char **values) -> int {
        int64_t a, b;
        const bool loop = strcmp(option, "--loop") == 0;
        if (loop || strcmp(option, "--random") == 0)
            return available > 0 && tool_parse_code(values[0], true, &record.sound_tags[loop ? 0 : 1]) ? 2 : -1;
        int16_t *field = strcmp(option, "--inner") == 0           ? &record.inner_radius
                         : strcmp(option, "--outer") == 0         ? &record.outer_radius
                         : strcmp(option, "--random-radius") == 0 ? &record.random_sound_radius
                                                                  : nullptr;
        if (field) return number_argument(values, available, 0, 0, 32767, &a) ? (*field = (int16_t)a, 2) : -1;
        if (strcmp(option, "--flags") == 0)
            return number_argument(values, available, 0, 0, 3, &a) ? (record.flags = (uint32_t)a, 2) : -1;
        if (strcmp(option, "--period") != 0) return 0;
        if (!number_argument(values, available, 0, 0, 32767, &a) || !number_argument(values, available, 1, 0, 32767, &b))
            return -1;
        record.period_lower_bound = (int16_t)a;
        record.period_delta = (int16_t)b;
        return 3;
    };
    if (!parse_tag_command(argc, argv, &subgroup, &name, &words, option) || !words.empty()) return ambient_usage();
    if (!tag_name_is_valid(name)) return tool_refuse(name, "not a valid tag name");
    if (record.outer_radius < record.inner_radius) return tool_refuse(name, "the outer radius lies inside the inner");
    byte_swap_data("ambient sound", &record, AMBIENT_SOUND_DEFINITION_SIZE, 1, ambient_sound_definition_byte_swapping_data);
    return tool_write_local_tag_file(argv[2], AMBIENT_SOUND_DEFINITION_GROUP_TAG, subgroup,
                                     AMBIENT_SOUND_DEFINITION_VERSION, (uint32_t)NONE, name, &record, sizeof(record))
               ? 0
               : 1;
}

static int list_usage(void)
{
    fprintf(stderr, "usage: vesk_tags sound-list OUT --subgroup S --name N TAG...   (1 to 30; none for an empty entry)\n");
    return 2;
}

int sound_list_tags_command(int argc, char **argv)
{
    if (argc < 3) return list_usage();
    tag subgroup;
    const char *name;
    std::vector<const char *> words;
    auto option = [](const char *, int, char **) -> int { return 0; };
    if (!parse_tag_command(argc, argv, &subgroup, &name, &words, option)) return list_usage();
    if (words.empty() || words.size() > MAXIMUM_SOUNDS_PER_SOUND_LIST_DEFINITION) return list_usage();
    if (!tag_name_is_valid(name)) return tool_refuse(name, "not a valid tag name");
    sound_list_definition list;
    get_default_sound_list_definition(&list);
    for (sound_list_entry &entry : list.sounds) get_default_sound_list_entry(&entry);
    list.number_of_sounds = (int16_t)words.size();
    for (size_t i = 0; i < words.size(); ++i)
        if (!tool_parse_code(words[i], true, &list.sounds[i].sound_tag))
            return tool_refuse(words[i], "a sound tag has four characters, or none");
    byte_swap_data("sound list", &list, SOUND_LIST_DEFINITION_SIZE, 1, sound_list_definition_byte_swapping_data);
    return tool_write_local_tag_file(argv[2], SOUND_LIST_DEFINITION_GROUP_TAG, subgroup, SOUND_LIST_DEFINITION_VERSION,
                                     (uint32_t)NONE, name, &list, sizeof(list))
               ? 0
               : 1;
}
