#pragma once
// Writes a movie archive ("cutscene.gor") of the layout the game reads
// (game/cutscenes.h): the header, the movies' bytes one after another, then
// the directory of 64-byte entries.  Tests build sound and damaged archives
// with it; not used by the game.

#include <cstdint>
#include <string>
#include <vector>

struct cutscene_archive_movie
{
    std::string name; // four characters (shorter names are padded with zeros)
    std::vector<uint8_t> bytes;
};

std::vector<uint8_t> write_cutscene_archive(const std::vector<cutscene_archive_movie> &movies);

// The byte offset of entry `index`'s fields in an archive written above, for
// tests that damage them.
size_t cutscene_archive_entry_offset(const std::vector<uint8_t> &archive, int32_t index);
