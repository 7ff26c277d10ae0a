// The load and save dialogs and the film manager.
#include "film_dialogs.h"
