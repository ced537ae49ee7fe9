#pragma once

#include <QString>
#include <QStringList>

class QComboBox;
class QGroupBox;
class QTreeWidget;
class QTreeWidgetItem;
class QWidget;

namespace vexo {

class ElementStore;
class LevelMeter;
class MessageBoxes;

// The element list on the left and the encoder list of the editor, both rebuilt from the store.
class ElementTree
{
public:
    // While the tree fills, pending events are processed at least this often.
    static constexpr int kEventsIntervalMs = 15;

    ElementTree(const ElementStore& store, MessageBoxes& boxes, QGroupBox* frmTreeView,
                QTreeWidget* TreeView1, QComboBox* cmbEncoders, LevelMeter* levelMeter);

    // Rebuilds the tree, the encoder list and the frame caption from the store.
    void loadConfig();
    void clear();         // empties the tree
    void updateCaption(); // "Select element: (n items)"

    static QString entryKey(const QTreeWidgetItem* item); // MAC text of an entry
    QTreeWidgetItem* findEntry(const QString& key) const;
    const QStringList& lstHidden() const { return m_lstHidden; }
    bool loading() const { return m_depth > 0; }

private:
    void rebuild();
    void fitColumn();

    const ElementStore& m_store;
    MessageBoxes& m_boxes;
    QGroupBox* m_frame;
    QTreeWidget* m_tree;
    QComboBox* m_encoders;
    LevelMeter* m_meter;
    QStringList m_lstHidden;
    int m_depth = 0;
    bool m_again = false;
};

} // namespace vexo
