// Loading a selected element from the store into the panel, its role layout and clearing it.
#include "PanelFixture.h"

#include "editor/ValueRules.h"

using namespace vexo;

namespace {

QStringList decoderLines(const QStringList& extra = {})
{
    return QStringList{QStringLiteral("NAME=TX SITE B"),
                       QStringLiteral("IP=10.0.0.9"),
                       QStringLiteral("MASK=255.255.255.0"),
                       QStringLiteral("GW=10.0.0.1"),
                       QStringLiteral("INPUT=0"),
                       QStringLiteral("TYPE=1"),
                       QStringLiteral("TX=0"),
                       QStringLiteral("MULTI=239.1.1.1"),
                       QStringLiteral("REMOTE=10.9.9.9"),
                       QStringLiteral("ROLE=2"),
                       QStringLiteral("SN=40001"),
                       QStringLiteral("VER=3.2")} +
           extra;
}

} // namespace

class Loading : public PanelFixture
{
protected:
    void loadDecoder(const QStringList& extra = {})
    {
        writeStore(sectionText(kDecoderMac, decoderLines(extra)));
        panel->loadElement(QStringLiteral("TX SITE B [") + kDecoderMac + ']', kDecoderMac);
    }
};

TEST_F(Loading, InitialStateBeforeAnyElement)
{
    EXPECT_EQ(panel->objectName(), QStringLiteral("frmProperties"));
    EXPECT_EQ(panel->title(), QStringLiteral("Element properties:"));
    EXPECT_EQ(panel->size(), QSize(433, 265));
    for (const char* name : {"lblElementType", "lblElementMAC", "lblSerialNumber", "lblVersion"})
        EXPECT_EQ(child<QLabel>(name)->text(), QStringLiteral("-")) << name;
    for (const char* name :
         {"txtElementName", "txtElementIP", "txtElementMask", "txtElementGW", "txtRemoteIP"})
        EXPECT_TRUE(child<QLineEdit>(name)->text().isEmpty()) << name;
    for (const char* name : {"cmbAudioType", "cmbAudioInput", "cmbAudioTX", "cmbSilDetMode", "cmbEncoders"})
        EXPECT_EQ(child<QComboBox>(name)->currentIndex(), -1) << name;
    EXPECT_EQ(child<QLabel>("Label9")->text(), QStringLiteral("Audio source:"));
    EXPECT_EQ(child<QLabel>("Label7")->text(), QStringLiteral("Remote IP:"));
    EXPECT_FALSE(panel->cmbAudioInput->isHidden());
    EXPECT_FALSE(panel->cmbAudioTX->isHidden());
    EXPECT_TRUE(panel->scrlAtten->isHidden());
    EXPECT_TRUE(panel->lblAttenDB->isHidden());
    EXPECT_FALSE(panel->scrlBuffer->isEnabled());
    EXPECT_EQ(panel->scrlBuffer->value(), 0);
    EXPECT_EQ(panel->lblLatency->text(), QStringLiteral("0mS"));
    EXPECT_EQ(panel->lblSilDetLevel->text(), QStringLiteral("0dBu"));
    EXPECT_EQ(panel->lblSilDetTime->text(), QStringLiteral("0Sec"));
    EXPECT_TRUE(panel->cmbSilDetMode->isEnabled());
    EXPECT_TRUE(panel->scrlSilDetLevel->isEnabled());
    EXPECT_TRUE(panel->scrlSilDetTime->isEnabled());
    EXPECT_TRUE(panel->Label24->isEnabled());
    EXPECT_EQ(panel->scrlSilDetLevel->value(), 1);
    EXPECT_EQ(panel->scrlSilDetTime->value(), 1);
    EXPECT_FALSE(panel->chkSFNEnabled->isChecked());
    for (const char* name : {"txtVLAN_OM", "txtVLAN_Audio"}) {
        EXPECT_FALSE(child<QLineEdit>(name)->isEnabled()) << name;
        EXPECT_EQ(child<QLineEdit>(name)->text(), QStringLiteral("1")) << name;
    }
    EXPECT_FALSE(panel->cmdAdjust->isEnabled());
    EXPECT_FALSE(cmdGetStats->isEnabled());
    EXPECT_EQ(cmdPing->text(), QStringLiteral("<Click to test>"));
    EXPECT_EQ(buttonColour(cmdPing), QColor(255, 255, 192));
    EXPECT_EQ(panel->selectedMac(), QStringLiteral("-"));
}

