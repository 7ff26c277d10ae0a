// The movie archive writer.

#include "cutscene_archive_writer.h"

#include <cstring>

#include "cutscenes.h"

std::vector<uint8_t> write_cutscene_archive(const std::vector<cutscene_archive_movie> &movies)
{
    std::vector<uint8_t> archive(sizeof(cutscene_archive_header), 0);
    std::vector<cutscene_archive_entry> entries;
    for (const cutscene_archive_movie &movie : movies)
    {
        cutscene_archive_entry entry;
        memset(&entry, 0, sizeof(entry));
        memcpy(entry.name, movie.name.data(), movie.name.size() < 4 ? movie.name.size() : 4);
        entry.data_offset = (int32_t)archive.size();
        entry.data_length = (int32_t)movie.bytes.size();
        archive.insert(archive.end(), movie.bytes.begin(), movie.bytes.end());
        byte_swap_data("cutscene archive entry", &entry, sizeof(entry), 1, cutscene_archive_entry_bs);
        entries.push_back(entry);
    }
    cutscene_archive_header header;
    memset(&header, 0, sizeof(header));
    header.directory_offset = (int32_t)archive.size();
    header.entry_count = (uint16_t)movies.size();
    byte_swap_data("cutscene archive header", &header, sizeof(header), 1, cutscene_archive_header_bs);
    memcpy(archive.data(), &header, sizeof(header));
    const uint8_t *directory = (const uint8_t *)entries.data();
    archive.insert(archive.end(), directory, directory + entries.size() * sizeof(cutscene_archive_entry));
    return archive;
}

size_t cutscene_archive_entry_offset(const std::vector<uint8_t> &archive, int32_t index)
{
    return read_be32(archive.data() + offsetof(cutscene_archive_header, directory_offset)) +
           (size_t)index * sizeof(cutscene_archive_entry);
}
