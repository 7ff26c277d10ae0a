#pragma once
// Object sprites, their marks and shadows, local sprites and ground overlays.
