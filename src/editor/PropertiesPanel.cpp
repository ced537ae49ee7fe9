#include "PropertiesPanel.h"

#include "Colours.h"
#include "ValueRules.h"
#include "platform/MessageBoxes.h"
#include "store/ElementStore.h"
#include "store/IniFile.h"

#include <QAbstractItemView>
#include <QAction>
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

namespace {

const QString kEncoder = QStringLiteral("ENCODER");
const QString kDecoder = QStringLiteral("DECODER");
const QString kNone = QStringLiteral("-");
const QString kRemoteCaption = QStringLiteral("Remote IP:");
const QString kMulticastCaption = QStringLiteral("Multicast IP:");
const QString kPingUntested = QStringLiteral("<Click to test>");

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

void enableAction(QAction* action, bool enabled)
{
    if (action)
        action->setEnabled(enabled);
}

} // namespace

PropertiesPanel::PropertiesPanel(const ElementStore& store, MessageBoxes& boxes, bool gpsdoVariant,
                                 PanelPeers peers, std::function<bool(quint8)> sendAttenuation,
                                 QWidget* parent)
    : QGroupBox(QStringLiteral("Element properties:"), parent), m_store(store), m_boxes(boxes),
      m_gpsdoVariant(gpsdoVariant), m_peers(peers), m_sendAttenuation(std::move(sendAttenuation))
{
    setObjectName(QStringLiteral("frmProperties"));
    setFixedSize(kWidth, kHeight);
    // Ten rows of two label/field columns fit the frame at this size with the wide default
    // sans-serif faces of Linux desktops.
    QFont compact = font();
    compact.setPointSizeF(8);
    setFont(compact);
    build();
    setInitialState();
    connectRules();
    applyTabOrder();
}

