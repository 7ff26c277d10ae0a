#pragma once
// The terrain's surfaces: level-of-detail triangles of the visible mesh.