TEST_F(Loading, ControlsCarryTheirRangesStepsEntriesAndTooltips)
{
    struct Bar
    {
        const char* name;
        int min, max;
    };
    for (const Bar& b : {Bar{"scrlAtten", 14, 255}, Bar{"scrlBuffer", 0, 22}, Bar{"scrlSilDetLevel", 1, 154},
                         Bar{"scrlSilDetTime", 1, 220}}) {
        auto* bar = child<QScrollBar>(b.name);
        ASSERT_NE(bar, nullptr) << b.name;
        EXPECT_EQ(bar->orientation(), Qt::Horizontal);
        EXPECT_EQ(bar->minimum(), b.min) << b.name;
        EXPECT_EQ(bar->maximum(), b.max) << b.name;
        EXPECT_EQ(bar->singleStep(), 1) << b.name;
        EXPECT_EQ(bar->pageStep(), 10) << b.name;
    }
    auto entries = [](QComboBox* c) {
        QStringList l;
        for (int i = 0; i < c->count(); ++i)
            l << c->itemText(i);
        return l;
    };
    EXPECT_EQ(entries(panel->cmbAudioType), QStringList({"Left/Right", "MPX"}));
    EXPECT_EQ(entries(panel->cmbAudioInput), QStringList({"Digital", "Analog"}));
    EXPECT_EQ(entries(panel->cmbAudioTX), QStringList({"Unicast", "Multicast"}));
    EXPECT_EQ(entries(panel->cmbSilDetMode),
              QStringList({"Auto detect", "Force internal", "Force external"}));
    EXPECT_EQ(entries(panel->cmbEncoders), QStringList({"<None>"}));
    for (QComboBox* c : panel->findChildren<QComboBox*>())
        EXPECT_FALSE(c->isEditable()) << c->objectName().toStdString();
    EXPECT_EQ(panel->txtElementName->maxLength(), 16);
    EXPECT_EQ(panel->txtElementName->toolTip(), QStringLiteral("Max 16 chars"));
    for (const char* name : {"txtElementIP", "txtElementMask", "txtElementGW", "txtRemoteIP"})
        EXPECT_EQ(child<QLineEdit>(name)->maxLength(), 15) << name;
    for (const char* name : {"txtVLAN_OM", "txtVLAN_Audio"}) {
        EXPECT_EQ(child<QLineEdit>(name)->maxLength(), 4) << name;
        EXPECT_EQ(child<QLineEdit>(name)->toolTip(), QStringLiteral("Range: 1-4095")) << name;
    }
    EXPECT_EQ(panel->chkSFNEnabled->text(), QStringLiteral("On"));
    EXPECT_EQ(panel->chkSFNEnabled->toolTip(), QStringLiteral("Enable PTP Sync"));
    EXPECT_EQ(panel->cmdAdjust->text(), QStringLiteral("Adjust..."));
    EXPECT_EQ(panel->lblUnicastMulticast->text(), QStringLiteral("Unicast / Multicast"));
    EXPECT_DOUBLE_EQ(panel->lblLatency->font().pointSizeF(), 6.75);
    EXPECT_DOUBLE_EQ(panel->lblSilDetLevel->font().pointSizeF(), 6.75);
    EXPECT_DOUBLE_EQ(panel->lblSilDetTime->font().pointSizeF(), 6.75);
    // Every named control is a member and carries its name as object name.
    EXPECT_EQ(child<QLabel>("lblAttenDB"), panel->lblAttenDB);
    EXPECT_EQ(child<QLabel>("Label20"), panel->Label20);
    EXPECT_EQ(child<QLabel>("Label26"), panel->Label26);
    EXPECT_EQ(child<QPushButton>("cmdAdjust"), panel->cmdAdjust);
}

TEST_F(Loading, GpsdoVariantBufferReaches23)
{
    build(true);
    EXPECT_EQ(panel->scrlBuffer->maximum(), 23);
    panel->setBufferMaximum(22);
    EXPECT_EQ(panel->scrlBuffer->maximum(), 22);
}

TEST_F(Loading, KeyboardFocusOrder)
{
    const QStringList expected = {"txtElementName", "txtElementIP", "txtElementGW",  "txtElementMask",
                                  "txtVLAN_OM",     "cmbAudioType", "cmbAudioInput", "scrlAtten",
                                  "cmbAudioTX",     "txtRemoteIP",  "txtVLAN_Audio", "cmbEncoders",
                                  "chkSFNEnabled",  "scrlBuffer",   "cmbSilDetMode", "scrlSilDetLevel",
                                  "scrlSilDetTime", "cmdPing",      "cmdGetStats",   "cmdAdjust"};
    QStringList chain;
    QWidget* w = panel->txtElementName;
    for (int guard = 0; guard < 200 && chain.size() < expected.size(); ++guard) {
        if (expected.contains(w->objectName()) && !chain.contains(w->objectName()))
            chain << w->objectName();
        w = w->nextInFocusChain();
    }
    EXPECT_EQ(chain, expected);
}

