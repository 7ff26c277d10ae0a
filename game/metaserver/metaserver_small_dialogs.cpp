#include "metaserver_small_dialogs.h"

int16_t metaserver_change_room(void) { return -1; }
bool query_metaserver_url(const char *) { return false; }
bool metaserver_query_dialog(const char *) { return false; }
int16_t do_player_search_dialog(void) { return PLAYER_SEARCH_CANCELLED; }
void do_player_info_dialog(dialog_data *, int16_t, uint32_t) {}
