// Built into targets outside tests/ that list this file; the launcher lives in support/.
#include "support/SimProcess.cpp"
