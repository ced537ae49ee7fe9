#pragma once

#include "PanelWidgets.h"
#include "store/ElementStore.h"

#include <QGroupBox>
#include <QList>
#include <QPair>
#include <QRect>
#include <QString>

#include <functional>
#include <optional>

class QAction;
class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QScrollBar;

namespace vexo {

class ElementStore;
class LevelMeter;
struct StoredField;
class MessageBoxes;
class SelectedElement;
struct ElementConfig;

// Widgets outside the panel that loading and the role layout drive; the main window owns them.
// Any of them may be missing (null), e.g. in a test of the panel alone.
struct PanelPeers
{
    QPushButton* cmdPing = nullptr;     // diagnostics row
    QPushButton* cmdGetStats = nullptr; // diagnostics row
    QAction* startMonitoring = nullptr; // toolbar button 6
    QAction* stopMonitoring = nullptr;  // toolbar button 7
    QCheckBox* chkGetVolume = nullptr;  // hidden; unchecking it stops the level monitor
    LevelMeter* levelMeter = nullptr;   // level bar with its text
    QComboBox* unused = nullptr;
};

// The "Element properties:" frame: the stored configuration of the selected element, arranged
// for its role, with the value rules of every field.
class PropertiesPanel : public QGroupBox, private PanelWidgets
{
    Q_OBJECT
public:
    // The panel shows the selected element and tells it every edit. sendAttenuation sends one
    // AttenuationMessage to the selected element (and stores the value once it left).
    PropertiesPanel(const ElementStore& store, SelectedElement& selection, MessageBoxes& boxes,
                    bool gpsdoVariant, PanelPeers peers, std::function<bool(int)> sendAttenuation,
                    QWidget* parent = nullptr);

    // A click on a tree node: fills the panel from the element's store section.
    void loadElement(const QString& nodeText, const QString& key);
    // Puts a configuration (store keys and values, as the journal keeps what was sent) into the
    // fields as edits the operator made: nothing is sent or stored until "Save changes".
    void loadEdits(const QList<QPair<QString, QString>>& fields);
    // Empties the panel: no element is selected afterwards.
    void clearElementProperties();
    // Sets the role shown (none: "-"); the role layout runs when it changes.
    void setElementRole(std::optional<Role> role);
    // Arranges the panel for the role now shown (encoder, decoder; others: no change).
    void applyRoleLayout();
    // The silence-detector fields are editable only while the routing is detected automatically.
    void applyAudioRouting();

    QString selectedMac() const;             // "-" when none is selected
    std::optional<Role> elementRole() const; // the role lblElementType shows
    // The configuration as the fields hold it now.
    ElementConfig editedConfig() const;
    // What the element reported in its confirmation: type, serial, version and the values of the
    // bars and the routing list.
    void showConfirmation(const ElementConfig& shown);
    void setBufferMaximum(int max);
    bool gpsdoVariant() const { return m_gpsdoVariant; }

    // Sets the keyboard focus order of the panel's fields and the diagnostics buttons. Runs again
    // by itself when the panel is put into another window.
    void applyTabOrder();

    // What the main window uses of the panel's controls: the tree fills the encoder list, the
    // ping tests the address as the operator sees it, the tab order runs on into the panel.
    QComboBox* encoderList() const { return cmbEncoders; }
    QString elementIp() const;
    QWidget* firstTabStop() const;
    QWidget* lastTabStop() const;

    static constexpr int kWidth = 6495 / 15;
    static constexpr int kHeight = 3975 / 15;

signals:
    // "Adjust..." was clicked.
    void adjustRequested();

protected:
    bool event(QEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;
    void paintEvent(QPaintEvent* e) override;

private:
    void setInitialState();
    void connectRules();

    void onAddressEdited(QLineEdit* edit);
    void onAttenuationChanged(int position);
    void onAttenuationAction(int action);
    void onAttenuationReleased();
    void sendAttenuationChange(int position);
    void onTxTypeChanged(int index);
    void onBufferChanged(int position);

    // Stored values put into controls, with the choices for hand-edited contents.
    void loadIndex(QComboBox* list, const StoredField& field);
    void loadPosition(QScrollBar* bar, const StoredField& field);
    void loadDecoderAttenuation(const QString& mac, const StoredField& att);
    void showBarValue(QScrollBar* bar);
    void showStoredText(QLineEdit* edit, const QString& value);
    void pushEdits();

    const ElementStore& m_store;
    SelectedElement& m_selection;
    MessageBoxes& m_boxes;
    bool m_gpsdoVariant;
    PanelPeers m_peers;
    std::function<bool(int)> m_sendAttenuation;

    bool m_loading = false;      // the TX type switch takes no part in loading
    bool m_operatorStep = false; // an operator action on scrlAtten is about to change the value
    int m_dragStart = -1;        // scrlAtten position when the thumb was taken
};

} // namespace vexo
