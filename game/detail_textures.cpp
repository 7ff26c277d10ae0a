// Detail textures ('dtex').
#include "detail_textures.h"
