// The game graphic's description assembly on arbitrary game descriptions and
// option lines: the first bytes are a net_game_description as it may arrive
// from another machine (names without terminators, any options, scoring,
// plan time, difficulty or plug-in list), one byte picks a film and the
// ranked answer, and the rest are the rows of the 'ingo' string list (split
// at line breaks), which a plug-in may override.  Every text assembled must
// stay terminated inside its buffer, whatever the formats hold.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "bitmap_dialogs/game_graphic_control.h"
#include "cseries/errors.h"
#include "networking_procedures.h"
#include "fuzz_support.h"
#include "tag_files/tag_files.h"
#include "vesk/string_lists.h"

static bool ranked_answer = false;

static bool ranked(void) { return ranked_answer; }

// Only the ranked answer is networking's here; every other member keeps its default.
static networking_procedures fuzz_networking = {};

// Replaces the stored 'ingo' list with `rows`.
static void store_option_rows(const std::vector<std::string> &rows)
{
    delete_string_list_definition_tag(INTERNAL_GAME_OPTIONS_STRING_LIST_TAG);
    const int32_t old = tag_file_find_by_name(STRING_LIST_GROUP_TAG, "ingo");
    if (old != NONE) tag_file_delete(old);
    std::vector<const char *> texts;
    for (const std::string &row : rows) texts.push_back(row.c_str());
    const int32_t size = encode_string_list_data(texts.data(), (int32_t)texts.size(), nullptr, 0);
    if (size <= 0) return;
    std::vector<uint8_t> bytes((size_t)size);
    encode_string_list_data(texts.data(), (int32_t)texts.size(), bytes.data(), size);
    int32_t index = tag_file_new(STRING_LIST_GROUP_TAG, "ingo", STRING_LIST_VERSION);
    if (index != NONE) tag_file_write(&index, 0, size, bytes.data());
}

static void check_terminated(const char *text, size_t size)
{
    if (!memchr(text, 0, size)) abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static bool initialized = false;
    if (!initialized)
    {
        quiet_fuzz_errors();
        if (!make_scratch_store()) abort();
        fuzz_networking.enough_players_for_ranked_game = ranked;
        register_networking_procedures(&fuzz_networking);
        initialized = true;
    }
    if (size > 64 * 1024) return 0;

    game_extra_data game;
    memset(&game, 0, sizeof(game));
    game.cookie = GAME_GRAPHIC_COOKIE;
    const size_t taken = size < sizeof(game.game) ? size : sizeof(game.game);
    memcpy(&game.game, data, taken);
    data += taken;
    size -= taken;
    if (size > 0)
    {
        game.is_replay = data[0] & 1;
        ranked_answer = (data[0] & 2) != 0;
        game.maximum_teams = data[0] >> 2;
        ++data;
        --size;
    }

    std::vector<std::string> rows(1);
    for (size_t i = 0; i < size && rows.size() <= NUMBER_OF_GAME_OPTIONS_STRINGS + 4; ++i)
    {
        if (data[i] == '\n') rows.emplace_back();
        else if (data[i] != 0) rows.back().push_back((char)data[i]);
    }
    if (chdir(scratch_store_path) != 0) abort();
    store_option_rows(rows);
    game_description_text text;
    assemble_game_description(&game, &text);
    // The assembly read the stored rows: a valid game line came from them
    // (the line begins with the game's name, which may itself read "%s").
    if (rows.size() > 2 && rows[2] == "%s" && strncmp(text.game_line, "%s", 2) == 0 &&
        strncmp(game.game.name, "%s", 2) != 0)
        abort();
    if (chdir(scratch_store_fuzzer_directory) != 0) abort();
    check_terminated(text.version, sizeof(text.version));
    check_terminated(text.game_line, sizeof(text.game_line));
    check_terminated(text.type_line, sizeof(text.type_line));
    check_terminated(text.map_line, sizeof(text.map_line));
    check_terminated(text.options, sizeof(text.options));
    return 0;
}
