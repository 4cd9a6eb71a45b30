#pragma once

// OSCBundle and OSCObject refer to each other and live in one header.
#include "osc/OSCObject.h"
