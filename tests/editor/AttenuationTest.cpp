// The immediate attenuation change of a decoder: one AttenuationMessage per completed operator
// change, caught by a UDP socket standing in for the element on 127.0.0.2:2977.
#include "PanelFixture.h"

#include "editor/ValueRules.h"
#include "link/ConfigCodec.h"

#include <QSet>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QUdpSocket>

using namespace vexo;

namespace {
const QHostAddress kStation(QStringLiteral("127.0.0.1"));
const QHostAddress kElement(QStringLiteral("127.0.0.2"));
} // namespace

class Attenuation : public PanelFixture
{
protected:
    void SetUp() override
    {
        PanelFixture::SetUp();
        ASSERT_TRUE(element.bind(kElement, kCommandPort))
            << "stand-in cannot bind 127.0.0.2:2977: " << element.errorString().toStdString();
        QObject::connect(&element, &QUdpSocket::readyRead, [this] {
            while (element.hasPendingDatagrams()) {
                QByteArray d(int(element.pendingDatagramSize()), '\0');
                element.readDatagram(d.data(), d.size());
                received << d;
            }
        });
        ASSERT_TRUE(marker.bind(kStation, 0));
        ASSERT_TRUE(station->bindConfigPort());
    }

    void loadDecoder(const QString& att, const QString& ip = QStringLiteral("127.0.0.2"))
    {
        writeStore(sectionText(kDecoderMac, {QStringLiteral("NAME=TX SITE B"), QStringLiteral("IP=") + ip,
                                             QStringLiteral("ROLE=2"), QStringLiteral("ATT=") + att}));
        panel->loadElement(QStringLiteral("TX SITE B"), kDecoderMac);
    }

    QString storedAtt() const { return store.read(kDecoderMac, keys::att); }

    // Proves that nothing else is on its way: a marker sent now arrives after anything sent before.
    QList<QByteArray> receivedUntilMarker()
    {
        const QByteArray marker("MARK");
        this->marker.writeDatagram(marker, kElement, kCommandPort);
        EXPECT_TRUE(waitUntil([&] { return !received.isEmpty() && received.last() == marker; }));
        QList<QByteArray> got = received;
        got.removeLast();
        received.clear();
        return got;
    }

    QRect handleRect(QScrollBar* bar) const
    {
        QStyleOptionSlider opt;
        opt.initFrom(bar);
        opt.subControls = QStyle::SC_All;
        opt.activeSubControls = QStyle::SC_None;
        opt.orientation = bar->orientation();
        opt.minimum = bar->minimum();
        opt.maximum = bar->maximum();
        opt.sliderPosition = bar->sliderPosition();
        opt.sliderValue = bar->value();
        opt.singleStep = bar->singleStep();
        opt.pageStep = bar->pageStep();
        opt.upsideDown = false;
        if (bar->orientation() == Qt::Horizontal)
            opt.state |= QStyle::State_Horizontal;
        return bar->style()->subControlRect(QStyle::CC_ScrollBar, &opt, QStyle::SC_ScrollBarSlider, bar);
    }

    QUdpSocket element;
    QUdpSocket marker;
    QList<QByteArray> received;
};

TEST_F(Attenuation, LoadingADecoderSendsNothing)
{
    showActive();
    panel->scrlAtten->setFocus(); // even with the focus on the bar
    loadDecoder(QStringLiteral("100"));
    EXPECT_EQ(panel->lblAttenDB->text(), QStringLiteral("-77.5 dB"));
    EXPECT_TRUE(receivedUntilMarker().isEmpty());
}

TEST_F(Attenuation, EachArrowKeySendsOneMessageAndStoresIt)
{
    showActive();
    loadDecoder(QStringLiteral("100"));
    panel->scrlAtten->setFocus();
    ASSERT_TRUE(panel->scrlAtten->hasFocus());

    QTest::keyClick(panel->scrlAtten, Qt::Key_Right);
    ASSERT_TRUE(waitUntil([&] { return received.size() == 1; }));
    EXPECT_EQ(received[0], QByteArray::fromHex("6500")); // 101
    EXPECT_EQ(storedAtt(), QStringLiteral("101"));
    EXPECT_EQ(panel->lblAttenDB->text(), QStringLiteral("-77 dB"));

    QTest::keyClick(panel->scrlAtten, Qt::Key_Left);
    QTest::keyClick(panel->scrlAtten, Qt::Key_Left);
    ASSERT_TRUE(waitUntil([&] { return received.size() == 3; }));
    EXPECT_EQ(received[1], QByteArray::fromHex("6500").replace(0, 1, "\x64")); // 100
    EXPECT_EQ(received[2], QByteArray::fromHex("6300"));                       // 99
    EXPECT_EQ(storedAtt(), QStringLiteral("99"));
    QTest::keyClick(panel->scrlAtten, Qt::Key_PageUp); // large step
    ASSERT_TRUE(waitUntil([&] { return received.size() == 4; }));
    EXPECT_EQ(received[3], QByteArray::fromHex("6D00")); // 109
    EXPECT_EQ(storedAtt(), QStringLiteral("109"));
    received.clear();
    EXPECT_TRUE(receivedUntilMarker().isEmpty()); // no extra datagram
}

