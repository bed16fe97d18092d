#pragma once

// EsbError lives with the text and file helpers, the lowest layer that raises
// it; this header lets the framework and its users name it where they expect it.
#include "util/sbErrors.h"