TEST_F(Loading, EncoderWithUnicastShowsRemoteAddress)
{
    // GIVEN an encoder with TX type 0 and no stored remote address WHEN it is clicked
    monitorRunning = true;
    chkGetVolume->setChecked(true);
    setButtonColour(cmdPing, kSuccessColour);
    cmdPing->setText(QStringLiteral("3 ms"));
    loadEncoder(QStringLiteral("0"));
    // THEN the fields are filled, the remote address default shows and the monitor is stopped
    EXPECT_TRUE(boxes.shown.isEmpty());
    EXPECT_EQ(panel->txtElementName->text(), QStringLiteral("STUDIO A"));
    EXPECT_EQ(panel->txtElementIP->text(), QStringLiteral("10.0.0.5"));
    EXPECT_EQ(panel->txtElementMask->text(), QStringLiteral("255.255.255.0"));
    EXPECT_EQ(panel->txtElementGW->text(), QStringLiteral("10.0.0.1"));
    EXPECT_EQ(panel->cmbAudioInput->currentIndex(), 1);
    EXPECT_EQ(panel->cmbAudioType->currentIndex(), 1);
    EXPECT_EQ(panel->cmbAudioTX->currentIndex(), 0);
    EXPECT_EQ(panel->lblVersion->text(), QStringLiteral("3.1"));
    EXPECT_EQ(panel->lblSerialNumber->text(), QStringLiteral("32769"));
    EXPECT_EQ(panel->lblElementType->text(), QStringLiteral("ENCODER"));
    EXPECT_EQ(panel->Label7->text(), QStringLiteral("Remote IP:"));
    EXPECT_EQ(panel->txtRemoteIP->text(), QStringLiteral("192.168.1.91"));
    EXPECT_EQ(panel->selectedMac(), kEncoderMac);
    EXPECT_TRUE(cmdGetStats->isEnabled());
    EXPECT_FALSE(panel->cmdAdjust->isEnabled());
    EXPECT_EQ(cmdPing->text(), QStringLiteral("<Click to test>"));
    EXPECT_EQ(buttonColour(cmdPing), QColor(255, 255, 192));
    EXPECT_FALSE(monitorRunning);
    EXPECT_FALSE(chkGetVolume->isChecked());
    EXPECT_TRUE(startMonitoring->isEnabled());
    EXPECT_FALSE(stopMonitoring->isEnabled());
    EXPECT_EQ(panel->lblLatency->text(), QStringLiteral("2.5mS"));
    EXPECT_FALSE(panel->scrlBuffer->isEnabled());
    EXPECT_FALSE(panel->cmbSilDetMode->isEnabled());
    EXPECT_FALSE(panel->scrlSilDetLevel->isEnabled());
    EXPECT_FALSE(panel->Label20->isEnabled());
    EXPECT_FALSE(panel->lblLatency->isEnabled());
    // Loading changes nothing in the store.
    EXPECT_EQ(storeBytes(),
              sectionText(kEncoderMac, {"NAME=STUDIO A", "IP=10.0.0.5", "MASK=255.255.255.0", "GW=10.0.0.1",
                                        "INPUT=1", "TYPE=1", "TX=0", "ROLE=1", "SN=32769", "VER=3.1"}));
}

TEST_F(Loading, EncoderWithMulticastShowsGroup)
{
    loadEncoder(QStringLiteral("1"), {QStringLiteral("REMOTE=10.0.0.9")});
    EXPECT_EQ(panel->Label7->text(), QStringLiteral("Multicast IP:"));
    EXPECT_EQ(panel->txtRemoteIP->text(), QStringLiteral("239.255.255.239"));
    loadEncoder(QStringLiteral("1"), {QStringLiteral("MULTI=239.1.2.3")});
    EXPECT_EQ(panel->txtRemoteIP->text(), QStringLiteral("239.1.2.3"));
    loadEncoder(QStringLiteral("0"), {QStringLiteral("REMOTE=10.0.0.9")});
    EXPECT_EQ(panel->Label7->text(), QStringLiteral("Remote IP:"));
    EXPECT_EQ(panel->txtRemoteIP->text(), QStringLiteral("10.0.0.9"));
}

TEST_F(Loading, EncoderWithSfnDoesNotEnableAdjust)
{
    loadEncoder(QStringLiteral("0"), {QStringLiteral("SFN=1")});
    EXPECT_TRUE(panel->chkSFNEnabled->isChecked());
    EXPECT_FALSE(panel->cmdAdjust->isEnabled());
}

