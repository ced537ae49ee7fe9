#pragma once

#include "link/LinkOutcomes.h"

namespace vexo {

// What "set the attenuation" came to: whether the message left, and whether `att` was stored.
struct AttenuationOutcome
{
    SendProblem problem; // the message did not leave (nothing stored)
    bool stored = false; // the message left and `att` reached the store
};

} // namespace vexo
