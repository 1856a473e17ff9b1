#pragma once

// The check lives with the store, which needs it below the windows.
#include "store/numbertest.h"
