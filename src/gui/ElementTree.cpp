#include "ElementTree.h"

#include "LevelMeter.h"

#include "Pictures.h"
#include "TextWidth.h"
#include "platform/MessageBoxes.h"
#include "store/ElementStore.h"
#include "store/IniFile.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QHeaderView>
#include <QTreeWidget>

#include <algorithm>

namespace vexo {

ElementTree::ElementTree(const ElementStore& store, MessageBoxes& boxes, QGroupBox* frmTreeView,
                         QTreeWidget* TreeView1, QComboBox* cmbEncoders, LevelMeter* levelMeter)
    : m_store(store), m_boxes(boxes), m_frame(frmTreeView), m_tree(TreeView1), m_encoders(cmbEncoders),
      m_meter(levelMeter)
{
}

QString ElementTree::entryKey(const QTreeWidgetItem* item)
{
    return item ? item->data(0, Qt::UserRole).toString() : QString();
}

QTreeWidgetItem* ElementTree::findEntry(const QString& key) const
{
    for (int i = 0; i < m_tree->topLevelItemCount(); ++i) {
        if (entryKey(m_tree->topLevelItem(i)) == key)
            return m_tree->topLevelItem(i);
    }
    return nullptr;
}

void ElementTree::clear()
{
    m_tree->clear();
}

void ElementTree::updateCaption()
{
    m_frame->setTitle(QStringLiteral("Select element: (%1 items)").arg(m_tree->topLevelItemCount()));
}

void ElementTree::fitColumn()
{
    // The column fits the widest entry. Laying out every entry's text exactly (as a column that
    // fits itself to its contents does, on every layout of the tree) costs more than all the rest
    // of a rebuild; the texts are measured by their characters' advances instead, and the icon
    // and margins are taken from the view for one entry.
    if (m_tree->topLevelItemCount() == 0)
        return;
    TextWidth textWidth{QFontMetrics(m_tree->font())};
    int widest = 0;
    int widestRow = 0;
    for (int i = 0; i < m_tree->topLevelItemCount(); ++i) {
        const int width = textWidth(m_tree->topLevelItem(i)->text(0));
        if (width > widest) {
            widest = width;
            widestRow = i;
        }
    }
    // The entry with the widest sum, measured exactly; the other entries are narrower than their
    // sums, so the column is widened by what this entry's sum exceeds its exact width.
    QTreeWidgetItem* item = m_tree->topLevelItem(widestRow);
    const int exact = m_tree->sizeHintForIndex(m_tree->indexFromItem(item)).width();
    const int overshoot = widest - QFontMetrics(m_tree->font()).horizontalAdvance(item->text(0));
    m_tree->header()->resizeSection(0, exact + std::max(0, overshoot));
}

void ElementTree::loadConfig()
{
    // Pending events are processed while the tree fills; a rebuild asked for meanwhile (a reply
    // handled in between) runs once the current one has finished, never inside it.
    if (m_depth > 0) {
        m_again = true;
        return;
    }
    ++m_depth;
    do {
        m_again = false;
        rebuild();
    } while (m_again);
    --m_depth;
}

void ElementTree::rebuild()
{
    m_lstHidden.clear();
    m_tree->clear();
    m_encoders->clear();
    m_encoders->addItem(QStringLiteral("<None>"));
    if (m_meter)
        m_meter->showPeak(0);
    updateCaption();

    if (!m_store.exists()) {
        m_boxes.information(
            QStringLiteral("Information"),
            QStringLiteral("Local database is empty.\rPlease click 'Auto Discover' icon to probe the "
                           "network."));
        updateCaption();
        return;
    }
    loadIniSectionsInto(m_lstHidden, m_store.path());
    if (m_lstHidden.isEmpty()) {
        m_boxes.information(
            QStringLiteral("Information"),
            QStringLiteral("Local database is empty.\rPlease click the 'Auto Discover' icon to probe "
                           "the network."));
        updateCaption();
        return;
    }
    const QIcon encoderPicture = picture(6);
    const QIcon otherPicture = picture(7);
    const QStringList sections = m_lstHidden; // our own copy: events run between the entries
    // The encoder list is filled in one go at the end: one change of the list, not one each.
    QStringList encoders;
    // Pending events are let through before the first entry and then once a frame (not once per
    // entry: each round paints the growing tree, which made a long store take seconds).
    QElapsedTimer sinceEvents;
    // One reading of the store for all entries.
    const QList<QStringList> values = readFromIni(sections, {keys::role, keys::name}, m_store.path());
    for (qsizetype i = 0; i < sections.size(); ++i) {
        const QString& section = sections[i];
        if (!sinceEvents.isValid() || sinceEvents.elapsed() >= kEventsIntervalMs) {
            QCoreApplication::processEvents();
            sinceEvents.start();
            if (m_again)
                return; // a newer rebuild was asked for; it starts over from the store
        }
        // A section that is not a MAC address was not written by the station: it has no
        // element behind it, and an entry without a key could not be loaded.
        if (!isElementSection(section))
            continue;
        const QString key = decodeMac(section);
        const int role = storedInt(values[i][0]);
        const QString& name = values[i][1];
        const QString text = name + QStringLiteral(" [") + key + QLatin1Char(']');
        auto* item = new QTreeWidgetItem(QStringList{text});
        item->setData(0, Qt::UserRole, key);
        item->setIcon(0, role == 1 ? encoderPicture : otherPicture);
        m_tree->addTopLevelItem(item);
        if (role == 1)
            encoders << text;
    }
    m_encoders->addItems(encoders);
    fitColumn();
    updateCaption();
}

} // namespace vexo
