#include "render/mip.h"
