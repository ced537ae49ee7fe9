#include "ElementMenu.h"

#include <QContextMenuEvent>
#include <QMenu>
#include <QTreeWidget>

namespace vexo {

ElementMenu::ElementMenu(QTreeWidget* tree, QObject* parent) : QObject(parent), m_tree(tree)
{
    m_menu = new QMenu(tree);
    m_menu->setObjectName(QStringLiteral("mnuElement"));
    m_menu->setAccessibleName(QStringLiteral("Element menu"));
    auto add = [this](const char* name, const QString& text) {
        QAction* action = m_menu->addAction(text);
        action->setObjectName(QLatin1String(name));
        return action;
    };
    m_ping = add("actPing", QStringLiteral("Ping"));
    m_statistics = add("actStatistics", QStringLiteral("Statistics..."));
    m_history = add("actHistory", QStringLiteral("History..."));
    m_menu->addSeparator();
    m_copyMac = add("actCopyMac", QStringLiteral("Copy MAC address"));
    m_copyIp = add("actCopyIp", QStringLiteral("Copy IP address"));
    m_elementSeparator = m_menu->addSeparator();
    m_restoreList = add("actRestoreList", QStringLiteral("Restore list from before the last discovery..."));
    // The keyboard's menu comes to the tree (it has the focus); the mouse's comes to the viewport,
    // which leaves it to the tree.
    tree->installEventFilter(this);
}

bool ElementMenu::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::ContextMenu || watched != m_tree)
        return QObject::eventFilter(watched, event);
    auto* e = static_cast<QContextMenuEvent*>(event);
    QTreeWidgetItem* item = nullptr;
    QPoint at = e->globalPos();
    if (e->reason() == QContextMenuEvent::Keyboard) {
        // The menu key acts on the current entry and opens the menu beside it.
        item = m_tree->currentItem();
        const QRect rect = item ? m_tree->visualItemRect(item) : QRect();
        at = m_tree->viewport()->mapToGlobal(item ? QPoint(rect.left() + rect.height(), rect.center().y())
                                                  : QPoint(0, 0));
    } else {
        item = m_tree->itemAt(m_tree->viewport()->mapFrom(m_tree, e->pos()));
    }
    emit pointed(item);
    for (QAction* action : {m_ping, m_statistics, m_history, m_copyMac, m_copyIp, m_elementSeparator})
        action->setVisible(item != nullptr);
    m_menu->popup(at);
    return true;
}

} // namespace vexo
