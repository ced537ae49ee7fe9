#include "PropertiesPanel.h"

#include "Accessibility.h"
#include "LevelMeter.h"
#include "PanelTexts.h"
#include "TextColours.h"
#include "TextWidth.h"
#include "editor/StoredElement.h"
#include "editor/ValueRules.h"
#include "platform/MessageBoxes.h"
#include "store/ElementStore.h"
#include "store/IniFile.h"
#include "store/SelectedElement.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFocusEvent>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>

#include <algorithm>
#include <map>
#include <memory>
#include <utility>

namespace vexo {

using namespace panel;

PropertiesPanel::PropertiesPanel(const ElementStore& store, SelectedElement& selection, MessageBoxes& boxes,
                                 bool gpsdoVariant, PanelPeers peers,
                                 std::function<bool(int)> sendAttenuation, QWidget* parent)
    : QGroupBox(QStringLiteral("Element properties:"), parent), m_store(store), m_selection(selection),
      m_boxes(boxes), m_gpsdoVariant(gpsdoVariant), m_peers(peers),
      m_sendAttenuation(std::move(sendAttenuation))
{
    setObjectName(QStringLiteral("frmProperties"));
    setFixedSize(kWidth, kHeight);
    // Ten rows of two label/field columns fit the frame at this size with the wide default
    // sans-serif faces of Linux desktops.
    QFont compact = font();
    compact.setPointSizeF(8);
    setFont(compact);
    build(this, m_gpsdoVariant);
    setInitialState();
    connectRules();
    applyTabOrder();
    connect(cmdAdjust, &QPushButton::clicked, this, &PropertiesPanel::adjustRequested);
}

QString PropertiesPanel::elementIp() const
{
    return txtElementIP->text();
}

QWidget* PropertiesPanel::firstTabStop() const
{
    return txtElementName;
}

QWidget* PropertiesPanel::lastTabStop() const
{
    return cmdAdjust;
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

    // The closed list is narrow; its drop-down shows the encoders' whole texts. Exact text
    // measuring (shaping) is costly, so an insertion measures only the new entries, by their
    // characters' advances, against the widest so far; the whole list is measured again only
    // when entries go away.
    auto widest = std::make_shared<int>(0); // widest text so far, in pixels
    auto widenPopup = [this, widest](int first, int last) {
        TextWidth textWidth{QFontMetrics(cmbEncoders->view()->font())};
        for (int i = first; i <= last; ++i)
            *widest = std::max(*widest, textWidth(cmbEncoders->itemText(i)));
        cmbEncoders->view()->setMinimumWidth(*widest + 24);
    };
    auto measureAll = [this, widest, widenPopup] {
        *widest = 0;
        widenPopup(0, cmbEncoders->count() - 1);
    };
    connect(cmbEncoders->model(), &QAbstractItemModel::rowsInserted, this,
            [widenPopup](const QModelIndex&, int first, int last) { widenPopup(first, last); });
    connect(cmbEncoders->model(), &QAbstractItemModel::rowsRemoved, this, measureAll);
    connect(cmbEncoders->model(), &QAbstractItemModel::modelReset, this, measureAll);

    connect(cmbAudioTX, &QComboBox::currentIndexChanged, this, &PropertiesPanel::onTxTypeChanged);
    connect(cmbSilDetMode, &QComboBox::currentIndexChanged, this, [this] { applyAudioRouting(); });

    // The selected element is the station's; the panel shows it.
    connect(&m_selection, &SelectedElement::selectionChanged, lblElementMAC, &QLabel::setText);
    connect(&m_selection, &SelectedElement::roleChanged, this, [this] {
        const std::optional<Role> role = m_selection.role();
        lblElementType->setText(role ? roleCaption(*role) : kNone);
        applyRoleLayout();
    });
    // Every edit reaches the configuration being edited at once.
    for (QLineEdit* edit : {txtElementName, txtElementIP, txtElementMask, txtElementGW, txtRemoteIP})
        connect(edit, &QLineEdit::textChanged, this, &PropertiesPanel::pushEdits);
    for (QComboBox* list : {cmbAudioInput, cmbAudioType, cmbAudioTX, cmbSilDetMode})
        connect(list, &QComboBox::currentIndexChanged, this, &PropertiesPanel::pushEdits);
    for (QScrollBar* bar : {scrlAtten, scrlBuffer, scrlSilDetLevel, scrlSilDetTime})
        connect(bar, &QScrollBar::valueChanged, this, &PropertiesPanel::pushEdits);
    connect(chkSFNEnabled, &QCheckBox::toggled, this, &PropertiesPanel::pushEdits);
}

ElementConfig PropertiesPanel::editedConfig() const
{
    ElementConfig c;
    c.name = txtElementName->text();
    c.ip = txtElementIP->text();
    c.mask = txtElementMask->text();
    c.gateway = txtElementGW->text();
    c.remote = txtRemoteIP->text();
    c.audioSource = cmbAudioInput->currentIndex();
    c.audioType = cmbAudioType->currentIndex();
    c.txType = cmbAudioTX->currentIndex();
    c.sfn = chkSFNEnabled->isChecked() ? 1 : 0;
    c.buffer = scrlBuffer->value();
    c.attenuation = scrlAtten->value();
    c.silenceMode = cmbSilDetMode->currentIndex();
    c.silenceLevel = scrlSilDetLevel->value();
    c.silenceTime = scrlSilDetTime->value();
    c.mac = m_selection.mac();
    return c;
}

void PropertiesPanel::pushEdits()
{
    m_selection.setDraft(editedConfig());
}

void PropertiesPanel::showConfirmation(const ElementConfig& shown)
{
    lblSerialNumber->setText(QString::number(shown.serial));
    lblVersion->setText(shown.version());
    scrlAtten->setValue(shown.attenuation);
    scrlBuffer->setValue(shown.buffer);
    if (shown.silenceMode >= 0)
        cmbSilDetMode->setCurrentIndex(shown.silenceMode);
    scrlSilDetLevel->setValue(shown.silenceLevel);
    scrlSilDetTime->setValue(shown.silenceTime);
}

void PropertiesPanel::paintEvent(QPaintEvent* e)
{
    QGroupBox::paintEvent(e);
    QPainter painter(this);
    for (const QRect& line : std::as_const(bracket))
        painter.fillRect(line, palette().color(QPalette::WindowText));
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
    return m_selection.mac();
}

std::optional<Role> PropertiesPanel::elementRole() const
{
    return m_selection.role();
}

void PropertiesPanel::setBufferMaximum(int max)
{
    scrlBuffer->setMaximum(max);
}

void PropertiesPanel::setElementRole(std::optional<Role> role)
{
    m_selection.setRole(role);
}

void PropertiesPanel::onAddressEdited(QLineEdit* edit)
{
    const QString text = edit->text();
    setTextBackground(edit, addressLook(text) == AddressLook::Invalid ? kFailedColour : QColor());
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
    if (elementRole() != Role::Decoder || !scrlAtten->hasFocus())
        return;
    if (m_sendAttenuation)
        m_sendAttenuation(position);
}

void PropertiesPanel::onBufferChanged(int position)
{
    lblLatency->setText(latencyText(position, m_gpsdoVariant, chkSFNEnabled->isChecked()));
}

void PropertiesPanel::onTxTypeChanged(int index)
{
    // Loading sets the remote address from the element's own section.
    if (m_loading || elementRole() != Role::Encoder)
        return;
    if (index >= 1) {
        a11y::relabel(Label7, txtRemoteIP, kMulticastCaption);
        showStoredText(txtRemoteIP, m_store.read(selectedMac(), keys::multi));
    } else {
        a11y::relabel(Label7, txtRemoteIP, kRemoteCaption);
        showStoredText(txtRemoteIP, m_store.read(selectedMac(), keys::remote));
    }
}

void PropertiesPanel::applyRoleLayout()
{
    const std::optional<Role> role = elementRole();
    const bool encoder = role == Role::Encoder;
    if (!encoder && role != Role::Decoder)
        return; // "-" and "UNKNOWN" keep the present arrangement

    cmbAudioInput->setVisible(encoder);
    cmbAudioTX->setVisible(encoder);
    lblUnicastMulticast->setVisible(!encoder);
    scrlAtten->setVisible(!encoder);
    lblAttenDB->setVisible(!encoder);
    a11y::relabel(Label9, encoder ? static_cast<QWidget*>(cmbAudioInput) : scrlAtten,
                  encoder ? QStringLiteral("Audio source:") : QStringLiteral("Audio atten:"));
    // Unchecking the hidden box stops the level polling.
    if (m_peers.chkGetVolume) {
        m_peers.chkGetVolume->setChecked(false);
        m_peers.chkGetVolume->setVisible(false);
    }
    enableAction(m_peers.startMonitoring, encoder);
    enableAction(m_peers.stopMonitoring, false);
    if (m_peers.levelMeter) {
        m_peers.levelMeter->setEnabled(encoder);
        m_peers.levelMeter->showPeak(0); // an empty bar and "-oodBFS"
    }
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

void PropertiesPanel::clearElementProperties()
{
    m_selection.clear();
    m_selection.setRole(std::nullopt); // "-" keeps the arrangement
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
    pushEdits();
}

// ---- Loading the selected element from the store --------------------------------------------

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

void PropertiesPanel::loadIndex(QComboBox* list, const StoredField& field)
{
    // Absent, not a whole number, or no such entry: the list shows no selection rather than a
    // choice the element never reported.
    list->setCurrentIndex(field.isValid() && field.value < list->count() ? field.value : -1);
}

void PropertiesPanel::loadPosition(QScrollBar* bar, const StoredField& field)
{
    // Not a whole number: the key's default; out of range: the nearest end of the bar.
    const int position = field.state == FieldState::NotANumber || field.state == FieldState::Missing
                             ? storedInt(storeDefault(field.key))
                             : field.value;
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

void PropertiesPanel::loadDecoderAttenuation(const QString& mac, const StoredField& att)
{
    const bool number = att.state == FieldState::Valid || att.state == FieldState::OutOfRange;
    int position = att.value;
    // An attenuation below the bar's range (0 when none was stored) is raised to "Mute" in the
    // store as well, so that the store and the bar agree.
    if (number && position < kAttenMin)
        m_store.write(mac, keys::att, QString::number(kAttenMin));
    // A text that is not a whole number is left in the store as it is and shown as "Mute"; a
    // number above the range shows the loudest position. Neither is written: nothing was sent.
    scrlAtten->setValue(number ? std::clamp(position, kAttenMin, kAttenMax) : kAttenMin);
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
    const QString section = encodeMac(key);
    if (nodeText.isEmpty() || section.isEmpty()) {
        if (m_peers.cmdGetStats)
            m_peers.cmdGetStats->setEnabled(false);
        return;
    }

    // 3., 4. A section longer than the station ever writes is damaged.
    const StoredElement stored = StoredElement::load(m_store, key, m_gpsdoVariant);
    if (stored.corrupted()) {
        m_boxes.critical(kAppTitle, QStringLiteral("The data stored in your computer about this element, is "
                                                   "corrupted (1).\rCannot load this element info."));
        return;
    }

    m_loading = true;

    // 5.
    auto setText = [&](QLineEdit* edit, const QString& key) { showStoredText(edit, stored.field(key).text); };
    setText(txtElementName, keys::name);
    setText(txtElementIP, keys::ip);
    setText(txtElementMask, keys::mask);
    setText(txtElementGW, keys::gw);
    loadIndex(cmbAudioInput, stored.field(keys::input));
    loadIndex(cmbAudioType, stored.field(keys::type));
    loadIndex(cmbAudioTX, stored.field(keys::tx));
    lblVersion->setText(stored.field(keys::ver).text);
    const StoredField& bound = stored.field(keys::bound);
    cmbEncoders->setCurrentIndex(bound.isValid() && bound.value < cmbEncoders->count() ? bound.value : 0);

    // 6.
    if (m_peers.cmdGetStats)
        m_peers.cmdGetStats->setEnabled(true);

    // 7. A role that is not a number is no known role.
    setElementRole(stored.role());
    if (elementRole() == Role::Encoder) {
        enableAction(m_peers.startMonitoring, true);
        const bool multicast = cmbAudioTX->currentIndex() >= 1;
        a11y::relabel(Label7, txtRemoteIP, multicast ? kMulticastCaption : kRemoteCaption);
        setText(txtRemoteIP, multicast ? keys::multi : keys::remote);
    } else if (elementRole() == Role::Decoder) {
        a11y::relabel(Label7, txtRemoteIP, kMulticastCaption);
        setText(txtRemoteIP, keys::multi);
        loadDecoderAttenuation(key, stored.field(keys::att));
        loadPosition(scrlBuffer, stored.field(keys::buf));
        loadPosition(scrlSilDetLevel, stored.field(keys::sdl));
        loadPosition(scrlSilDetTime, stored.field(keys::sdt));
        loadIndex(cmbSilDetMode, stored.field(keys::sdm));
    }

    // 8. The selection record.
    m_selection.select(key);

    // 9. Only "1" switches SFN on; anything else is the default, off.
    lblSerialNumber->setText(stored.field(keys::sn).text);
    chkSFNEnabled->setChecked(stored.field(keys::sfn).isValid() && stored.field(keys::sfn).value == 1);

    // 10.
    cmdAdjust->setEnabled(chkSFNEnabled->isChecked() && elementRole() == Role::Decoder);

    // 11. Last, so that the latency label sees the loaded SFN state.
    applyRoleLayout();
    applyAudioRouting();

    // 12.
    if (m_peers.cmdPing)
        m_peers.cmdPing->setText(kPingUntested);

    m_loading = false;
    pushEdits();
}

void PropertiesPanel::loadEdits(const QList<QPair<QString, QString>>& fields)
{
    if (!m_selection.isSelected())
        return;
    const std::map<QString, QLineEdit*> texts = {{keys::name, txtElementName}, {keys::ip, txtElementIP},
                                                 {keys::mask, txtElementMask}, {keys::gw, txtElementGW},
                                                 {keys::remote, txtRemoteIP},  {keys::multi, txtRemoteIP}};
    const std::map<QString, QComboBox*> lists = {{keys::input, cmbAudioInput},
                                                 {keys::type, cmbAudioType},
                                                 {keys::tx, cmbAudioTX},
                                                 {keys::sdm, cmbSilDetMode}};
    const std::map<QString, QScrollBar*> bars = {
        {keys::buf, scrlBuffer}, {keys::sdl, scrlSilDetLevel}, {keys::sdt, scrlSilDetTime}};
    // The TX type first: switching it shows the stored address of the new kind, which the
    // configuration's own address then replaces.
    QList<QPair<QString, QString>> ordered;
    for (const auto& field : fields)
        field.first == keys::tx ? ordered.prepend(field) : ordered.append(field);
    for (const auto& [key, value] : ordered) {
        if (const auto t = texts.find(key); t != texts.end()) {
            t->second->setText(value);
        } else if (const auto l = lists.find(key); l != lists.end()) {
            bool ok = false;
            const int index = value.toInt(&ok);
            if (ok && index >= 0 && index < l->second->count())
                l->second->setCurrentIndex(index);
        } else if (const auto b = bars.find(key); b != bars.end()) {
            bool ok = false;
            const int position = value.toInt(&ok);
            if (ok) {
                b->second->setValue(std::clamp(position, b->second->minimum(), b->second->maximum()));
                showBarValue(b->second);
            }
        } else if (key == keys::sfn) {
            chkSFNEnabled->setChecked(value == QLatin1String("1"));
        }
    }
    applyAudioRouting();
    pushEdits();
}

} // namespace vexo
