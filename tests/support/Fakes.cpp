// The fakes are all in Fakes.h.
#include "Fakes.h"
