#pragma once

#include <QList>
#include <QRect>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QScrollBar;
class QWidget;

namespace vexo {

// The controls of the "Element properties:" frame and where they stand: ten rows of label and
// field in two columns. The panel owns them privately; tests find them by their object names.
struct PanelWidgets
{
    // Creates every control as a child of the panel.
    void build(QWidget* panel, bool gpsdoVariant);

    // Row 1 and 2
    QLabel* lblElementType;
    QLabel* lblElementMAC;
    QLabel* lblVersion;
    QLabel* lblSerialNumber;
    // Text fields
    QLineEdit* txtElementName;
    QLineEdit* txtElementIP;
    QLineEdit* txtElementGW;
    QLineEdit* txtElementMask;
    QLineEdit* txtRemoteIP;
    QLineEdit* txtVLAN_OM;
    QLineEdit* txtVLAN_Audio;
    // Lists
    QComboBox* cmbAudioType;
    QComboBox* cmbAudioInput;
    QComboBox* cmbAudioTX;
    QComboBox* cmbEncoders;
    QComboBox* cmbSilDetMode;
    QLabel* lblUnicastMulticast; // shows where cmbAudioTX is hidden
    // Role-dependent captions
    QLabel* Label9; // "Audio source:" / "Audio atten:"
    QLabel* Label7; // "Remote IP:" / "Multicast IP:"
    // Attenuation
    QScrollBar* scrlAtten;
    QLabel* lblAttenDB;
    // SFN
    QCheckBox* chkSFNEnabled;
    QPushButton* cmdAdjust;
    // Buffer and silence detector
    QLabel* Label20;
    QScrollBar* scrlBuffer;
    QLabel* lblLatency;
    QLabel* Label24;
    QScrollBar* scrlSilDetLevel;
    QLabel* lblSilDetLevel;
    QLabel* Label26;
    QScrollBar* scrlSilDetTime;
    QLabel* lblSilDetTime;

    QList<QRect> bracket; // lines joining "Audio routing:" to the silence-detector rows
};

} // namespace vexo
