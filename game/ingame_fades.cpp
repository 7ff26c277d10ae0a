// In-game fades of the whole game view.
#include "ingame_fades.h"
