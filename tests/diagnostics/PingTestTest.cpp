// The "Ping:" test of the panel driven through its button, against a scripted ICMP facility.
#include "diagnostics/PingTest.h"
#include "platform/WidgetColours.h"

#include <QElapsedTimer>
#include <QImage>
#include <QLineEdit>
#include <QMutex>
#include <QPushButton>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>

#include <gtest/gtest.h>

#include <atomic>

#include "Fakes.h"
#include "TestUtil.h"

using namespace vexo;

namespace {

// Echo answers as scripted. With holdEcho set, an echo waits (on its worker thread) until the
// test releases it, so the test can act while the ping is in progress.
class FakeIcmp : public Icmp
{
public:
    bool startup() override
    {
        ++startups;
        return startupOk;
    }
    void cleanup() override { ++cleanups; }
    Reply echo(quint32 ipv4, const QByteArray& data, int timeoutMs) override
    {
        {
            QMutexLocker lock(&mutex);
            sentTo << ipv4;
            sentData << data;
            timeouts << timeoutMs;
        }
        ++echoes;
        if (holdEcho)
            gate.acquire();
        return reply;
    }
    void release() { gate.release(); }

    bool startupOk = true;
    bool holdEcho = false;
    Reply reply{0, 2};
    std::atomic<int> startups{0};
    std::atomic<int> cleanups{0};
    std::atomic<int> echoes{0};
    QMutex mutex;
    QList<quint32> sentTo;
    QList<QByteArray> sentData;
    QList<int> timeouts;
    QSemaphore gate;
};

const QColor kYellow(255, 255, 192);
const QColor kGreen(0, 255, 0);
const QColor kLightRed(255, 128, 128);

class PingTestFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        window = new QWidget;
        auto* layout = new QVBoxLayout(window);
        txtElementIP = new QLineEdit(window);
        txtElementIP->setObjectName(QStringLiteral("txtElementIP"));
        cmdPing = new QPushButton(QStringLiteral("<Click to test>"), window);
        cmdPing->setObjectName(QStringLiteral("cmdPing"));
        setButtonColour(cmdPing, kYellow);
        layout->addWidget(txtElementIP);
        layout->addWidget(cmdPing);
        test = new PingTest(
            icmp, boxes, cmdPing, txtElementIP, [this] { return selectedMac; }, window);
        QObject::connect(cmdPing, &QPushButton::clicked, test, &PingTest::onClicked);
        window->show();
    }
    void TearDown() override
    {
        // Never leave a worker waiting on the gate.
        icmp.release();
        icmp.release();
        delete window;
    }

    // Clicks cmdPing and waits until the click was dealt with.
    bool clickAndWait(int timeoutMs = 3000)
    {
        QSignalSpy spy(test, &PingTest::finished);
        QTest::mouseClick(cmdPing, Qt::LeftButton);
        return waitUntil([&] { return spy.count() > 0; }, timeoutMs);
    }

    FakeIcmp icmp;
    FakeMessageBoxes boxes;
    QString selectedMac = QStringLiteral("00:50:C2:0A:0B:0C");
    QWidget* window = nullptr;
    QLineEdit* txtElementIP = nullptr;
    QPushButton* cmdPing = nullptr;
    PingTest* test = nullptr;
};

} // namespace

TEST(icmpStatusText, WholeTable)
{
    const QList<QPair<qint32, const char*>> table = {
        {0, "Success!"},
        {11001, "Buffer Too Small"},
        {11002, "Destination Net Unreachable"},
        {11003, "Destination Host Unreachable"},
        {11004, "Destination Protocol Unreachable"},
        {11005, "Destination Port Unreachable"},
        {11006, "No Resources"},
        {11007, "Bad Option"},
        {11008, "Hardware Error"},
        {11009, "Packet Too Big"},
        {11010, "Request Timed Out"},
        {11011, "Bad Request"},
        {11012, "Bad Route"},
        {11013, "TimeToLive Expired Transit"},
        {11014, "TimeToLive Expired Reassembly"},
        {11015, "Parameter Problem"},
        {11016, "Source Quench"},
        {11017, "Option Too Big"},
        {11018, "Bad Destination"},
        {11032, "Negotiating IPSEC"},
        {11050, "General Failure"},
    };
    for (const auto& [status, text] : table)
        EXPECT_EQ(icmpStatusText(status), QString::fromLatin1(text)) << status;
}

TEST(icmpStatusText, AnythingElseIsUnknownResponse)
{
    for (qint32 status : {-1, 1, 11000, 11019, 11031, 11033, 11049, 11051, 0x7FFFFFFF})
        EXPECT_EQ(icmpStatusText(status), QStringLiteral("Unknown Response")) << status;
}