TEST_F(Loading, DecoderAfterEncoderTakesTheDecoderLayout)
{
    loadEncoder();
    // The operator has started the level monitor of the encoder.
    chkGetVolume->setChecked(true);
    startMonitoring->setEnabled(false);
    stopMonitoring->setEnabled(true);
    loadDecoder({QStringLiteral("ATT=100"), QStringLiteral("BUF=4"), QStringLiteral("SFN=1"),
                 QStringLiteral("SDL=154"), QStringLiteral("SDT=220"), QStringLiteral("SDM=0")});
    EXPECT_EQ(panel->lblElementType->text(), QStringLiteral("DECODER"));
    EXPECT_TRUE(panel->cmbAudioInput->isHidden());
    EXPECT_TRUE(panel->cmbAudioTX->isHidden());
    EXPECT_FALSE(panel->lblUnicastMulticast->isHidden());
    EXPECT_FALSE(panel->scrlAtten->isHidden());
    EXPECT_FALSE(panel->lblAttenDB->isHidden());
    EXPECT_EQ(panel->Label9->text(), QStringLiteral("Audio atten:"));
    EXPECT_EQ(panel->scrlAtten->value(), 100);
    EXPECT_EQ(panel->lblAttenDB->text(), QStringLiteral("-77.5 dB"));
    EXPECT_EQ(panel->Label7->text(), QStringLiteral("Multicast IP:"));
    EXPECT_EQ(panel->txtRemoteIP->text(), QStringLiteral("239.1.1.1")); // whatever tx holds
    EXPECT_TRUE(panel->scrlBuffer->isEnabled());
    EXPECT_EQ(panel->scrlBuffer->value(), 4);
    EXPECT_EQ(panel->lblLatency->text(), QStringLiteral("12.5mS"));
    EXPECT_EQ(panel->lblSilDetLevel->text(), QStringLiteral("-6dBu"));
    EXPECT_EQ(panel->lblSilDetTime->text(), QStringLiteral("100.1Sec"));
    EXPECT_TRUE(panel->cmbSilDetMode->isEnabled());
    EXPECT_EQ(panel->cmbSilDetMode->currentIndex(), 0);
    EXPECT_TRUE(panel->scrlSilDetLevel->isEnabled());
    EXPECT_TRUE(panel->Label26->isEnabled());
    EXPECT_FALSE(startMonitoring->isEnabled());
    EXPECT_FALSE(stopMonitoring->isEnabled());
    EXPECT_FALSE(monitorRunning);
    EXPECT_TRUE(chkGetVolume->isHidden());
    EXPECT_FALSE(VUMeter->isEnabled());
    EXPECT_EQ(VUMeter->width(), 0);
    EXPECT_EQ(lblVolume->text(), QStringLiteral("-oodBFS"));
    EXPECT_TRUE(panel->cmdAdjust->isEnabled());
}

TEST_F(Loading, DecoderLatencyWithoutSfn)
{
    loadDecoder({QStringLiteral("ATT=20"), QStringLiteral("BUF=4")});
    EXPECT_EQ(panel->lblLatency->text(), QStringLiteral("15mS"));
    EXPECT_FALSE(panel->cmdAdjust->isEnabled());
    // Changing the box alone does not recompute the label.
    panel->chkSFNEnabled->setChecked(true);
    EXPECT_EQ(panel->lblLatency->text(), QStringLiteral("15mS"));
}

TEST_F(Loading, DecoderDefaults)
{
    loadDecoder({QStringLiteral("ATT=20")});
    EXPECT_EQ(panel->scrlBuffer->value(), 1);
    EXPECT_EQ(panel->lblLatency->text(), QStringLiteral("7.5mS"));
    EXPECT_EQ(panel->scrlSilDetLevel->value(), 37);
    EXPECT_EQ(panel->lblSilDetLevel->text(), QStringLiteral("-18.4dBu"));
    EXPECT_EQ(panel->scrlSilDetTime->value(), 43);
    EXPECT_EQ(panel->lblSilDetTime->text(), QStringLiteral("19.6Sec"));
    EXPECT_EQ(panel->cmbSilDetMode->currentIndex(), 0);
    EXPECT_FALSE(panel->chkSFNEnabled->isChecked());
}

TEST_F(Loading, EncoderAfterDecoderResetsTheBuffer)
{
    loadDecoder({QStringLiteral("ATT=20"), QStringLiteral("BUF=9"), QStringLiteral("SDM=2")});
    EXPECT_FALSE(panel->scrlSilDetLevel->isEnabled()); // forced routing
    loadEncoder();
    EXPECT_EQ(panel->scrlBuffer->value(), 0);
    EXPECT_FALSE(panel->scrlBuffer->isEnabled());
    EXPECT_EQ(panel->lblLatency->text(), QStringLiteral("2.5mS"));
    EXPECT_FALSE(panel->cmbAudioInput->isHidden());
    EXPECT_FALSE(panel->cmbAudioTX->isHidden());
    EXPECT_TRUE(panel->lblUnicastMulticast->isHidden());
    EXPECT_TRUE(panel->scrlAtten->isHidden());
    EXPECT_EQ(panel->Label9->text(), QStringLiteral("Audio source:"));
    EXPECT_TRUE(VUMeter->isEnabled());
    EXPECT_TRUE(startMonitoring->isEnabled());
}

