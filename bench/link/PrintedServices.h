#pragma once

// The link's message boxes and program end for the benchmarks: printed, never shown.
#include "platform/MessageBoxes.h"
#include "platform/ProgramEnd.h"

#include <cstdio>

class PrintedBoxes : public vexo::MessageBoxes
{
public:
    vexo::MsgAnswer show(const vexo::MessageBoxRequest& r) override
    {
        std::fprintf(stderr, "message: %s\n", qPrintable(r.text));
        return vexo::MsgAnswer::Ok;
    }
};

class PrintedEnd : public vexo::ProgramEnd
{
public:
    void end(int code) override { std::fprintf(stderr, "program end %d\n", code); }
};
