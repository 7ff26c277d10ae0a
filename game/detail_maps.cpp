// Detail maps ('dmap').
#include "detail_maps.h"

void register_detail_map_hooks(void)
{
}
