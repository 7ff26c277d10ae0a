// The screen page of the preferences dialog.
#include "screen_preferences_page.h"
