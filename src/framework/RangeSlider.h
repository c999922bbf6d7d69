#pragma once

// The range slider is shared with windows below the framework and lives in utility/ui.
#include "utility/ui/RangeSlider.h"
