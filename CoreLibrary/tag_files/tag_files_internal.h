#pragma once
// What the store's modules (tag_files.cpp, plugins.cpp) offer each other.
// Nothing outside CoreLibrary/tag_files includes this.

#include <cstdint>

#include "cseries/cseries.h"
#include "cseries/files.h"
#include "tag_files/tag_file_formats.h"

// Precedence levels of open files, lowest first.
enum tag_source_level
{
    _source_level_base = 0,       // foundation files, the interface file
    _source_level_patch,          // patches and add-ons
    _source_level_component,      // the interface and lobby plug-ins
    _source_level_game_plugin,    // the game's plug-ins in list order
    _source_level_local,          // local tags
    NUMBER_OF_SOURCE_LEVELS
};

// Opens a monolithic file outside the precedence chain (plug-in scans,
// previews): its tags get indexes that tag_file_read and tag_file_info_get
// accept, but tag_file_open never returns.  Checks the whole file, checksum
// included.  The source index, or NONE (logged) when refused.
int32_t tag_source_open_detached(file_reference *file, const char *label, monolithic_tag_file_header *header);

// Closes a source opened above; its indexes go stale.
void tag_source_close(int32_t source_index);

// The indexes of the tags of `group` in one source, by subgroup; how many.
int32_t tag_source_enumerate_group(int32_t source_index, tag group, int32_t *indexes, int32_t maximum);

// The visible winning tags of `group` whose file is of precedence `level`.
int32_t tag_files_enumerate_level(tag group, int32_t level, int32_t *indexes, int32_t maximum);

// The regular files (or, with `directories`, the subfolders) of `folder`, by
// name, hidden ones left out.  A malloc'd array of MAXIMUM_FILE_NAME-byte
// names (free() it; null when there are none); -1 when the folder cannot be read.
int32_t folder_list(const file_reference *folder, bool directories, char (**names)[MAXIMUM_FILE_NAME]);

// plugins.cpp: scan "plugins", forget the table, name the file of a plug-in,
// and the chosen component plug-ins (0 interface, 1 lobby; NONE when none).
void plugins_scan(void);
void plugins_dispose(void);
bool plugin_file_reference(int32_t plugin_index, file_reference *file);
int32_t component_plugin_index(int32_t which);
