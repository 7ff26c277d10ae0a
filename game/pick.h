#pragma once
// Picking: which object of the last rendered frame lies under a point or inside a rectangle.
