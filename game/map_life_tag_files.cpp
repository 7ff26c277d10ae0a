// The tag files of a game.  Kept apart from the game records: the store's
// plug-in limits and the game records' name the same constant differently.

#include "map_life.h"
#include "tag_files/plugins.h"
#include "tag_files/tag_files.h"

bool open_tag_files_for_game(const void *encoded_plugins, int32_t size, int32_t local_choice)
{
    if (encoded_plugins && size > 0)
    {
        if (tag_file_plugins_open(encoded_plugins, size, _plugins_open_encoded_flag)) return true;
        log_message(__FILE__, __LINE__, "the game's plug-ins cannot be opened");
        return false;
    }
    const int16_t none = 0;
    return tag_files_open(local_choice, &none, 0, -1, 0) == 0;
}
