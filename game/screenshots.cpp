// Screenshots.
#include "screenshots.h"