TEST_F(Loading, DecoderAttenuationZeroIsRaisedAndWrittenBack)
{
    loadDecoder({QStringLiteral("ATT=0")});
    EXPECT_EQ(panel->scrlAtten->value(), 14);
    EXPECT_EQ(panel->lblAttenDB->text(), QStringLiteral("Mute"));
    EXPECT_EQ(storeBytes(), sectionText(kDecoderMac, decoderLines({QStringLiteral("ATT=14")})));
}

TEST_F(Loading, DecoderWithoutAttenuationGetsMuteWritten)
{
    loadDecoder({QStringLiteral("SDM=0")});
    EXPECT_EQ(panel->scrlAtten->value(), 14);
    EXPECT_EQ(panel->lblAttenDB->text(), QStringLiteral("Mute"));
    // The new key goes to the end of the section, its name in upper case.
    EXPECT_EQ(storeBytes(),
              sectionText(kDecoderMac, decoderLines({QStringLiteral("SDM=0"), QStringLiteral("ATT=14")})));
}

TEST_F(Loading, DecoderAttenuationInRangeIsNotWritten)
{
    for (const char* att : {"ATT=20", "ATT=100", "att=14"}) {
        loadDecoder({QString::fromLatin1(att)});
        EXPECT_EQ(storeBytes(), sectionText(kDecoderMac, decoderLines({QString::fromLatin1(att)}))) << att;
    }
    EXPECT_EQ(panel->scrlAtten->value(), 14);
    loadDecoder({QStringLiteral("ATT=20")});
    EXPECT_EQ(panel->scrlAtten->value(), 20);
    EXPECT_EQ(panel->lblAttenDB->text(), QStringLiteral("-117.5 dB"));
}

TEST_F(Loading, UnknownAfterDecoderKeepsTheDecoderArrangementAndFields)
{
    loadDecoder({QStringLiteral("ATT=100"), QStringLiteral("BUF=4"), QStringLiteral("SFN=1")});
    writeStore(sectionText(kUnknownMac,
                           {QStringLiteral("NAME=ODD"), QStringLiteral("IP=10.0.0.7"),
                            QStringLiteral("ROLE=3"), QStringLiteral("SFN=1"), QStringLiteral("ATT=200"),
                            QStringLiteral("BUF=9"), QStringLiteral("MULTI=239.9.9.9")}));
    const QByteArray before = storeBytes();
    panel->loadElement(QStringLiteral("ODD [") + kUnknownMac + ']', kUnknownMac);
    EXPECT_EQ(panel->lblElementType->text(), QStringLiteral("UNKNOWN"));
    EXPECT_EQ(panel->selectedMac(), kUnknownMac);
    EXPECT_EQ(panel->txtElementName->text(), QStringLiteral("ODD"));
    // Decoder arrangement kept, decoder-only fields not loaded.
    EXPECT_FALSE(panel->scrlAtten->isHidden());
    EXPECT_TRUE(panel->cmbAudioInput->isHidden());
    EXPECT_EQ(panel->Label9->text(), QStringLiteral("Audio atten:"));
    EXPECT_EQ(panel->scrlAtten->value(), 100);
    EXPECT_EQ(panel->scrlBuffer->value(), 4);
    EXPECT_EQ(panel->txtRemoteIP->text(), QStringLiteral("239.1.1.1"));
    EXPECT_EQ(panel->Label7->text(), QStringLiteral("Multicast IP:"));
    EXPECT_TRUE(panel->chkSFNEnabled->isChecked());
    EXPECT_FALSE(panel->cmdAdjust->isEnabled());
    EXPECT_FALSE(startMonitoring->isEnabled());
    EXPECT_EQ(storeBytes(), before);
}

TEST_F(Loading, MissingVersionAndSerial)
{
    writeStore(sectionText(kEncoderMac, {QStringLiteral("ROLE=1")}));
    panel->loadElement(QStringLiteral(" [") + kEncoderMac + ']', kEncoderMac);
    EXPECT_EQ(panel->lblVersion->text(), QStringLiteral("2.00"));
    EXPECT_EQ(panel->lblSerialNumber->text(), QString());
    EXPECT_EQ(panel->cmbEncoders->currentIndex(), 0);
}

