#include "PanelWidgets.h"

#include "Accessibility.h"
#include "PanelTexts.h"
#include "TextColours.h"
#include "editor/ValueRules.h"
#include "platform/MessageBoxes.h"
#include "store/ElementStore.h"
#include "store/IniFile.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFocusEvent>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>

#include <algorithm>
#include <utility>

namespace vexo {

using namespace panel;

namespace {

// Geometry of the two label/field columns and the ten rows, in pixels of the 433 x 265 frame.
constexpr int kLeftLabelX = 8;
constexpr int kLeftFieldX = 96;
constexpr int kLeftFieldW = 110;
constexpr int kRightLabelX = 216;
constexpr int kRightFieldX = 300;
constexpr int kRightFieldW = 125;
constexpr int kLeftLabelW = 86;
constexpr int kRightLabelW = 82;
constexpr int kValueBarW = 78; // bar beside a small value label
constexpr int kRoutingW = 108;
constexpr int kFirstRowY = 20;
constexpr int kRowPitch = 24;
constexpr int kFieldH = 21;
constexpr int kBarH = 17;

constexpr int rowY(int row)
{
    return kFirstRowY + (row - 1) * kRowPitch;
}

} // namespace

void PanelWidgets::build(QWidget* panel, bool gpsdoVariant)
{
    auto caption = [panel](const QString& text, int x, int row, int width = 0) {
        if (width == 0)
            width = x == kLeftLabelX ? kLeftLabelW : kRightLabelW;
        auto* label = new QLabel(text, panel);
        label->setGeometry(x, rowY(row), width, kFieldH);
        return label;
    };
    auto named = [](QWidget* w, const char* name) {
        w->setObjectName(QLatin1String(name));
        return w;
    };
    auto valueLabel = [&](const char* name, int x, int row, int width) {
        auto* label = new QLabel(panel);
        named(label, name);
        label->setGeometry(x, rowY(row), width, kFieldH);
        return label;
    };
    auto lineEdit = [&](const char* name, int x, int row, int width, int maxLength) {
        auto* edit = new QLineEdit(panel);
        named(edit, name);
        edit->setGeometry(x, rowY(row), width, kFieldH);
        edit->setMaxLength(maxLength);
        return edit;
    };
    auto list = [&](const char* name, int x, int row, int width, const QStringList& entries) {
        auto* combo = new QComboBox(panel);
        named(combo, name);
        combo->setEditable(false); // selection only
        combo->addItems(entries);
        combo->setGeometry(x, rowY(row), width, kFieldH);
        return combo;
    };
    auto bar = [&](const char* name, int x, int row, int width, int min, int max) {
        auto* scroll = new QScrollBar(Qt::Horizontal, panel);
        named(scroll, name);
        scroll->setRange(min, max);
        scroll->setSingleStep(kSmallStep);
        scroll->setPageStep(kLargeStep);
        // The bars take part in the keyboard focus order and move with the arrow keys.
        scroll->setFocusPolicy(Qt::WheelFocus);
        // A value bar, not a view's scroll bar: the right arrow key and the wheel turned away
        // from the operator raise the value, as the arrow buttons do.
        scroll->setInvertedControls(false);
        scroll->setGeometry(x, rowY(row) + (kFieldH - kBarH) / 2, width, kBarH);
        return scroll;
    };
    QFont small = panel->font();
    small.setPointSizeF(6.75);

    // Row 1
    QLabel* typeCaption = caption(QStringLiteral("System type:"), kLeftLabelX, 1);
    lblElementType = valueLabel("lblElementType", kLeftFieldX, 1, kLeftFieldW);
    QLabel* macCaption = caption(QStringLiteral("MAC address:"), kRightLabelX, 1);
    lblElementMAC = valueLabel("lblElementMAC", kRightFieldX, 1, kRightFieldW);
    // Row 2
    QLabel* versionCaption = caption(QStringLiteral("DSP version:"), kLeftLabelX, 2);
    lblVersion = valueLabel("lblVersion", kLeftFieldX, 2, kLeftFieldW);
    QLabel* serialCaption = caption(QStringLiteral("Serial number:"), kRightLabelX, 2);
    lblSerialNumber = valueLabel("lblSerialNumber", kRightFieldX, 2, kRightFieldW);
    // Row 3
    QLabel* nameCaption = caption(QStringLiteral("System name:"), kLeftLabelX, 3);
    txtElementName = lineEdit("txtElementName", kLeftFieldX, 3, kLeftFieldW, kNameMaxLength);
    txtElementName->setToolTip(QStringLiteral("Max 16 chars"));
    QLabel* audioTypeCaption = caption(QStringLiteral("Audio type:"), kRightLabelX, 3);
    cmbAudioType = list("cmbAudioType", kRightFieldX, 3, kRightFieldW,
                        {QStringLiteral("Left/Right"), QStringLiteral("MPX")});
    // Row 4
    QLabel* ipCaption = caption(QStringLiteral("System IP:"), kLeftLabelX, 4);
    txtElementIP = lineEdit("txtElementIP", kLeftFieldX, 4, kLeftFieldW, kAddressMaxLength);
    Label9 = caption(QStringLiteral("Audio source:"), kRightLabelX, 4);
    named(Label9, "Label9");
    cmbAudioInput = list("cmbAudioInput", kRightFieldX, 4, kRightFieldW,
                         {QStringLiteral("Digital"), QStringLiteral("Analog")});
    scrlAtten = bar("scrlAtten", kRightFieldX, 4, 66, kAttenMin, kAttenMax);
    lblAttenDB = valueLabel("lblAttenDB", kRightFieldX + 70, 4, kRightFieldW - 70);
    // Row 5
    QLabel* gatewayCaption = caption(QStringLiteral("Gateway IP:"), kLeftLabelX, 5);
    txtElementGW = lineEdit("txtElementGW", kLeftFieldX, 5, kLeftFieldW, kAddressMaxLength);
    QLabel* txCaption = caption(QStringLiteral("TX type:"), kRightLabelX, 5);
    cmbAudioTX = list("cmbAudioTX", kRightFieldX, 5, kRightFieldW,
                      {QStringLiteral("Unicast"), QStringLiteral("Multicast")});
    lblUnicastMulticast = valueLabel("lblUnicastMulticast", kRightFieldX, 5, kRightFieldW);
    lblUnicastMulticast->setText(QStringLiteral("Unicast / Multicast"));
    // Row 6
    QLabel* maskCaption = caption(QStringLiteral("Network mask:"), kLeftLabelX, 6);
    txtElementMask = lineEdit("txtElementMask", kLeftFieldX, 6, kLeftFieldW, kAddressMaxLength);
    Label7 = caption(kRemoteCaption, kRightLabelX, 6);
    named(Label7, "Label7");
    txtRemoteIP = lineEdit("txtRemoteIP", kRightFieldX, 6, kRightFieldW, kAddressMaxLength);
    // Row 7: the caption has its field as buddy, so the ampersand is doubled to show as one.
    QLabel* vlanCaption = caption(QStringLiteral("VLAN O&&M:"), kLeftLabelX, 7);
    txtVLAN_OM = lineEdit("txtVLAN_OM", kLeftFieldX, 7, 36, kVlanMaxLength);
    QLabel* vlanAudioCaption = caption(QStringLiteral("Audio:"), kLeftFieldX + 38, 7, 36);
    txtVLAN_Audio = lineEdit("txtVLAN_Audio", kLeftFieldX + kLeftFieldW - 36, 7, 36, kVlanMaxLength);
    for (QLineEdit* vlan : {txtVLAN_OM, txtVLAN_Audio})
        vlan->setToolTip(QStringLiteral("Range: 1-4095"));
    QLabel* boundCaption = caption(QStringLiteral("Bounded to:"), kRightLabelX, 7);
    cmbEncoders = list("cmbEncoders", kRightFieldX, 7, kRightFieldW, {QStringLiteral("<None>")});
    // Row 8
    QLabel* sfnCaption = caption(QStringLiteral("SFN option:"), kLeftLabelX, 8);
    chkSFNEnabled = new QCheckBox(QStringLiteral("On"), panel);
    named(chkSFNEnabled, "chkSFNEnabled");
    chkSFNEnabled->setToolTip(QStringLiteral("Enable PTP Sync"));
    chkSFNEnabled->setGeometry(kLeftFieldX, rowY(8), 46, kFieldH);
    cmdAdjust = new QPushButton(QStringLiteral("Adjust..."), panel);
    named(cmdAdjust, "cmdAdjust");
    cmdAdjust->setGeometry(kLeftFieldX + 50, rowY(8), kLeftFieldW - 50, kFieldH);
    Label20 = caption(QStringLiteral("Buffer size:"), kRightLabelX, 8);
    named(Label20, "Label20");
    scrlBuffer = bar("scrlBuffer", kRightFieldX, 8, kValueBarW, kBufferMin,
                     gpsdoVariant ? kBufferMaxGpsdo : kBufferMax);
    lblLatency = valueLabel("lblLatency", kRightFieldX + kValueBarW + 4, 8, kRightFieldW - kValueBarW - 4);
    // Row 9 and 10: the routing list, joined by a bracket to the two silence-detector rows.
    QLabel* routingCaption = caption(QStringLiteral("Audio routing:"), kLeftLabelX, 9);
    cmbSilDetMode = list(
        "cmbSilDetMode", kLeftFieldX, 9, kRoutingW,
        {QStringLiteral("Auto detect"), QStringLiteral("Force internal"), QStringLiteral("Force external")});
    const int routingEnd = kLeftFieldX + kRoutingW;
    const int bracketX = routingEnd + 4;
    const int stubEnd = kRightLabelX - 3;
    const int row9Mid = rowY(9) + kFieldH / 2;
    const int row10Mid = rowY(10) + kFieldH / 2;
    // The bracket is drawn by the panel itself: decoration, not controls of their own.
    bracket = {QRect(routingEnd, row9Mid, bracketX - routingEnd, 1),
               QRect(bracketX, row9Mid, 1, row10Mid - row9Mid + 1),
               QRect(bracketX, row9Mid, stubEnd - bracketX, 1),
               QRect(bracketX, row10Mid, stubEnd - bracketX, 1)};
    Label24 = caption(QStringLiteral("Threshold:"), kRightLabelX, 9);
    named(Label24, "Label24");
    scrlSilDetLevel = bar("scrlSilDetLevel", kRightFieldX, 9, kValueBarW, kSilDetLevelMin, kSilDetLevelMax);
    lblSilDetLevel =
        valueLabel("lblSilDetLevel", kRightFieldX + kValueBarW + 4, 9, kRightFieldW - kValueBarW - 4);
    Label26 = caption(QStringLiteral("Timeout:"), kRightLabelX, 10);
    named(Label26, "Label26");
    scrlSilDetTime = bar("scrlSilDetTime", kRightFieldX, 10, kValueBarW, kSilDetTimeMin, kSilDetTimeMax);
    lblSilDetTime =
        valueLabel("lblSilDetTime", kRightFieldX + kValueBarW + 4, 10, kRightFieldW - kValueBarW - 4);
    for (QLabel* label : {lblLatency, lblSilDetLevel, lblSilDetTime})
        label->setFont(small);

    // Every field is read by the caption of its row; the value labels with the caption they show.
    a11y::install();
    for (auto [caption, value] : {std::pair{typeCaption, lblElementType},
                                  {macCaption, lblElementMAC},
                                  {versionCaption, lblVersion},
                                  {serialCaption, lblSerialNumber},
                                  {Label9, lblAttenDB},
                                  {txCaption, lblUnicastMulticast},
                                  {Label20, lblLatency},
                                  {Label24, lblSilDetLevel},
                                  {Label26, lblSilDetTime}})
        a11y::labelValue(caption, value);
    for (auto [caption, control] : {std::pair<QLabel*, QWidget*>{nameCaption, txtElementName},
                                    {audioTypeCaption, cmbAudioType},
                                    {ipCaption, txtElementIP},
                                    {Label9, cmbAudioInput},
                                    {gatewayCaption, txtElementGW},
                                    {txCaption, cmbAudioTX},
                                    {maskCaption, txtElementMask},
                                    {Label7, txtRemoteIP},
                                    {vlanCaption, txtVLAN_OM},
                                    {vlanAudioCaption, txtVLAN_Audio},
                                    {boundCaption, cmbEncoders},
                                    {sfnCaption, chkSFNEnabled},
                                    {Label20, scrlBuffer},
                                    {routingCaption, cmbSilDetMode},
                                    {Label24, scrlSilDetLevel},
                                    {Label26, scrlSilDetTime}})
        a11y::label(caption, control);
    // Shown in place of the audio source list, under the caption the role layout gives it then.
    scrlAtten->setAccessibleName(a11y::spokenCaption(QStringLiteral("Audio atten:")));
    cmdAdjust->setAccessibleDescription(QStringLiteral("Open the SFN adjustment window"));
}

} // namespace vexo
