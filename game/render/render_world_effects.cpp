// Surfaces of the world effects: lightning, connectors, mesh effects, mirrors, local projectiles.
#include "render/render_world_effects.h"