TEST_F(Attenuation, KeyAtTheEndOfTheRangeSendsNothing)
{
    showActive();
    loadDecoder(QStringLiteral("255"));
    panel->scrlAtten->setFocus();
    QTest::keyClick(panel->scrlAtten, Qt::Key_Right);
    EXPECT_TRUE(receivedUntilMarker().isEmpty());
    QTest::keyClick(panel->scrlAtten, Qt::Key_Left);
    const QList<QByteArray> got = receivedUntilMarker();
    ASSERT_EQ(got.size(), 1);
    EXPECT_EQ(got[0], QByteArray::fromHex("FE00"));
    // Down to mute: 14 leaves as it is.
    QTest::keyClick(panel->scrlAtten, Qt::Key_Home);
    const QList<QByteArray> muted = receivedUntilMarker();
    ASSERT_EQ(muted.size(), 1);
    EXPECT_EQ(muted[0], QByteArray::fromHex("0E00"));
    EXPECT_EQ(panel->lblAttenDB->text(), QStringLiteral("Mute"));
    EXPECT_EQ(storedAtt(), QStringLiteral("14"));
}

TEST_F(Attenuation, ArrowAndTrackClicksSendOnceEach)
{
    showActive();
    loadDecoder(QStringLiteral("200"));
    QScrollBar* bar = panel->scrlAtten;
    // A click on the right arrow (the right end of the bar) and one in the track left of the thumb.
    QTest::mouseClick(bar, Qt::LeftButton, {}, QPoint(bar->width() - 4, bar->height() / 2));
    EXPECT_TRUE(bar->hasFocus());
    QList<QByteArray> got = receivedUntilMarker();
    ASSERT_EQ(got.size(), 1);
    EXPECT_EQ(got[0], QByteArray::fromHex("C900")); // 201
    const QRect handle = handleRect(bar);
    ASSERT_GT(handle.left(), 20);
    QTest::mouseClick(bar, Qt::LeftButton, {}, QPoint(handle.left() - 3, bar->height() / 2));
    got = receivedUntilMarker();
    ASSERT_EQ(got.size(), 1);
    EXPECT_EQ(got[0], QByteArray::fromHex("BF00")); // 191: one large step
    EXPECT_EQ(storedAtt(), QStringLiteral("191"));
}

TEST_F(Attenuation, DragSendsOnlyAtItsEnd)
{
    showActive();
    loadDecoder(QStringLiteral("100"));
    QScrollBar* bar = panel->scrlAtten;
    const QRect handle = handleRect(bar);
    ASSERT_TRUE(handle.isValid());
    const QPoint start = handle.center();
    // WHEN the operator takes the thumb and drags it to the right in several moves
    QTest::mousePress(bar, Qt::LeftButton, {}, start);
    ASSERT_TRUE(bar->isSliderDown());
    ASSERT_TRUE(bar->hasFocus());
    QList<int> passed;
    for (int dx = 2; dx <= 12; dx += 2) {
        QTest::mouseMove(bar, start + QPoint(dx, 0));
        passed << bar->value();
    }
    EXPECT_GE(QSet<int>(passed.begin(), passed.end()).size(), 3); // several positions passed
    // THEN the label follows, but nothing is sent while dragging
    ASSERT_GT(bar->value(), 100);
    EXPECT_EQ(panel->lblAttenDB->text(), attenuationText(bar->value()));
    EXPECT_TRUE(receivedUntilMarker().isEmpty());
    EXPECT_EQ(storedAtt(), QStringLiteral("100"));
    // WHEN the thumb is let go THEN the final position leaves once and is stored
    const int final = bar->value();
    QTest::mouseRelease(bar, Qt::LeftButton, {}, start + QPoint(12, 0));
    EXPECT_FALSE(bar->isSliderDown());
    const QList<QByteArray> got = receivedUntilMarker();
    ASSERT_EQ(got.size(), 1);
    EXPECT_EQ(quint8(got[0][0]), final);
    EXPECT_EQ(got[0][1], '\0');
    EXPECT_EQ(storedAtt(), QString::number(final));
}

