// Spatial groups: clusters of units of one team and type, rebuilt whenever the scripts run.

#include "spatial_groups.h"
