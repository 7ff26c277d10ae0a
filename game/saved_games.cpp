// Saved games: saving, autosaving, continuing and reverting single-player games.
#include "saved_games.h"
