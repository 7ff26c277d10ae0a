#pragma once
// Particle systems and their splashes as surfaces of the frame.
