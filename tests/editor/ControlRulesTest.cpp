// The rules of the editor's fields, driven by the operator's keys and clicks.
#include "PanelFixture.h"

#include "editor/ValueRules.h"

using namespace vexo;

class ControlRules : public PanelFixture
{
};

TEST_F(ControlRules, AddressColouringAndStatisticsButton)
{
    showActive();
    loadEncoder();
    ASSERT_TRUE(cmdGetStats->isEnabled());
    struct Case
    {
        const char* text;
        bool invalid;
        bool stats;
    };
    for (const Case& c : {Case{"192.168.1.300", true, false}, Case{"10.0.0", true, false},
                          Case{"10.0.0.1", false, true}, Case{"", false, false}}) {
        // WHEN the operator replaces the address by typing
        panel->txtElementIP->setFocus();
        QTest::keyClick(panel->txtElementIP, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(panel->txtElementIP, Qt::Key_Delete);
        QTest::keyClicks(panel->txtElementIP, QString::fromLatin1(c.text));
        // THEN the background and "Get..." follow the address
        EXPECT_EQ(panel->txtElementIP->text(), QString::fromLatin1(c.text));
        EXPECT_EQ(textBackground(panel->txtElementIP),
                  c.invalid ? QColor(255, 128, 128) : normalTextBackground())
            << c.text;
        EXPECT_EQ(cmdGetStats->isEnabled(), c.stats) << c.text;
    }
    // The other three address fields are coloured the same way and leave "Get..." alone.
    panel->txtElementIP->setText(QStringLiteral("10.0.0.1"));
    for (QLineEdit* edit : {panel->txtElementMask, panel->txtElementGW, panel->txtRemoteIP}) {
        edit->setFocus();
        QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(edit, QStringLiteral("10.0.0"));
        EXPECT_EQ(textBackground(edit), QColor(255, 128, 128)) << edit->objectName().toStdString();
        QTest::keyClicks(edit, QStringLiteral(".1"));
        EXPECT_EQ(textBackground(edit), normalTextBackground()) << edit->objectName().toStdString();
        EXPECT_TRUE(cmdGetStats->isEnabled());
    }
}

TEST_F(ControlRules, LoadingEnablesStatisticsEvenForABadAddress)
{
    writeStore(sectionText(kEncoderMac, {QStringLiteral("ROLE=1"), QStringLiteral("IP=10.0.0")}));
    panel->loadElement(QStringLiteral("E"), kEncoderMac);
    EXPECT_EQ(textBackground(panel->txtElementIP), QColor(255, 128, 128));
    EXPECT_TRUE(cmdGetStats->isEnabled());
}

TEST_F(ControlRules, NameIsUpperCasedWhenTheFocusLeaves)
{
    showActive();
    loadEncoder();
    panel->txtElementName->setFocus();
    QTest::keyClick(panel->txtElementName, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(panel->txtElementName, QStringLiteral("studio a"));
    EXPECT_EQ(panel->txtElementName->text(), QStringLiteral("studio a")); // no change while typing
    QTest::keyClick(panel->txtElementName, Qt::Key_Tab);
    EXPECT_TRUE(panel->txtElementIP->hasFocus());
    EXPECT_EQ(panel->txtElementName->text(), QStringLiteral("STUDIO A"));
    // At most 16 characters can be typed.
    panel->txtElementName->setFocus();
    QTest::keyClicks(panel->txtElementName, QStringLiteral("abcdefghijklmnopqrstu"));
    EXPECT_EQ(panel->txtElementName->text(), QStringLiteral("abcdefghijklmnop"));
}

TEST_F(ControlRules, EntryByTabSelectsTheWholeText)
{
    showActive();
    loadEncoder();
    panel->txtElementName->setFocus();
    const QList<QLineEdit*> order = {panel->txtElementIP, panel->txtElementGW, panel->txtElementMask};
    for (QLineEdit* edit : order) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        ASSERT_TRUE(edit->hasFocus()) << edit->objectName().toStdString();
        EXPECT_EQ(edit->selectedText(), edit->text());
        EXPECT_EQ(edit->selectionStart(), 0);
    }
    // Typing replaces the entry.
    QTest::keyClicks(panel->txtElementMask, QStringLiteral("255.0.0.0"));
    EXPECT_EQ(panel->txtElementMask->text(), QStringLiteral("255.0.0.0"));
}

TEST_F(ControlRules, EntryByMouseSelectsTheWholeText)
{
    showActive();
    loadEncoder(QStringLiteral("0"), {QStringLiteral("REMOTE=10.0.0.9")});
    for (QLineEdit* edit : {panel->txtElementName, panel->txtElementIP, panel->txtElementMask,
                            panel->txtElementGW, panel->txtRemoteIP}) {
        cmdPing->setFocus();
        QTest::mouseClick(edit, Qt::LeftButton, {}, QPoint(8, edit->height() / 2));
        ASSERT_TRUE(waitUntil([&] { return edit->hasFocus() && edit->selectedText() == edit->text(); }, 2000))
            << edit->objectName().toStdString() << " selected '" << edit->selectedText().toStdString() << "'";
        EXPECT_FALSE(edit->text().isEmpty());
    }
}

TEST_F(ControlRules, TxTypeSwitchOnAnEncoder)
{
    showActive();
    loadEncoder(QStringLiteral("0"), {QStringLiteral("REMOTE=10.0.0.9")});
    ASSERT_EQ(panel->txtRemoteIP->text(), QStringLiteral("10.0.0.9"));
    // An address typed and not sent is replaced by the stored one.
    panel->txtRemoteIP->setText(QStringLiteral("10.1.1.1"));
    panel->cmbAudioTX->setFocus();
    QTest::keyClick(panel->cmbAudioTX, Qt::Key_Down);
    EXPECT_EQ(panel->cmbAudioTX->currentIndex(), 1);
    EXPECT_EQ(panel->Label7->text(), QStringLiteral("Multicast IP:"));
    EXPECT_EQ(panel->txtRemoteIP->text(), QStringLiteral("239.255.255.239"));
    QTest::keyClick(panel->cmbAudioTX, Qt::Key_Up);
    EXPECT_EQ(panel->Label7->text(), QStringLiteral("Remote IP:"));
    EXPECT_EQ(panel->txtRemoteIP->text(), QStringLiteral("10.0.0.9"));
    // The store is read at the moment of the switch.
    ASSERT_TRUE(store.write(kEncoderMac, QStringLiteral("multi"), QStringLiteral("239.4.4.4")));
    QTest::keyClick(panel->cmbAudioTX, Qt::Key_Down);
    EXPECT_EQ(panel->txtRemoteIP->text(), QStringLiteral("239.4.4.4"));
    // A hand-edited address too long for the field is not cut into another address.
    ASSERT_TRUE(store.write(kEncoderMac, QStringLiteral("remote"), QStringLiteral("10.10.10.100000")));
    ASSERT_TRUE(store.write(kEncoderMac, QStringLiteral("multi"), QStringLiteral("239.255.255.2500")));
    QTest::keyClick(panel->cmbAudioTX, Qt::Key_Up);
    EXPECT_EQ(panel->txtRemoteIP->text(), QStringLiteral("10.10.10.100000")); // 15: fits, shown red
    EXPECT_EQ(textBackground(panel->txtRemoteIP), QColor(255, 128, 128));
    QTest::keyClick(panel->cmbAudioTX, Qt::Key_Down);
    EXPECT_EQ(panel->txtRemoteIP->text(), QString());
}

TEST_F(ControlRules, TxTypeSwitchDoesNothingOnADecoder)
{
    writeStore(
        sectionText(kDecoderMac, {QStringLiteral("ROLE=2"), QStringLiteral("ATT=20"),
                                  QStringLiteral("MULTI=239.1.1.1"), QStringLiteral("REMOTE=10.0.0.9")}));
    panel->loadElement(QStringLiteral("D"), kDecoderMac);
    panel->cmbAudioTX->setCurrentIndex(0);
    panel->cmbAudioTX->setCurrentIndex(1);
    panel->cmbAudioTX->setCurrentIndex(0);
    EXPECT_EQ(panel->Label7->text(), QStringLiteral("Multicast IP:"));
    EXPECT_EQ(panel->txtRemoteIP->text(), QStringLiteral("239.1.1.1"));
}

TEST_F(ControlRules, LoadingAnUnknownElementDoesNotRunTheTxSwitch)
{
    // GIVEN an encoder shown with its unicast address
    loadEncoder(QStringLiteral("0"), {QStringLiteral("REMOTE=10.0.0.9")});
    // WHEN an element of unknown role with another TX type is loaded
    writeStore(
        sectionText(kEncoderMac, {QStringLiteral("ROLE=1"), QStringLiteral("TX=0"),
                                  QStringLiteral("REMOTE=10.0.0.9"), QStringLiteral("MULTI=239.7.7.7")}) +
        sectionText(kUnknownMac, {QStringLiteral("ROLE=5"), QStringLiteral("TX=1")}));
    panel->loadElement(QStringLiteral("U"), kUnknownMac);
    // THEN the remote field keeps what it showed
    EXPECT_EQ(panel->cmbAudioTX->currentIndex(), 1);
    EXPECT_EQ(panel->Label7->text(), QStringLiteral("Remote IP:"));
    EXPECT_EQ(panel->txtRemoteIP->text(), QStringLiteral("10.0.0.9"));
}

TEST_F(ControlRules, AudioRoutingSwitch)
{
    showActive();
    writeStore(sectionText(kDecoderMac,
                           {QStringLiteral("ROLE=2"), QStringLiteral("ATT=20"), QStringLiteral("SDM=0")}));
    panel->loadElement(QStringLiteral("D"), kDecoderMac);
    const QList<QWidget*> fields = {panel->scrlSilDetLevel, panel->scrlSilDetTime, panel->lblSilDetLevel,
                                    panel->lblSilDetTime,   panel->Label24,        panel->Label26};
    auto allEnabled = [&](bool on) {
        for (QWidget* w : fields) {
            if (w->isEnabled() != on)
                return false;
        }
        return true;
    };
    ASSERT_TRUE(allEnabled(true));
    panel->cmbSilDetMode->setFocus();
    QTest::keyClick(panel->cmbSilDetMode, Qt::Key_Down);
    QTest::keyClick(panel->cmbSilDetMode, Qt::Key_Down);
    EXPECT_EQ(panel->cmbSilDetMode->currentText(), QStringLiteral("Force external"));
    EXPECT_TRUE(allEnabled(false));
    EXPECT_TRUE(panel->scrlBuffer->isEnabled()); // the buffer is not a silence-detector field
    QTest::keyClick(panel->cmbSilDetMode, Qt::Key_Up);
    EXPECT_EQ(panel->cmbSilDetMode->currentText(), QStringLiteral("Force internal"));
    EXPECT_TRUE(allEnabled(false));
    QTest::keyClick(panel->cmbSilDetMode, Qt::Key_Up);
    EXPECT_EQ(panel->cmbSilDetMode->currentText(), QStringLiteral("Auto detect"));
    EXPECT_TRUE(allEnabled(true));
    // With the encoder layout the list is disabled and so are the six fields, whatever it holds.
    panel->setElementType(QStringLiteral("ENCODER"));
    panel->applyAudioRouting();
    EXPECT_TRUE(allEnabled(false));
}

TEST_F(ControlRules, ScrollBarLabelsFollowTheOperator)
{
    showActive();
    writeStore(
        sectionText(kDecoderMac, {QStringLiteral("ROLE=2"), QStringLiteral("ATT=20"), QStringLiteral("BUF=0"),
                                  QStringLiteral("SDL=1"), QStringLiteral("SDT=1")}));
    panel->loadElement(QStringLiteral("D"), kDecoderMac);
    EXPECT_EQ(panel->lblLatency->text(), QStringLiteral("5mS"));
    panel->scrlBuffer->setFocus();
    QTest::keyClick(panel->scrlBuffer, Qt::Key_End);
    EXPECT_EQ(panel->scrlBuffer->value(), 22);
    EXPECT_EQ(panel->lblLatency->text(), QStringLiteral("60mS"));
    panel->chkSFNEnabled->setChecked(true);
    QTest::keyClick(panel->scrlBuffer, Qt::Key_Left);
    QTest::keyClick(panel->scrlBuffer, Qt::Key_Right);
    EXPECT_EQ(panel->lblLatency->text(), QStringLiteral("57.5mS"));
    panel->scrlSilDetLevel->setFocus();
    EXPECT_EQ(panel->lblSilDetLevel->text(), QStringLiteral("-49.8dBu"));
    QTest::keyClick(panel->scrlSilDetLevel, Qt::Key_End);
    EXPECT_EQ(panel->lblSilDetLevel->text(), QStringLiteral("-6dBu"));
    panel->scrlSilDetTime->setFocus();
    EXPECT_EQ(panel->lblSilDetTime->text(), QStringLiteral("0.5Sec"));
    QTest::keyClick(panel->scrlSilDetTime, Qt::Key_PageUp);
    EXPECT_EQ(panel->scrlSilDetTime->value(), 11);
    EXPECT_EQ(panel->lblSilDetTime->text(), QStringLiteral("5Sec"));
    QTest::keyClick(panel->scrlSilDetTime, Qt::Key_End);
    EXPECT_EQ(panel->lblSilDetTime->text(), QStringLiteral("100.1Sec"));
}

TEST_F(ControlRules, GpsdoBufferLabel)
{
    build(true);
    showActive();
    writeStore(sectionText(kDecoderMac,
                           {QStringLiteral("ROLE=2"), QStringLiteral("ATT=20"), QStringLiteral("BUF=23")}));
    panel->loadElement(QStringLiteral("D"), kDecoderMac);
    EXPECT_EQ(panel->scrlBuffer->value(), 23);
    EXPECT_EQ(panel->lblLatency->text(), QStringLiteral("60mS"));
    panel->scrlBuffer->setFocus();
    QTest::keyClick(panel->scrlBuffer, Qt::Key_Home);
    EXPECT_EQ(panel->lblLatency->text(), QStringLiteral("2.5mS"));
}
