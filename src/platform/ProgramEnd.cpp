#include "ProgramEnd.h"

#include <cstdio>
#include <cstdlib>

namespace vexo {

void ProcessEnd::end(int exitCode)
{
    std::fflush(nullptr);
    std::exit(exitCode);
}

} // namespace vexo
