// vesk_film: prints what a film or saved game holds.
//
//     vesk_film FILE
//
// FILE is a local tag file of group 'reco' or 'save' (the game's "films" and
// "saved games" folders, a film given with --record to vesk_sim).  Prints the
// tag, the header, for a saved game its snapshot header, then each block
// (offset, flags, size, command count) and each command in it (time, verb,
// player, size).  Exits 0 when the whole film reads; 1, with the reason on
// standard error, when it is damaged (what was read is printed first); 2 for
// bad arguments or a file that cannot be read.  A film is damaged for it
// exactly when the game's reader refuses it whole (recording_file_problem,
// the check vesk_sim --film and the game make before playing): an end record
// that disagrees with its header, one missing or doubled, an ending time
// past what a game may idle, a closed film cut short.  A film a crash left
// open (ending time 0) plays to its last whole block, and lists so.

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "commands.h"
#include "game_time.h"
#include "gameplay_versions.h"
#include "cseries/cseries.h"
#include "cseries/tags.h"
#include "recording_format.h"
#include "saved_games.h"

#include "tag_files/tag_file_formats.h"
#include "tag_files/tag_files.h"
#include "tool_folders.h"
#include "tool_help.h"

static const int32_t LOCAL_TAG_FILE_HEADER_SIZE = (int32_t)sizeof(local_tag_file_header);

static const char *const verb_names[NUMBER_OF_COMMAND_VERBS] = {
    "null", "sync", "general", "movement", "target", "attack location", "pick up", "rename", "rotation",
    "drop player", "chat", "detach", "unit adjustment", "sketch", "ally", "preset selection", "sync formation",
    "inventory", "inventory drop", "inventory prev", "inventory next", "forced endgame", "add player", "tutorial input"};

static const char *verb_name(int32_t verb)
{
    const int32_t known = verb < 0 ? -verb : verb;
    return known < NUMBER_OF_COMMAND_VERBS ? verb_names[known] : "unknown";
}

static int damaged(const char *reason, int32_t offset)
{
    fprintf(stderr, "vesk_film: damaged at offset %d: %s\n", offset, reason);
    return 1;
}

// The game's own check of the whole file (its blocks, stamps and end
// record), through the tag store as the game opens a film named by path.
// Null when it would play.
static const char *whole_file_problem(const char *path, const recording_file_header *header, int32_t size)
{
    const int32_t tag_index = tag_file_open_local_file(path);
    if (tag_index == NONE) return "the game cannot open it as a tag file";
    return recording_file_problem(tag_index, header, size);
}