TEST_F(Attenuation, DragWithoutTrackingAlsoSendsOnce)
{
    showActive();
    loadDecoder(QStringLiteral("100"));
    QScrollBar* bar = panel->scrlAtten;
    bar->setFocus();
    bar->setTracking(false);
    bar->setSliderDown(true);
    bar->setSliderPosition(120);
    bar->setSliderPosition(130);
    EXPECT_TRUE(receivedUntilMarker().isEmpty());
    bar->setSliderDown(false);
    const QList<QByteArray> got = receivedUntilMarker();
    ASSERT_EQ(got.size(), 1);
    EXPECT_EQ(got[0], QByteArray::fromHex("8200")); // 130
    EXPECT_EQ(storedAtt(), QStringLiteral("130"));
}

TEST_F(Attenuation, DragBackToTheStartSendsNothing)
{
    showActive();
    loadDecoder(QStringLiteral("100"));
    QScrollBar* bar = panel->scrlAtten;
    bar->setFocus();
    bar->setSliderDown(true);
    bar->setSliderPosition(140);
    bar->setSliderPosition(100);
    bar->setSliderDown(false);
    EXPECT_TRUE(receivedUntilMarker().isEmpty());
    EXPECT_EQ(storedAtt(), QStringLiteral("100"));
}

TEST_F(Attenuation, ChangesThatAreNotTheOperatorsSendNothing)
{
    showActive();
    loadDecoder(QStringLiteral("100"));
    panel->scrlAtten->setFocus();
    // A configuration reply puts the element's value into the bar.
    panel->scrlAtten->setValue(150);
    EXPECT_EQ(panel->lblAttenDB->text(), QStringLiteral("-52.5 dB"));
    // An operator action without the focus on the bar (e.g. from code) is not the operator's.
    panel->txtElementName->setFocus();
    panel->scrlAtten->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    EXPECT_TRUE(receivedUntilMarker().isEmpty());
    EXPECT_EQ(storedAtt(), QStringLiteral("100"));
}

TEST_F(Attenuation, NothingIsSentForAnEncoder)
{
    showActive();
    loadEncoder();
    EXPECT_TRUE(panel->scrlAtten->isHidden());
    panel->scrlAtten->setFocus(); // a hidden bar cannot take the focus
    QTest::keyClick(panel->scrlAtten, Qt::Key_Right);
    panel->scrlAtten->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    // Even with the bar visible and focused, an encoder's bar sends nothing.
    panel->scrlAtten->show();
    panel->scrlAtten->setFocus();
    ASSERT_TRUE(panel->scrlAtten->hasFocus());
    QTest::keyClick(panel->scrlAtten, Qt::Key_Right);
    EXPECT_TRUE(receivedUntilMarker().isEmpty());
    EXPECT_EQ(store.read(kEncoderMac, keys::att), QStringLiteral("0")); // never written
}

TEST_F(Attenuation, FailedSendLeavesTheStoreAlone)
{
    showActive();
    loadDecoder(QStringLiteral("100"), QStringLiteral("10.0.0.300")); // no address to send to
    const QByteArray before = storeBytes();
    panel->scrlAtten->setFocus();
    QTest::keyClick(panel->scrlAtten, Qt::Key_Right);
    EXPECT_EQ(boxes.texts(),
              QStringList{"Cannot send to the Network Element: the IP address stored for it is "
                          "not valid (10.0.0.300)."});
    EXPECT_EQ(storeBytes(), before);
}

TEST_F(Attenuation, NothingIsSentAfterClearing)
{
    showActive();
    loadDecoder(QStringLiteral("100"));
    panel->clearElementProperties();
    panel->scrlAtten->setFocus();
    QTest::keyClick(panel->scrlAtten, Qt::Key_Right);
    EXPECT_TRUE(receivedUntilMarker().isEmpty());
    EXPECT_EQ(storedAtt(), QStringLiteral("100"));
}