TEST_F(Loading, TwentyLinesLoadTwentyOneAreCorrupted)
{
    QStringList lines =
        decoderLines({QStringLiteral("ATT=20"), QStringLiteral("BUF=2"), QStringLiteral("SDM=0"),
                      QStringLiteral("SDL=37"), QStringLiteral("SDT=43"), QStringLiteral("SFN=0"),
                      QStringLiteral("DLY=0"), QStringLiteral("SRV=0")});
    ASSERT_EQ(lines.size(), 20);
    writeStore(sectionText(kDecoderMac, lines));
    panel->loadElement(QStringLiteral("TX SITE B"), kDecoderMac);
    EXPECT_TRUE(boxes.shown.isEmpty());
    EXPECT_EQ(panel->selectedMac(), kDecoderMac);
    EXPECT_EQ(panel->scrlBuffer->value(), 2);

    // GIVEN another element whose section has 21 lines
    QStringList broken = lines;
    broken[0] = QStringLiteral("NAME=BROKEN");
    broken << QStringLiteral("EXTRA=1");
    writeStore(sectionText(kDecoderMac, lines) + sectionText(kUnknownMac, broken));
    const QByteArray before = storeBytes();
    chkGetVolume->setChecked(true);
    startMonitoring->setEnabled(true);
    setButtonColour(cmdPing, kFailedColour);
    panel->loadElement(QStringLiteral("BROKEN"), kUnknownMac);
    // THEN the critical message, the resets, and the previous element stays
    ASSERT_EQ(boxes.shown.size(), 1);
    EXPECT_EQ(boxes.shown[0].icon, MsgIcon::Critical);
    EXPECT_EQ(boxes.shown[0].buttons, MsgButtons::Ok);
    EXPECT_EQ(boxes.shown[0].caption, QStringLiteral("Korvanta Vexolink Manager"));
    EXPECT_EQ(boxes.shown[0].text, QStringLiteral("The data stored in your computer about this element, is "
                                                  "corrupted (1).\rCannot load this element info."));
    EXPECT_EQ(panel->selectedMac(), kDecoderMac);
    EXPECT_EQ(panel->txtElementName->text(), QStringLiteral("TX SITE B"));
    EXPECT_FALSE(chkGetVolume->isChecked());
    EXPECT_FALSE(startMonitoring->isEnabled());
    EXPECT_EQ(buttonColour(cmdPing), QColor(255, 255, 192));
    EXPECT_EQ(storeBytes(), before);
}

TEST_F(Loading, NodeWithoutTextOnlyDisablesStatistics)
{
    loadEncoder();
    ASSERT_TRUE(cmdGetStats->isEnabled());
    chkGetVolume->setChecked(true);
    panel->loadElement(QString(), kDecoderMac);
    EXPECT_FALSE(cmdGetStats->isEnabled());
    EXPECT_FALSE(chkGetVolume->isChecked());
    EXPECT_FALSE(startMonitoring->isEnabled());
    EXPECT_EQ(panel->selectedMac(), kEncoderMac);
    EXPECT_EQ(panel->txtElementName->text(), QStringLiteral("STUDIO A"));
}

TEST_F(Loading, KeyThatIsNoMacLoadsNothing)
{
    loadEncoder();
    const QByteArray before = storeBytes();
    panel->loadElement(QStringLiteral("STRAY"), QStringLiteral("not-a-mac"));
    EXPECT_FALSE(cmdGetStats->isEnabled());
    EXPECT_EQ(panel->selectedMac(), kEncoderMac);
    EXPECT_TRUE(boxes.shown.isEmpty());
    EXPECT_EQ(storeBytes(), before);
}

TEST_F(Loading, clearElementProperties)
{
    loadDecoder({QStringLiteral("ATT=100"), QStringLiteral("SFN=1"), QStringLiteral("BUF=3")});
    ASSERT_TRUE(panel->cmdAdjust->isEnabled());
    setButtonColour(cmdPing, kSuccessColour);
    panel->txtElementIP->setText(QStringLiteral("10.0.0")); // red
    panel->clearElementProperties();
    for (const char* name : {"lblElementType", "lblElementMAC", "lblSerialNumber", "lblVersion"})
        EXPECT_EQ(child<QLabel>(name)->text(), QStringLiteral("-")) << name;
    EXPECT_EQ(panel->lblLatency->text(), QStringLiteral("-mS"));
    EXPECT_EQ(cmdPing->text(), QStringLiteral("<Unknown>"));
    EXPECT_EQ(buttonColour(cmdPing), QColor(255, 255, 192));
    for (const char* name :
         {"txtElementName", "txtElementIP", "txtElementMask", "txtElementGW", "txtRemoteIP"}) {
        EXPECT_TRUE(child<QLineEdit>(name)->text().isEmpty()) << name;
        EXPECT_EQ(textBackground(child<QLineEdit>(name)), normalTextBackground()) << name;
    }
    for (const char* name : {"cmbAudioType", "cmbAudioInput", "cmbAudioTX"})
        EXPECT_EQ(child<QComboBox>(name)->currentIndex(), -1) << name;
    EXPECT_FALSE(cmdGetStats->isEnabled());
    // Not touched by clearing: the arrangement, the bars, SFN, Label7/9 and "Adjust...".
    EXPECT_TRUE(panel->cmdAdjust->isEnabled());
    EXPECT_FALSE(panel->scrlAtten->isHidden());
    EXPECT_EQ(panel->scrlAtten->value(), 100);
    EXPECT_EQ(panel->scrlBuffer->value(), 3);
    EXPECT_TRUE(panel->chkSFNEnabled->isChecked());
    EXPECT_EQ(panel->Label9->text(), QStringLiteral("Audio atten:"));
    EXPECT_EQ(panel->Label7->text(), QStringLiteral("Multicast IP:"));
    EXPECT_EQ(panel->selectedMac(), QStringLiteral("-"));
}

