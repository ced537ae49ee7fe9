#include "ElementTree.h"

#include "Pictures.h"
#include "platform/MessageBoxes.h"
#include "store/ElementStore.h"
#include "store/IniFile.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QGroupBox>
#include <QRegularExpression>
#include <QTreeWidget>

namespace vexo {

ElementTree::ElementTree(const ElementStore& store, MessageBoxes& boxes, QGroupBox* frmTreeView,
                         QTreeWidget* TreeView1, QComboBox* cmbEncoders, QWidget* VUMeter)
    : m_store(store), m_boxes(boxes), m_frame(frmTreeView), m_tree(TreeView1), m_encoders(cmbEncoders),
      m_meter(VUMeter)
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
        m_meter->resize(0, m_meter->height());
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
    for (const QString& section : sections) {
        QCoreApplication::processEvents();
        if (m_again)
            return; // a newer rebuild was asked for; it starts over from the store
        // A section that is not a MAC address was not written by the station: it has no
        // element behind it, and an entry without a key could not be loaded.
        static const QRegularExpression macSection(QStringLiteral("^[0-9A-Fa-f]{12}$"));
        if (!macSection.match(section).hasMatch())
            continue;
        const QString key = decodeMac(section);
        const int role = storedInt(readFromIni(section, keys::role, m_store.path()));
        const QString name = readFromIni(section, keys::name, m_store.path());
        const QString text = name + QStringLiteral(" [") + key + QLatin1Char(']');
        auto* item = new QTreeWidgetItem(QStringList{text});
        item->setData(0, Qt::UserRole, key);
        item->setIcon(0, role == 1 ? encoderPicture : otherPicture);
        m_tree->addTopLevelItem(item);
        if (role == 1)
            m_encoders->addItem(text);
    }
    updateCaption();
}

} // namespace vexo
