#pragma once

#include <QObject>

class QAction;
class QMenu;
class QTreeWidget;
class QTreeWidgetItem;

namespace vexo {

// The element tree's context menu, opened by the right mouse button or the menu key. Over an
// element it offers Ping, Statistics..., History..., Copy MAC address and Copy IP address, after
// pointed() has let the window select that element as a click would; anywhere in the tree it
// offers "Restore list from before the last discovery...", since that is the list it restores.
// The window connects the actions.
class ElementMenu : public QObject
{
    Q_OBJECT
public:
    explicit ElementMenu(QTreeWidget* tree, QObject* parent = nullptr);

    QMenu* menu() const { return m_menu; }
    QAction* ping() const { return m_ping; }
    QAction* statistics() const { return m_statistics; }
    QAction* history() const { return m_history; }
    QAction* copyMac() const { return m_copyMac; }
    QAction* copyIp() const { return m_copyIp; }
    QAction* restoreList() const { return m_restoreList; }

signals:
    // The menu is about to open over this entry (null: over no element).
    void pointed(QTreeWidgetItem* item);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QTreeWidget* m_tree;
    QMenu* m_menu;
    QAction* m_ping;
    QAction* m_statistics;
    QAction* m_history;
    QAction* m_copyMac;
    QAction* m_copyIp;
    QAction* m_elementSeparator;
    QAction* m_restoreList;
};

} // namespace vexo