TEST_F(PingTestFixture, AnswerInTwoMillisecondsTurnsTheButtonGreenWithTheTime)
{
    // GIVEN an element at 10.0.0.2 that answers in 2 ms
    txtElementIP->setText(QStringLiteral("10.0.0.2"));
    icmp.reply = {0, 2};
    // WHEN the operator clicks cmdPing
    ASSERT_TRUE(clickAndWait());
    // THEN one echo with "hello" and a 3000 ms time-out went to 10.0.0.2, and the button is green
    EXPECT_EQ(icmp.sentTo, QList<quint32>{0x0A000002});
    EXPECT_EQ(icmp.sentData, QList<QByteArray>{QByteArray("hello")});
    EXPECT_EQ(icmp.timeouts, QList<int>{3000});
    EXPECT_EQ(cmdPing->text(), QStringLiteral("2 ms"));
    EXPECT_EQ(buttonColour(cmdPing), kGreen);
    EXPECT_EQ(icmp.startups, 1);
    EXPECT_EQ(icmp.cleanups, 1);
    EXPECT_TRUE(boxes.shown.isEmpty());
    EXPECT_FALSE(test->busy());
}

TEST_F(PingTestFixture, TimeOutGivesFailedOnLightRed)
{
    txtElementIP->setText(QStringLiteral("10.0.0.3"));
    icmp.reply = {11010, 0};
    ASSERT_TRUE(clickAndWait());
    EXPECT_EQ(cmdPing->text(), QStringLiteral("Failed!"));
    EXPECT_EQ(buttonColour(cmdPing), kLightRed);
    EXPECT_EQ(icmp.cleanups, 1);
}

TEST_F(PingTestFixture, EveryOtherStatusFailsToo)
{
    txtElementIP->setText(QStringLiteral("10.0.0.3"));
    for (qint32 status : {11003, 11050, -1, 12345}) {
        icmp.reply = {status, 5};
        ASSERT_TRUE(clickAndWait());
        EXPECT_EQ(cmdPing->text(), QStringLiteral("Failed!")) << status;
        EXPECT_EQ(buttonColour(cmdPing), kLightRed) << status;
    }
}

TEST_F(PingTestFixture, NoIcmpFacilityGivesTheMessageBoxAndNoSockets)
{
    // GIVEN a machine where no ICMP facility can be used
    icmp.startupOk = false;
    txtElementIP->setText(QStringLiteral("10.0.0.2"));
    // WHEN the operator clicks cmdPing
    ASSERT_TRUE(clickAndWait());
    // THEN the critical "Ping failed" box, "No sockets!" on light red, nothing sent, nothing stopped
    ASSERT_EQ(boxes.shown.size(), 1);
    EXPECT_EQ(boxes.shown[0].icon, MsgIcon::Critical);
    EXPECT_EQ(boxes.shown[0].caption, QStringLiteral("Ping failed"));
    EXPECT_EQ(boxes.shown[0].text, QStringLiteral("Windows Sockets not responding correctly."));
    EXPECT_EQ(boxes.shown[0].buttons, MsgButtons::Ok);
    EXPECT_EQ(cmdPing->text(), QStringLiteral("No sockets!"));
    EXPECT_EQ(buttonColour(cmdPing), kLightRed);
    EXPECT_EQ(icmp.echoes, 0);
    EXPECT_EQ(icmp.cleanups, 0);
    EXPECT_FALSE(test->busy());
}

TEST_F(PingTestFixture, ThreePartAddressStaysTryingAndSendsNothing)
{
    // GIVEN the IP field holding 10.0.0 and a button showing an earlier success
    txtElementIP->setText(QStringLiteral("10.0.0"));
    setButtonColour(cmdPing, kGreen);
    cmdPing->setText(QStringLiteral("2 ms"));
    // WHEN the operator clicks cmdPing
    ASSERT_TRUE(clickAndWait());
    // THEN "Trying..." on light yellow, and the facility was not even started
    EXPECT_EQ(cmdPing->text(), QStringLiteral("Trying..."));
    EXPECT_EQ(buttonColour(cmdPing), kYellow);
    EXPECT_EQ(icmp.startups, 0);
    EXPECT_EQ(icmp.echoes, 0);
    EXPECT_TRUE(boxes.shown.isEmpty());
    EXPECT_FALSE(test->busy());
}

TEST_F(PingTestFixture, AddressZeroFailsAtOnceWithoutAnEcho)
{
    txtElementIP->setText(QStringLiteral("0.0.0.0"));
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(clickAndWait());
    EXPECT_LT(clock.elapsed(), 1000);
    EXPECT_EQ(cmdPing->text(), QStringLiteral("Failed!"));
    EXPECT_EQ(buttonColour(cmdPing), kLightRed);
    EXPECT_EQ(icmp.echoes, 0);
    EXPECT_EQ(icmp.cleanups, icmp.startups.load());
}

