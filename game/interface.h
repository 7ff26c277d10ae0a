#pragma once
// Overlays the interface draws over the battlefield: the selection band and facing arrows.
