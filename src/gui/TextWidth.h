#pragma once

#include <QChar>
#include <QFontMetrics>
#include <QHash>
#include <QStringView>

namespace vexo {

// The width of a text as the sum of its characters' advances, each character measured once per
// cache. Laying out a text exactly (shaping) costs far more; for the station's entry texts (Latin
// letters, digits, brackets and colons) the sum is the exact width or slightly more, as kerning
// narrows a text. Meant for fitting lists and columns of a thousand entries.
class TextWidth
{
public:
    explicit TextWidth(const QFontMetrics& metrics) : m_metrics(metrics) {}

    int operator()(QStringView text)
    {
        int sum = 0;
        for (QChar c : text) {
            auto it = m_advances.find(c);
            if (it == m_advances.end())
                it = m_advances.insert(c, m_metrics.horizontalAdvance(c));
            sum += *it;
        }
        return sum;
    }

private:
    QFontMetrics m_metrics;
    QHash<QChar, int> m_advances;
};

} // namespace vexo