TEST_F(Loading, SetElementTypeRunsTheLayoutOnlyOnChange)
{
    panel->setElementType(QStringLiteral("DECODER"));
    EXPECT_FALSE(panel->scrlAtten->isHidden());
    EXPECT_TRUE(panel->scrlBuffer->isEnabled());
    // The same caption again: no layout (the buffer keeps being enabled after we disable it).
    panel->scrlBuffer->setEnabled(false);
    panel->setElementType(QStringLiteral("DECODER"));
    EXPECT_FALSE(panel->scrlBuffer->isEnabled());
    panel->applyRoleLayout();
    EXPECT_TRUE(panel->scrlBuffer->isEnabled());
    panel->setElementType(QStringLiteral("UNKNOWN"));
    EXPECT_FALSE(panel->scrlAtten->isHidden());
    panel->setElementType(QStringLiteral("ENCODER"));
    EXPECT_TRUE(panel->scrlAtten->isHidden());
    EXPECT_EQ(panel->elementType(), QStringLiteral("ENCODER"));
}

// Hand-edited stores: nothing crashes, nothing wrong is written back, each choice is visible.
TEST_F(Loading, HandEditedListIndexesShowNoSelection)
{
    loadEncoder(QStringLiteral("x"), {QStringLiteral("BOUND=7")});
    EXPECT_EQ(panel->cmbAudioTX->currentIndex(), -1);
    EXPECT_EQ(panel->Label7->text(), QStringLiteral("Remote IP:")); // no selection counts as unicast
    EXPECT_EQ(panel->cmbEncoders->currentIndex(), 0);

    writeStore(sectionText(kEncoderMac,
                           {QStringLiteral("ROLE=1"), QStringLiteral("INPUT=2"), QStringLiteral("TYPE=-1"),
                            QStringLiteral("TX=1.5"), QStringLiteral("BOUND=abc")}));
    const QByteArray before = storeBytes();
    panel->loadElement(QStringLiteral("E"), kEncoderMac);
    EXPECT_EQ(panel->cmbAudioInput->currentIndex(), -1);
    EXPECT_EQ(panel->cmbAudioType->currentIndex(), -1);
    EXPECT_EQ(panel->cmbAudioTX->currentIndex(), -1);
    EXPECT_EQ(panel->cmbEncoders->currentIndex(), 0);
    EXPECT_EQ(storeBytes(), before);

    // Absent input/type/tx (default empty): no selection either.
    writeStore(sectionText(kEncoderMac, {QStringLiteral("ROLE=1")}));
    panel->loadElement(QStringLiteral("E"), kEncoderMac);
    EXPECT_EQ(panel->cmbAudioInput->currentIndex(), -1);
    EXPECT_EQ(panel->cmbAudioTX->currentIndex(), -1);
}

TEST_F(Loading, HandEditedRoleIsUnknown)
{
    for (const char* role : {"ROLE=abc", "ROLE=", "ROLE=1.0", "ROLE=0"}) {
        writeStore(sectionText(kEncoderMac, {QString::fromLatin1(role)}));
        panel->loadElement(QStringLiteral("E"), kEncoderMac);
        EXPECT_EQ(panel->elementType(), QStringLiteral("UNKNOWN")) << role;
    }
    writeStore(sectionText(kEncoderMac, {QStringLiteral("ROLE= 2 ")}));
    panel->loadElement(QStringLiteral("E"), kEncoderMac);
    EXPECT_EQ(panel->elementType(), QStringLiteral("DECODER"));
}

