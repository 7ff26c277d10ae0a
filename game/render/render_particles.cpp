// Particle systems and their splashes as surfaces of the frame.
#include "render/render_particles.h"
