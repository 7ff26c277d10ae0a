#pragma once
// The visible part of the terrain.
