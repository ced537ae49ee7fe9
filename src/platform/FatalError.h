#pragma once

#include "MessageBoxes.h"
#include "ProgramEnd.h"

#include <QString>

#include <functional>
#include <vector>

namespace vexo {

// The one road out of the program after a fatal error: the critical message, every socket
// closed, exit code 1. Callers return right after fail(): under test the process goes on.
class FatalError
{
public:
    FatalError(MessageBoxes& boxes, ProgramEnd& end) : m_boxes(boxes), m_end(end) {}

    // Run before the program ends (closing sockets and the like).
    void addCleanup(std::function<void()> cleanup) { m_cleanups.push_back(std::move(cleanup)); }
    void fail(const QString& text, const QString& caption = QString());
    bool happened() const { return m_happened; }

private:
    MessageBoxes& m_boxes;
    ProgramEnd& m_end;
    std::vector<std::function<void()>> m_cleanups;
    bool m_happened = false;
};

} // namespace vexo