int main(int argc, char **argv)
{
    if (tool_help_asked(argc, argv) || argc != 2)
    {
        fprintf(tool_help_asked(argc, argv) ? stdout : stderr, "usage: vesk_film FILE\n");
        return tool_help_asked(argc, argv) ? 0 : 2;
    }
    report_failed_writes();
    FILE *file = fopen(argv[1], "rb");
    if (!file)
    {
        fprintf(stderr, "vesk_film: cannot open \"%s\"\n", argv[1]);
        return 2;
    }
    std::vector<uint8_t> bytes;
    uint8_t piece[65536];
    for (size_t count; (count = fread(piece, 1, sizeof(piece), file)) > 0;) bytes.insert(bytes.end(), piece, piece + count);
    const bool read_error = ferror(file) != 0;
    fclose(file);
    if (read_error)
    {
        fprintf(stderr, "vesk_film: cannot read \"%s\"\n", argv[1]);
        return 2;
    }
    if (bytes.size() < (size_t)LOCAL_TAG_FILE_HEADER_SIZE || read_be32(&bytes[0]) != LOCAL_TAG_FILE_MAGIC)
    {
        fprintf(stderr, "vesk_film: \"%s\" is no local tag file\n", argv[1]);
        return 2;
    }
    char name[33] = "";
    memcpy(name, &bytes[24], 32);
    const tag group = read_be32(&bytes[8]), subgroup = read_be32(&bytes[12]);
    const int32_t size = (int32_t)read_be32(&bytes[56]);
    printf("tag \"%s\": group '%s', subgroup '%s', tag version %d, %d bytes\n", name, tag_to_string(group),
           tag_to_string(subgroup), (int16_t)read_be16(&bytes[16]), size);
    if (group != RECORDING_GROUP_TAG && group != SAVED_GAME_GROUP_TAG)
    {
        fprintf(stderr, "vesk_film: \"%s\" is neither a film nor a saved game\n", argv[1]);
        return 2;
    }
    if (size < 0 || (size_t)size > bytes.size() - (size_t)LOCAL_TAG_FILE_HEADER_SIZE)
        return damaged("the file is shorter than its tag", 0);
    const uint8_t *data = &bytes[LOCAL_TAG_FILE_HEADER_SIZE];

    if (size < RECORDING_FILE_HEADER_SIZE) return damaged("shorter than the header", 0);
    recording_file_header header;
    memcpy(&header, data, sizeof(header));
    byte_swap_recording_header(&header);
    printf("header: version %d, type %d (%s), data offset %d, ending time %d\n", header.version, header.type,
           header.type == _saved_game_recording_type ? "saved game" : "film", header.data_offset,
           header.recording_ending_time);
    printf("regions: snapshot %d+%d, unit initializers %d+%d, unit placement %d+%d\n", header.snapshot_offset,
           header.snapshot_length, header.monster_initializers_offset, header.monster_initializers_length,
           header.monster_placement_offset, header.monster_placement_length);
    printf("game: type %d, map '%s', seed %u, %d players, local player %d, version %d\n", header.game.parameters.type,
           tag_to_string(header.game.parameters.scenario_tag), header.game.parameters.random_seed,
           header.game.player_count, header.game.local_player_index, header.game.parameters.version & 0xFFFF);
    if (header.public_tags_checksum || header.private_tags_checksum)
        printf("data: foundation checksum %08x, patch checksum %08x\n", (unsigned)header.public_tags_checksum,
               (unsigned)header.private_tags_checksum);
    else
        printf("data: not recorded (an earlier build's file)\n");
    if (const char *problem = recording_header_problem(&header, size)) return damaged(problem, 0);

    if (header.snapshot_length >= SAVE_GAME_HEADER_SIZE)
    {
        save_game_header saved;
        memcpy(&saved, data + header.snapshot_offset, sizeof(saved));
        byte_swap_save_game_header(&saved);
        printf("snapshot: %d x %d, encoding %d, camera at (%d, %d) facing %d, %d console lines\n",
               saved.snapshot_width, saved.snapshot_height, saved.encoding, saved.observer.x, saved.observer.y,
               saved.observer.yaw, saved.cached_console_line_count);
        printf("snapshot size: %d bytes (header %d, pixels %d), zoom 0x%08x\n", header.snapshot_length,
               SAVE_GAME_HEADER_SIZE, header.snapshot_length - SAVE_GAME_HEADER_SIZE, (uint32_t)saved.zoom_factor);
        if (const char *problem = save_game_header_problem(&header, &saved)) return damaged(problem, 0);
    }

    // Its commands read as its own gameplay version reads them (a sync
    // command's layout depends on it).
    const int32_t version = compute_gameplay_version(&header.game.parameters, compute_minimum_build_number(&header.game));
    if (version != NONE) current_gameplay_version = version;
    int32_t offset = header.data_offset, blocks = 0, commands = 0;
    bool last = false;
    while (!last)
    {
        if (size - offset < (int32_t)sizeof(recording_block_header))
        {
            printf("end: the film ends without its last block (cut short)\n");
            break;
        }
        recording_block_header block;
        memcpy(&block, data + offset, sizeof(block));
        byte_swap_recording_block_header(&block);
        last = (block.flags & _last_recording_block_flag) != 0;
        printf("block %d at %d: flags 0x%x%s, size %d, %d commands\n", blocks, offset, block.flags, last ? " (last)" : "",
               block.size, block.command_count);
        const int32_t body = offset + (int32_t)sizeof(block);
        if (block.size > size - body) return damaged("the block runs past the end of the film", offset);
        if (const char *problem = recording_block_problem(data + body, block.size, block.command_count))
            return damaged(problem, offset);
        for (int32_t at = 0; at < block.size;)
        {
            command_header command;
            memcpy(&command, data + body + at, sizeof(command));
            byte_swap_command_header_big(&command);
            printf("  time %d verb %d (%s) player %d size %d", command.time, command.verb, verb_name(command.verb),
                   command.player_index, command.size);
            recording_end_record end;
            if (is_recording_end_record(data + body + at, command.size, &end))
                printf(" (the end: seed 0x%08x hash 0x%08x)", (unsigned)end.state.random_seed,
                       (unsigned)end.state.state_hash);
            if (is_recording_end_record(data + body + at, command.size, &end) && end.chained)
                printf(" (chain from tick %d: 0x%08x, header checksum 0x%08x)", end.chain.first_tick,
                       (unsigned)end.chain.chain_hash, (unsigned)end.chain.file_checksum);
            printf("\n");
            at += command.size;
            ++commands;
        }
        offset = body + block.size;
        ++blocks;
    }
    printf("total: %d blocks, %d commands\n", blocks, commands);
    if (fflush(stdout) != 0 || ferror(stdout))
    {
        fprintf(stderr, "vesk_film: the listing could not be written: %s\n", strerror(errno));
        return 1;
    }
    if (const char *problem = whole_file_problem(argv[1], &header, size))
    {
        fprintf(stderr, "vesk_film: \"%s\" is damaged: %s\n", argv[1], problem);
        return 1;
    }
    return 0;
}