TEST_F(Loading, HandEditedDecoderPositionsClampOrDefault)
{
    loadDecoder({QStringLiteral("ATT=999"), QStringLiteral("BUF=99"), QStringLiteral("SDL=0"),
                 QStringLiteral("SDT=500"), QStringLiteral("SDM=3"), QStringLiteral("SFN=2")});
    const QByteArray after = storeBytes();
    EXPECT_EQ(after, sectionText(kDecoderMac,
                                 decoderLines({"ATT=999", "BUF=99", "SDL=0", "SDT=500", "SDM=3", "SFN=2"})));
    EXPECT_EQ(panel->scrlAtten->value(), 255);
    EXPECT_EQ(panel->scrlBuffer->value(), 22);
    EXPECT_EQ(panel->scrlSilDetLevel->value(), 1);
    EXPECT_EQ(panel->scrlSilDetTime->value(), 220);
    EXPECT_EQ(panel->cmbSilDetMode->currentIndex(), -1);
    EXPECT_TRUE(panel->scrlSilDetLevel->isEnabled()); // no selection: automatic routing
    EXPECT_FALSE(panel->chkSFNEnabled->isChecked());

    loadDecoder({QStringLiteral("ATT=loud"), QStringLiteral("BUF=two"), QStringLiteral("SDL=1e3"),
                 QStringLiteral("SDT=-"), QStringLiteral("SDM=auto"), QStringLiteral("SFN=yes")});
    EXPECT_EQ(storeBytes(), sectionText(kDecoderMac, decoderLines({"ATT=loud", "BUF=two", "SDL=1e3", "SDT=-",
                                                                   "SDM=auto", "SFN=yes"})));
    EXPECT_EQ(panel->scrlAtten->value(), 14);
    EXPECT_EQ(panel->lblAttenDB->text(), QStringLiteral("Mute"));
    EXPECT_EQ(panel->scrlBuffer->value(), 1);
    EXPECT_EQ(panel->scrlSilDetLevel->value(), 37);
    EXPECT_EQ(panel->scrlSilDetTime->value(), 43);
    EXPECT_EQ(panel->cmbSilDetMode->currentIndex(), -1);
    EXPECT_FALSE(panel->chkSFNEnabled->isChecked());

    // A negative attenuation is a number below the range: raised to Mute like 0.
    loadDecoder({QStringLiteral("ATT=-3")});
    EXPECT_EQ(panel->scrlAtten->value(), 14);
    EXPECT_EQ(storeBytes(), sectionText(kDecoderMac, decoderLines({QStringLiteral("ATT=14")})));
}

TEST_F(Loading, OverlongStoredAddressIsNotCutIntoAnotherOne)
{
    writeStore(sectionText(kEncoderMac, {QStringLiteral("ROLE=1"), QStringLiteral("IP=192.168.100.1000"),
                                         QStringLiteral("NAME=ABCDEFGHIJKLMNOPQ")}));
    panel->loadElement(QStringLiteral("E"), kEncoderMac);
    EXPECT_EQ(panel->txtElementIP->text(), QString());
    EXPECT_EQ(panel->txtElementName->text(), QStringLiteral("ABCDEFGHIJKLMNOP"));
}

TEST_F(Loading, StoreOfTheWindowsStationLoadsUnchanged)
{
    // GIVEN the store an earlier station left (CRLF, upper-case keys)
    const QByteArray fixture = readFile(fixturePath(QStringLiteral("nms-windows-station.ini")));
    ASSERT_FALSE(fixture.isEmpty());
    writeStore(fixture);
    // WHEN its encoder and its decoder are clicked
    panel->loadElement(QStringLiteral("STUDIO A [00:50:C2:A1:B2:C3]"), QStringLiteral("00:50:C2:A1:B2:C3"));
    EXPECT_EQ(panel->elementType(), QStringLiteral("ENCODER"));
    EXPECT_EQ(panel->txtElementName->text(), QStringLiteral("STUDIO A"));
    EXPECT_EQ(panel->txtRemoteIP->text(), QStringLiteral("10.0.0.9"));
    EXPECT_EQ(panel->lblSerialNumber->text(), QStringLiteral("32769"));
    panel->loadElement(QStringLiteral("TX SITE B [00:50:C2:A1:B2:C4]"), QStringLiteral("00:50:C2:A1:B2:C4"));
    EXPECT_EQ(panel->elementType(), QStringLiteral("DECODER"));
    EXPECT_EQ(panel->txtRemoteIP->text(), QStringLiteral("239.1.1.1"));
    EXPECT_EQ(panel->scrlAtten->value(), 200);
    EXPECT_EQ(panel->lblLatency->text(), QStringLiteral("12.5mS")); // SFN on, buffer 4
    EXPECT_TRUE(panel->cmdAdjust->isEnabled());
    // THEN the file is as it was
    EXPECT_EQ(storeBytes(), fixture);

    // A decoder of that store without ATT gets "ATT=14" with the file's own line end.
    QByteArray withoutAtt = fixture;
    withoutAtt.replace("ATT=200\r\n", "");
    writeStore(withoutAtt);
    panel->loadElement(QStringLiteral("TX SITE B"), QStringLiteral("00:50:C2:A1:B2:C4"));
    QByteArray expected = withoutAtt;
    const qsizetype end = expected.indexOf("[0050C2A1B2C4]");
    ASSERT_GE(end, 0);
    // The section is the file's last: the new key closes it.
    expected.append("ATT=14\r\n");
    EXPECT_EQ(storeBytes(), expected);
}
