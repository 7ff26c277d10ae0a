#pragma once
// 3D geometry turned into model-triangle surfaces.
