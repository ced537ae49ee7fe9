#pragma once

namespace vexo {

// How the station ends after a fatal error. The application leaves the process; tests record
// the call and carry on.
class ProgramEnd
{
public:
    virtual ~ProgramEnd() = default;
    virtual void end(int exitCode) = 0;
};

class ProcessEnd : public ProgramEnd
{
public:
    void end(int exitCode) override;
};

} // namespace vexo
