// The short notice line over the battlefield.
#include "console/console_popup.h"
