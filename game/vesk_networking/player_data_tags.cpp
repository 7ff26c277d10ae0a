// The data tags of a player's record: this program's, read, compared.

#include "player_data_tags.h"

#include <cstdio>

#include "cseries/byte_swapping.h"
#include "game_records.h"
#include "tag_files/tag_files.h"

enum
{
    // data_tags: the mark, then the two checksums.
    DATA_TAGS_MARK_0 = 'D',
    DATA_TAGS_MARK_1 = 't',
};

void mark_player_data_with_local_tags(new_player_data *player)
{
    static_assert(sizeof(player->data_tags) == 10);
    player->data_tags[0] = DATA_TAGS_MARK_0;
    player->data_tags[1] = DATA_TAGS_MARK_1;
    write_be32(player->data_tags + 2, tag_files_get_foundation_checksum());
    write_be32(player->data_tags + 6, tag_files_get_patch_checksum());
}

bool get_player_data_tags(const new_player_data *player, uint32_t *foundation, uint32_t *patch)
{
    if (player->data_tags[0] != DATA_TAGS_MARK_0 || player->data_tags[1] != DATA_TAGS_MARK_1) return false;
    *foundation = read_be32(player->data_tags + 2);
    *patch = read_be32(player->data_tags + 6);
    return true;
}

bool describe_other_data(uint32_t foundation, uint32_t patch, bool hosts, char *reason, size_t size)
{
    const uint32_t local_foundation = tag_files_get_foundation_checksum(), local_patch = tag_files_get_patch_checksum();
    const bool foundation_differs = foundation != 0 && foundation != local_foundation;
    const bool patch_differs = patch != 0 && patch != local_patch;
    if (reason && size) reason[0] = 0;
    if (!foundation_differs && !patch_differs) return false;
    const char *what = foundation_differs && patch_differs ? "tag files and patches"
                       : foundation_differs                ? "tag files"
                                                           : "patches";
    // Both texts speak to the joiner.
    if (reason && size && hosts)
        snprintf(reason, size,
                 "The host plays on other game data (its %s differ from yours), so the game could not stay in step. "
                 "The host's data %08x-%08x, yours %08x-%08x.",
                 what, (unsigned)foundation, (unsigned)patch, (unsigned)local_foundation, (unsigned)local_patch);
    else if (reason && size)
        snprintf(reason, size,
                 "Your game data differ from the host's (your %s differ), so the game could not stay in step. "
                 "Your data %08x-%08x, the host's %08x-%08x.",
                 what, (unsigned)foundation, (unsigned)patch, (unsigned)local_foundation, (unsigned)local_patch);
    return true;
}
