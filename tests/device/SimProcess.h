#pragma once
// The simulator launcher now lives with the other shared test helpers.
#include "support/SimProcess.h"
