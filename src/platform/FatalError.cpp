#include "FatalError.h"

namespace vexo {

void FatalError::fail(const QString& text, const QString& caption)
{
    if (m_happened)
        return; // a second failure while the first one is being reported changes nothing
    m_happened = true;
    m_boxes.critical(caption.isEmpty() ? kAppTitle : caption, text);
    for (auto& cleanup : m_cleanups)
        cleanup();
    m_end.end(1);
}

} // namespace vexo