TEST_F(PingTestFixture, AllOnesAddressFailsWithoutAnEcho)
{
    txtElementIP->setText(QStringLiteral("255.255.255.255"));
    ASSERT_TRUE(clickAndWait());
    EXPECT_EQ(cmdPing->text(), QStringLiteral("Failed!"));
    EXPECT_EQ(icmp.echoes, 0);
}

TEST_F(PingTestFixture, WindowStaysResponsiveAndASecondClickStartsNothing)
{
    // GIVEN an echo that is still awaited
    icmp.holdEcho = true;
    txtElementIP->setText(QStringLiteral("10.0.0.2"));
    QSignalSpy finished(test, &PingTest::finished);
    QTest::mouseClick(cmdPing, Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return icmp.echoes == 1; }));
    EXPECT_TRUE(test->busy());
    EXPECT_EQ(cmdPing->text(), QStringLiteral("Trying..."));
    // THEN timers keep firing on the GUI thread meanwhile
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start(10);
    EXPECT_TRUE(waitUntil([&] { return ticks >= 3; }, 2000));
    // WHEN the operator clicks again
    QTest::mouseClick(cmdPing, Qt::LeftButton);
    QCoreApplication::processEvents();
    // THEN nothing new starts and the caption stays
    EXPECT_EQ(icmp.echoes, 1);
    EXPECT_EQ(icmp.startups, 1);
    EXPECT_EQ(cmdPing->text(), QStringLiteral("Trying..."));
    EXPECT_EQ(finished.count(), 0);
    // WHEN the answer arrives
    icmp.release();
    ASSERT_TRUE(waitUntil([&] { return finished.count() == 1; }));
    EXPECT_EQ(cmdPing->text(), QStringLiteral("2 ms"));
    EXPECT_EQ(icmp.echoes, 1);
    // THEN the next click is a new test
    icmp.holdEcho = false;
    ASSERT_TRUE(clickAndWait());
    EXPECT_EQ(icmp.echoes, 2);
}

TEST_F(PingTestFixture, OutcomeIsDroppedWhenAnotherElementWasLoadedMeanwhile)
{
    // GIVEN a test in progress for the element 00:50:C2:0A:0B:0C
    icmp.holdEcho = true;
    txtElementIP->setText(QStringLiteral("10.0.0.2"));
    QSignalSpy finished(test, &PingTest::finished);
    QTest::mouseClick(cmdPing, Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return icmp.echoes == 1; }));
    // WHEN another element is loaded (the panel resets the button to idle) and the answer comes
    selectedMac = QStringLiteral("00:50:C2:0A:0B:0D");
    txtElementIP->setText(QStringLiteral("10.0.0.9"));
    setButtonColour(cmdPing, kYellow);
    cmdPing->setText(QStringLiteral("<Click to test>"));
    icmp.release();
    ASSERT_TRUE(waitUntil([&] { return finished.count() == 1; }));
    // THEN the new element's button keeps its idle state, and the facility was stopped
    EXPECT_EQ(cmdPing->text(), QStringLiteral("<Click to test>"));
    EXPECT_EQ(buttonColour(cmdPing), kYellow);
    EXPECT_EQ(icmp.cleanups, 1);
    EXPECT_FALSE(test->busy());
}

TEST_F(PingTestFixture, SameElementStillLoadedShowsItsOutcome)
{
    icmp.holdEcho = true;
    icmp.reply = {11010, 0};
    txtElementIP->setText(QStringLiteral("10.0.0.2"));
    QSignalSpy finished(test, &PingTest::finished);
    QTest::mouseClick(cmdPing, Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return icmp.echoes == 1; }));
    // another element shown and then the first one again: the outcome is still about it
    selectedMac = QStringLiteral("00:50:C2:0A:0B:0D");
    selectedMac = QStringLiteral("00:50:C2:0A:0B:0C");
    icmp.release();
    ASSERT_TRUE(waitUntil([&] { return finished.count() == 1; }));
    EXPECT_EQ(cmdPing->text(), QStringLiteral("Failed!"));
}

TEST(ButtonColour, IsPaintedByFusionAndReadBack)
{
    // GIVEN a shown button on the Fusion style
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* button = new QPushButton(QStringLiteral("x"), &window);
    button->setMinimumSize(80, 30);
    layout->addWidget(button);
    window.show();
    EXPECT_FALSE(buttonColour(button).isValid());
    for (const QColor& colour : {kGreen, kLightRed, kYellow}) {
        // WHEN its colour is set
        setButtonColour(button, colour);
        // THEN it reads back and the painted button shows it
        EXPECT_EQ(buttonColour(button), colour);
        EXPECT_EQ(button->palette().color(QPalette::Button), colour);
        const QImage image = button->grab().toImage();
        ASSERT_FALSE(image.isNull());
        EXPECT_EQ(QColor(image.pixel(image.width() / 4, image.height() / 2)), colour)
            << colour.name().toStdString();
    }
}
