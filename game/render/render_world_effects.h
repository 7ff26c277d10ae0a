#pragma once
// Surfaces of the world effects: lightning, connectors, mesh effects, mirrors, local projectiles.