void PropertiesPanel::build()
{
    auto caption = [this](const QString& text, int x, int row, int width = 0) {
        if (width == 0)
            width = x == kLeftLabelX ? kLeftLabelW : kRightLabelW;
        auto* label = new QLabel(text, this);
        label->setGeometry(x, rowY(row), width, kFieldH);
        return label;
    };
    auto named = [](QWidget* w, const char* name) {
        w->setObjectName(QLatin1String(name));
        return w;
    };
    auto valueLabel = [&](const char* name, int x, int row, int width) {
        auto* label = new QLabel(this);
        named(label, name);
        label->setGeometry(x, rowY(row), width, kFieldH);
        return label;
    };
    auto lineEdit = [&](const char* name, int x, int row, int width, int maxLength) {
        auto* edit = new QLineEdit(this);
        named(edit, name);
        edit->setGeometry(x, rowY(row), width, kFieldH);
        edit->setMaxLength(maxLength);
        return edit;
    };
    auto list = [&](const char* name, int x, int row, int width, const QStringList& entries) {
        auto* combo = new QComboBox(this);
        named(combo, name);
        combo->setEditable(false); // selection only
        combo->addItems(entries);
        combo->setGeometry(x, rowY(row), width, kFieldH);
        return combo;
    };
    auto bar = [&](const char* name, int x, int row, int width, int min, int max) {
        auto* scroll = new QScrollBar(Qt::Horizontal, this);
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
    QFont small = font();
    small.setPointSizeF(6.75);

    // Row 1
    caption(QStringLiteral("System type:"), kLeftLabelX, 1);
    lblElementType = valueLabel("lblElementType", kLeftFieldX, 1, kLeftFieldW);
    caption(QStringLiteral("MAC address:"), kRightLabelX, 1);
    lblElementMAC = valueLabel("lblElementMAC", kRightFieldX, 1, kRightFieldW);
    // Row 2
    caption(QStringLiteral("DSP version:"), kLeftLabelX, 2);
    lblVersion = valueLabel("lblVersion", kLeftFieldX, 2, kLeftFieldW);
    caption(QStringLiteral("Serial number:"), kRightLabelX, 2);
    lblSerialNumber = valueLabel("lblSerialNumber", kRightFieldX, 2, kRightFieldW);
    // Row 3
    caption(QStringLiteral("System name:"), kLeftLabelX, 3);
    txtElementName = lineEdit("txtElementName", kLeftFieldX, 3, kLeftFieldW, kNameMaxLength);
    txtElementName->setToolTip(QStringLiteral("Max 16 chars"));
    caption(QStringLiteral("Audio type:"), kRightLabelX, 3);
    cmbAudioType = list("cmbAudioType", kRightFieldX, 3, kRightFieldW,
                        {QStringLiteral("Left/Right"), QStringLiteral("MPX")});
    // Row 4
    caption(QStringLiteral("System IP:"), kLeftLabelX, 4);
    txtElementIP = lineEdit("txtElementIP", kLeftFieldX, 4, kLeftFieldW, kAddressMaxLength);
    Label9 = caption(QStringLiteral("Audio source:"), kRightLabelX, 4);
    named(Label9, "Label9");
    cmbAudioInput = list("cmbAudioInput", kRightFieldX, 4, kRightFieldW,
                         {QStringLiteral("Digital"), QStringLiteral("Analog")});
    scrlAtten = bar("scrlAtten", kRightFieldX, 4, 66, kAttenMin, kAttenMax);
    lblAttenDB = valueLabel("lblAttenDB", kRightFieldX + 70, 4, kRightFieldW - 70);
    // Row 5
    caption(QStringLiteral("Gateway IP:"), kLeftLabelX, 5);
    txtElementGW = lineEdit("txtElementGW", kLeftFieldX, 5, kLeftFieldW, kAddressMaxLength);
    caption(QStringLiteral("TX type:"), kRightLabelX, 5);
    cmbAudioTX = list("cmbAudioTX", kRightFieldX, 5, kRightFieldW,
                      {QStringLiteral("Unicast"), QStringLiteral("Multicast")});
    lblUnicastMulticast = valueLabel("lblUnicastMulticast", kRightFieldX, 5, kRightFieldW);
    lblUnicastMulticast->setText(QStringLiteral("Unicast / Multicast"));
    // Row 6
    caption(QStringLiteral("Network mask:"), kLeftLabelX, 6);
    txtElementMask = lineEdit("txtElementMask", kLeftFieldX, 6, kLeftFieldW, kAddressMaxLength);
    Label7 = caption(kRemoteCaption, kRightLabelX, 6);
    named(Label7, "Label7");
    txtRemoteIP = lineEdit("txtRemoteIP", kRightFieldX, 6, kRightFieldW, kAddressMaxLength);
    // Row 7: a QLabel without a buddy shows its text as it stands, so one ampersand is enough.
    caption(QStringLiteral("VLAN O&M:"), kLeftLabelX, 7);
    txtVLAN_OM = lineEdit("txtVLAN_OM", kLeftFieldX, 7, 36, kVlanMaxLength);
    caption(QStringLiteral("Audio:"), kLeftFieldX + 38, 7, 36);
    txtVLAN_Audio = lineEdit("txtVLAN_Audio", kLeftFieldX + kLeftFieldW - 36, 7, 36, kVlanMaxLength);
    for (QLineEdit* vlan : {txtVLAN_OM, txtVLAN_Audio})
        vlan->setToolTip(QStringLiteral("Range: 1-4095"));
    caption(QStringLiteral("Bounded to:"), kRightLabelX, 7);
    cmbEncoders = list("cmbEncoders", kRightFieldX, 7, kRightFieldW, {QStringLiteral("<None>")});
    // Row 8
    caption(QStringLiteral("SFN option:"), kLeftLabelX, 8);
    chkSFNEnabled = new QCheckBox(QStringLiteral("On"), this);
    named(chkSFNEnabled, "chkSFNEnabled");
    chkSFNEnabled->setToolTip(QStringLiteral("Enable PTP Sync"));
    chkSFNEnabled->setGeometry(kLeftFieldX, rowY(8), 46, kFieldH);
    cmdAdjust = new QPushButton(QStringLiteral("Adjust..."), this);
    named(cmdAdjust, "cmdAdjust");
    cmdAdjust->setGeometry(kLeftFieldX + 50, rowY(8), kLeftFieldW - 50, kFieldH);
    Label20 = caption(QStringLiteral("Buffer size:"), kRightLabelX, 8);
    named(Label20, "Label20");
    scrlBuffer = bar("scrlBuffer", kRightFieldX, 8, kValueBarW, kBufferMin,
                     m_gpsdoVariant ? kBufferMaxGpsdo : kBufferMax);
    lblLatency = valueLabel("lblLatency", kRightFieldX + kValueBarW + 4, 8, kRightFieldW - kValueBarW - 4);
    // Row 9 and 10: the routing list, joined by a bracket to the two silence-detector rows.
    caption(QStringLiteral("Audio routing:"), kLeftLabelX, 9);
    cmbSilDetMode = list(
        "cmbSilDetMode", kLeftFieldX, 9, kRoutingW,
        {QStringLiteral("Auto detect"), QStringLiteral("Force internal"), QStringLiteral("Force external")});
    const int routingEnd = kLeftFieldX + kRoutingW;
    const int bracketX = routingEnd + 4;
    const int stubEnd = kRightLabelX - 3;
    const int row9Mid = rowY(9) + kFieldH / 2;
    const int row10Mid = rowY(10) + kFieldH / 2;
    auto line = [this](const char* name, int x, int y, int w, int h) {
        auto* frame = new QFrame(this);
        frame->setObjectName(QLatin1String(name));
        frame->setFrameShape(QFrame::Box);
        frame->setFrameShadow(QFrame::Plain);
        frame->setLineWidth(1);
        frame->setGeometry(x, y, w, h);
        return frame;
    };
    line("Line1", routingEnd, row9Mid, bracketX - routingEnd, 1);
    line("Line2", bracketX, row9Mid, 1, row10Mid - row9Mid + 1);
    line("Line3", bracketX, row9Mid, stubEnd - bracketX, 1);
    line("Line4", bracketX, row10Mid, stubEnd - bracketX, 1);
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
}

void PropertiesPanel::setInitialState()
{
    for (QLabel* label : {lblElementType, lblElementMAC, lblSerialNumber, lblVersion})
        label->setText(kNone);
    for (QComboBox* list : {cmbAudioType, cmbAudioInput, cmbAudioTX, cmbSilDetMode, cmbEncoders})
        list->setCurrentIndex(-1);
    lblUnicastMulticast->hide();
    scrlAtten->setValue(kAttenMin);
    lblAttenDB->setText(attenuationText(kAttenMin));
    scrlAtten->hide();
    lblAttenDB->hide();
    scrlBuffer->setValue(0);
    scrlBuffer->setEnabled(false);
    scrlSilDetLevel->setValue(1);
    scrlSilDetTime->setValue(1);
    // Placeholders until a decoder is shown; the bars' rules take over from the first change.
    lblLatency->setText(QStringLiteral("0mS"));
    lblSilDetLevel->setText(QStringLiteral("0dBu"));
    lblSilDetTime->setText(QStringLiteral("0Sec"));
    chkSFNEnabled->setChecked(false);
    for (QLineEdit* vlan : {txtVLAN_OM, txtVLAN_Audio}) {
        vlan->setText(QStringLiteral("1"));
        vlan->setEnabled(false);
    }
    cmdAdjust->setEnabled(false);
    if (m_peers.cmdGetStats)
        m_peers.cmdGetStats->setEnabled(false);
    if (m_peers.cmdPing) {
        m_peers.cmdPing->setText(kPingUntested);
        setButtonColour(m_peers.cmdPing, kUntestedPingColour);
    }
}

void PropertiesPanel::connectRules()
{
    for (QLineEdit* edit : {txtElementIP, txtElementMask, txtElementGW, txtRemoteIP})
        connect(edit, &QLineEdit::textChanged, this, [this, edit] { onAddressEdited(edit); });
    for (QLineEdit* edit : {txtElementName, txtElementIP, txtElementMask, txtElementGW, txtRemoteIP})
        edit->installEventFilter(this);

    connect(scrlAtten, &QScrollBar::actionTriggered, this, &PropertiesPanel::onAttenuationAction);
    connect(scrlAtten, &QScrollBar::valueChanged, this, &PropertiesPanel::onAttenuationChanged);
    connect(scrlAtten, &QScrollBar::sliderPressed, this, [this] { m_dragStart = scrlAtten->value(); });
    connect(scrlAtten, &QScrollBar::sliderReleased, this, &PropertiesPanel::onAttenuationReleased);

    connect(scrlBuffer, &QScrollBar::valueChanged, this, &PropertiesPanel::onBufferChanged);
    connect(scrlSilDetLevel, &QScrollBar::valueChanged, this,
            [this](int p) { lblSilDetLevel->setText(thresholdText(p)); });
    connect(scrlSilDetTime, &QScrollBar::valueChanged, this,
            [this](int p) { lblSilDetTime->setText(timeoutText(p)); });

    // The closed list is narrow; its drop-down shows the encoders' whole texts.
    auto widenPopup = [this] {
        const QFontMetrics metrics(cmbEncoders->view()->font());
        int widest = 0;
        for (int i = 0; i < cmbEncoders->count(); ++i)
            widest = std::max(widest, metrics.horizontalAdvance(cmbEncoders->itemText(i)));
        cmbEncoders->view()->setMinimumWidth(widest + 24);
    };
    connect(cmbEncoders->model(), &QAbstractItemModel::rowsInserted, this, widenPopup);
    connect(cmbEncoders->model(), &QAbstractItemModel::modelReset, this, widenPopup);

    connect(cmbAudioTX, &QComboBox::currentIndexChanged, this, &PropertiesPanel::onTxTypeChanged);
    connect(cmbSilDetMode, &QComboBox::currentIndexChanged, this, [this] { applyAudioRouting(); });
}

void PropertiesPanel::applyTabOrder()
{
    const QList<QWidget*> order = {txtElementName, txtElementIP,    txtElementGW,        txtElementMask,
                                   txtVLAN_OM,     cmbAudioType,    cmbAudioInput,       scrlAtten,
                                   cmbAudioTX,     txtRemoteIP,     txtVLAN_Audio,       cmbEncoders,
                                   chkSFNEnabled,  scrlBuffer,      cmbSilDetMode,       scrlSilDetLevel,
                                   scrlSilDetTime, m_peers.cmdPing, m_peers.cmdGetStats, cmdAdjust};
    QWidget* previous = nullptr;
    for (QWidget* w : order) {
        if (!w)
            continue;
        // The diagnostics buttons join the chain once they share a window with the panel.
        if (previous && previous->window() == w->window())
            QWidget::setTabOrder(previous, w);
        if (!previous || previous->window() == w->window())
            previous = w;
    }
}

bool PropertiesPanel::event(QEvent* e)
{
    const bool handled = QGroupBox::event(e);
    if (e->type() == QEvent::ParentChange)
        applyTabOrder();
    return handled;
}

bool PropertiesPanel::eventFilter(QObject* watched, QEvent* e)
{
    auto* edit = qobject_cast<QLineEdit*>(watched);
    if (!edit || (e->type() != QEvent::FocusIn && e->type() != QEvent::FocusOut))
        return QGroupBox::eventFilter(watched, e);
    // The focus leaving for a context menu or another program, and coming back from there, is
    // no move from one field to another: the operator is still editing this one.
    const Qt::FocusReason reason = static_cast<QFocusEvent*>(e)->reason();
    if (reason == Qt::PopupFocusReason || reason == Qt::ActiveWindowFocusReason)
        return QGroupBox::eventFilter(watched, e);
    if (e->type() == QEvent::FocusIn) {
        // Typing replaces the whole entry. A mouse click places the cursor after the focus
        // arrives, so the selection is made again once that click is through.
        edit->selectAll();
        if (reason == Qt::MouseFocusReason) {
            QPointer<QLineEdit> guarded(edit);
            QTimer::singleShot(0, this, [guarded] {
                if (guarded && guarded->hasFocus())
                    guarded->selectAll();
            });
        }
    } else if (edit == txtElementName) {
        txtElementName->setText(txtElementName->text().toUpper());
    }
    return QGroupBox::eventFilter(watched, e);
}

QString PropertiesPanel::selectedMac() const
{
    return lblElementMAC->text();
}

QString PropertiesPanel::elementType() const
{
    return lblElementType->text();
}

void PropertiesPanel::setBufferMaximum(int max)
{
    scrlBuffer->setMaximum(max);
}

void PropertiesPanel::setElementType(const QString& caption)
{
    if (lblElementType->text() == caption)
        return;
    lblElementType->setText(caption);
    applyRoleLayout();
}

void PropertiesPanel::onAddressEdited(QLineEdit* edit)
{
    const QString text = edit->text();
    setTextBackground(edit, addressLook(text) == AddressLook::Invalid ? kInvalidAddressColour : QColor());
    if (edit == txtElementIP && m_peers.cmdGetStats)
        m_peers.cmdGetStats->setEnabled(statisticsAvailable(text));
}

void PropertiesPanel::onAttenuationAction(int action)
{
    // Positions passed while the thumb is dragged are not sent; the drag sends once at its end.
    if (action == QAbstractSlider::SliderNoAction ||
        (action == QAbstractSlider::SliderMove && scrlAtten->isSliderDown())) {
        m_operatorStep = false;
        return;
    }
    // The action has moved the slider position; the value follows at once. An action that
    // cannot move the bar (already at its end) changes nothing and sends nothing.
    m_operatorStep = scrlAtten->sliderPosition() != scrlAtten->value();
}

void PropertiesPanel::onAttenuationChanged(int position)
{
    lblAttenDB->setText(attenuationText(position));
    if (std::exchange(m_operatorStep, false))
        sendAttenuationChange(position);
}

void PropertiesPanel::onAttenuationReleased()
{
    const int start = std::exchange(m_dragStart, -1);
    // Without tracking the value only now catches up with the thumb, through a move action that
    // sends by itself.
    if (scrlAtten->sliderPosition() != scrlAtten->value())
        return;
    if (start >= 0 && scrlAtten->value() != start)
        sendAttenuationChange(scrlAtten->value());
}

void PropertiesPanel::sendAttenuationChange(int position)
{
    // Only the operator's own change of a decoder's bar reaches the element.
    if (elementType() != kDecoder || !scrlAtten->hasFocus())
        return;
    if (Encode_MAC(selectedMac()).isEmpty())
        return;
    // The store records what the element was given: a send that did not leave (the link has
    // already told the operator) leaves the stored attenuation as it was.
    if (!m_sendAttenuation || !m_sendAttenuation(quint8(std::clamp(position, 0, 255))))
        return;
    m_store.write(selectedMac(), keys::att, QString::number(position));
}

void PropertiesPanel::onBufferChanged(int position)
{
    lblLatency->setText(latencyText(position, m_gpsdoVariant, chkSFNEnabled->isChecked()));
}

void PropertiesPanel::onTxTypeChanged(int index)
{
    // Loading sets the remote address from the element's own section.
    if (m_loading || elementType() != kEncoder)
        return;
    if (index >= 1) {
        Label7->setText(kMulticastCaption);
        showStoredText(txtRemoteIP, m_store.read(selectedMac(), keys::multi));
    } else {
        Label7->setText(kRemoteCaption);
        showStoredText(txtRemoteIP, m_store.read(selectedMac(), keys::remote));
    }
}

void PropertiesPanel::applyRoleLayout()
{
    const QString role = elementType();
    const bool encoder = role == kEncoder;
    if (!encoder && role != kDecoder)
        return; // "-" and "UNKNOWN" keep the present arrangement

    cmbAudioInput->setVisible(encoder);
    cmbAudioTX->setVisible(encoder);
    lblUnicastMulticast->setVisible(!encoder);
    scrlAtten->setVisible(!encoder);
    lblAttenDB->setVisible(!encoder);
    Label9->setText(encoder ? QStringLiteral("Audio source:") : QStringLiteral("Audio atten:"));
    // Unchecking the hidden box stops the level polling.
    if (m_peers.chkGetVolume) {
        m_peers.chkGetVolume->setChecked(false);
        m_peers.chkGetVolume->setVisible(false);
    }
    enableAction(m_peers.startMonitoring, encoder);
    enableAction(m_peers.stopMonitoring, false);
    if (m_peers.VUMeter) {
        m_peers.VUMeter->setEnabled(encoder);
        m_peers.VUMeter->resize(0, m_peers.VUMeter->height());
    }
    if (m_peers.lblVolume)
        m_peers.lblVolume->setText(QStringLiteral("-oodBFS"));
    if (encoder) {
        scrlBuffer->setValue(0);
        scrlBuffer->setEnabled(false);
        lblLatency->setText(encoderLatencyText());
    } else {
        scrlBuffer->setEnabled(true);
        lblLatency->setText(latencyText(scrlBuffer->value(), m_gpsdoVariant, chkSFNEnabled->isChecked()));
    }
    cmbSilDetMode->setEnabled(!encoder);
    for (QWidget* w : std::initializer_list<QWidget*>{scrlSilDetLevel, scrlSilDetTime, lblSilDetLevel,
                                                      lblSilDetTime, lblLatency, Label20, Label24, Label26})
        w->setEnabled(!encoder);
}

void PropertiesPanel::applyAudioRouting()
{
    const bool automatic = cmbSilDetMode->isEnabledTo(this) && cmbSilDetMode->currentIndex() <= 0;
    for (QWidget* w : std::initializer_list<QWidget*>{scrlSilDetLevel, scrlSilDetTime, lblSilDetLevel,
                                                      lblSilDetTime, Label24, Label26})
        w->setEnabled(automatic);
}

void PropertiesPanel::ClearElementProperties()
{
    lblElementType->setText(kNone); // "-" keeps the arrangement: no role layout to run
    lblElementMAC->setText(kNone);
    lblSerialNumber->setText(kNone);
    if (m_peers.cmdPing)
        m_peers.cmdPing->setText(QStringLiteral("<Unknown>"));
    lblVersion->setText(kNone);
    lblLatency->setText(QStringLiteral("-mS"));
    setButtonColour(m_peers.cmdPing, kUntestedPingColour);
    for (QLineEdit* edit : {txtElementName, txtElementIP, txtElementMask, txtElementGW, txtRemoteIP})
        edit->clear();
    // A field that was empty already gives no change signal; its rules still have the last word
    // ("Get..." may have been enabled by loading an element without an address).
    for (QLineEdit* edit : {txtElementIP, txtElementMask, txtElementGW, txtRemoteIP})
        onAddressEdited(edit);
    for (QComboBox* list : {cmbAudioInput, cmbAudioType, cmbAudioTX})
        list->setCurrentIndex(-1);
}

void PropertiesPanel::showStoredText(QLineEdit* edit, const QString& value)
{
    // An address longer than its field cannot be a valid one, and cutting it could turn it into
    // a different, valid-looking address: such a field stays empty. A name is cut to its 16
    // characters, as the element itself keeps it.
    if (edit != txtElementName && value.size() > edit->maxLength())
        edit->setText(QString());
    else
        edit->setText(value);
}

QString PropertiesPanel::read(const QString& key) const
{
    return ReadFromINI(m_section, key, m_store.path(), storeDefault(key));
}

void PropertiesPanel::loadIndex(QComboBox* list, const QString& key)
{
    // Absent, not a whole number, or no such entry: the list shows no selection rather than a
    // choice the element never reported.
    bool ok = false;
    const int index = storedInt(read(key), &ok);
    list->setCurrentIndex(ok && index >= 0 && index < list->count() ? index : -1);
}

void PropertiesPanel::loadPosition(QScrollBar* bar, const QString& key)
{
    // Not a whole number: the key's default; out of range: the nearest end of the bar.
    bool ok = false;
    int position = storedInt(read(key), &ok);
    if (!ok)
        position = storedInt(storeDefault(key));
    bar->setValue(std::clamp(position, bar->minimum(), bar->maximum()));
    showBarValue(bar);
}

void PropertiesPanel::showBarValue(QScrollBar* bar)
{
    // The bar's own change signal does not come when the loaded position equals the one shown
    // before, but the label must follow the loaded value all the same.
    const int p = bar->value();
    if (bar == scrlAtten)
        lblAttenDB->setText(attenuationText(p));
    else if (bar == scrlBuffer)
        lblLatency->setText(latencyText(p, m_gpsdoVariant, chkSFNEnabled->isChecked()));
    else if (bar == scrlSilDetLevel)
        lblSilDetLevel->setText(thresholdText(p));
    else if (bar == scrlSilDetTime)
        lblSilDetTime->setText(timeoutText(p));
}

void PropertiesPanel::loadDecoderAttenuation()
{
    bool ok = false;
    int position = storedInt(read(keys::att), &ok);
    // An attenuation below the bar's range (0 when none was stored) is raised to "Mute" in the
    // store as well, so that the store and the bar agree.
    if (ok && position < kAttenMin) {
        WriteToINI(m_section, keys::att, QString::number(kAttenMin), m_store.path());
        position = storedInt(read(keys::att), &ok);
    }
    // A text that is not a whole number is left in the store as it is and shown as "Mute"; a
    // number above the range shows the loudest position. Neither is written: nothing was sent.
    scrlAtten->setValue(ok ? std::clamp(position, kAttenMin, kAttenMax) : kAttenMin);
    showBarValue(scrlAtten);
}

void PropertiesPanel::loadElement(const QString& nodeText, const QString& key)
{
    // 1. The diagnostics belong to the element that was shown before.
    setButtonColour(m_peers.cmdPing, kUntestedPingColour);
    enableAction(m_peers.startMonitoring, false);
    enableAction(m_peers.stopMonitoring, false);
    if (m_peers.chkGetVolume)
        m_peers.chkGetVolume->setChecked(false);

    // 2. A node without text is no element. So is a key that is not a MAC text: it names no
    //    section, and loading it would let later writes go to a section without a name.
    const QString section = Encode_MAC(key);
    if (nodeText.isEmpty() || section.isEmpty()) {
        if (m_peers.cmdGetStats)
            m_peers.cmdGetStats->setEnabled(false);
        return;
    }

    // 3., 4. A section longer than the station ever writes is damaged.
    if (GetSectionKeyCount(section, m_store.path()) >= kCorruptedSectionLines) {
        m_boxes.critical(kAppTitle, QStringLiteral("The data stored in your computer about this element, is "
                                                   "corrupted (1).\rCannot load this element info."));
        return;
    }

    m_section = section;
    m_loading = true;

    // 5.
    auto setText = [this](QLineEdit* edit, const QString& key) { showStoredText(edit, read(key)); };
    setText(txtElementName, keys::name);
    setText(txtElementIP, keys::ip);
    setText(txtElementMask, keys::mask);
    setText(txtElementGW, keys::gw);
    loadIndex(cmbAudioInput, keys::input);
    loadIndex(cmbAudioType, keys::type);
    loadIndex(cmbAudioTX, keys::tx);
    lblVersion->setText(read(keys::ver));
    {
        bool ok = false;
        const int bound = storedInt(read(keys::bound), &ok);
        cmbEncoders->setCurrentIndex(ok && bound >= 0 && bound < cmbEncoders->count() ? bound : 0);
    }

    // 6.
    if (m_peers.cmdGetStats)
        m_peers.cmdGetStats->setEnabled(true);

    // 7. A role that is not a number is no known role.
    bool roleOk = false;
    const int role = storedInt(read(keys::role), &roleOk);
    setElementType(roleCaption(roleOk ? role : 0));
    if (elementType() == kEncoder) {
        enableAction(m_peers.startMonitoring, true);
        const bool multicast = cmbAudioTX->currentIndex() >= 1;
        Label7->setText(multicast ? kMulticastCaption : kRemoteCaption);
        setText(txtRemoteIP, multicast ? keys::multi : keys::remote);
    } else if (elementType() == kDecoder) {
        Label7->setText(kMulticastCaption);
        setText(txtRemoteIP, keys::multi);
        loadDecoderAttenuation();
        loadPosition(scrlBuffer, keys::buf);
        loadPosition(scrlSilDetLevel, keys::sdl);
        loadPosition(scrlSilDetTime, keys::sdt);
        loadIndex(cmbSilDetMode, keys::sdm);
    }

    // 8. The selection record.
    lblElementMAC->setText(key);

    // 9. Only "1" switches SFN on; anything else is the default, off.
    lblSerialNumber->setText(read(keys::sn));
    {
        bool ok = false;
        const int sfn = storedInt(read(keys::sfn), &ok);
        chkSFNEnabled->setChecked(ok && sfn == 1);
    }

    // 10.
    cmdAdjust->setEnabled(chkSFNEnabled->isChecked() && elementType() == kDecoder);

    // 11. Last, so that the latency label sees the loaded SFN state.
    applyRoleLayout();
    applyAudioRouting();

    // 12.
    if (m_peers.cmdPing)
        m_peers.cmdPing->setText(kPingUntested);

    m_loading = false;
}

} // namespace vexo
