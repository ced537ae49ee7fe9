// The ping test through its signals, against a scripted ICMP facility; cmdPing only for its wiring.
#include "diagnostics/PingTest.h"
#include "gui/PingButton.h"
#include "gui/WidgetColours.h"
#include "store/ElementStore.h"
#include "store/SelectedElement.h"

#include <QImage>
#include <QMutex>
#include <QPushButton>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <atomic>

#include "Fakes.h"
#include "TestUtil.h"

using namespace vexo;

namespace {

// Echo answers as scripted. With holdEcho set, an echo waits (on its worker thread) until the
// test releases it, so the test can act while the ping is in progress.
class ScriptedIcmp : public Icmp
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
            sent << QStringLiteral("%1 %2 %3")
                        .arg(ipv4, 8, 16, QLatin1Char('0'))
                        .arg(QString::fromLatin1(data))
                        .arg(timeoutMs);
        }
        ++echoes;
        if (holdEcho)
            gate.acquire();
        return reply;
    }

    bool startupOk = true;
    bool holdEcho = false;
    Reply reply{0, 2};
    std::atomic<int> startups{0};
    std::atomic<int> cleanups{0};
    std::atomic<int> echoes{0};
    QMutex mutex;
    QStringList sent;
    QSemaphore gate;
};

class PingTestFixture : public ::testing::Test
{
protected:
    PingTestFixture()
    {
        selected.select(kMac);
        for (auto signal :
             {&PingTest::started, &PingTest::failed, &PingTest::socketsUnavailable, &PingTest::finished})
            QObject::connect(&test, signal, [this, signal] { events << name(signal); });
        QObject::connect(&test, &PingTest::succeeded,
                         [this](int ms) { events << QStringLiteral("%1 ms").arg(ms); });
    }
    ~PingTestFixture() override { icmp.gate.release(2); } // never leave a worker waiting

    static QString name(void (PingTest::*signal)())
    {
        return signal == &PingTest::started    ? "started"
               : signal == &PingTest::failed   ? "failed"
               : signal == &PingTest::finished ? "finished"
                                               : "no sockets";
    }
    // Starts a test and runs the event loop until it is over.
    bool ping(const QString& ip)
    {
        const int before = int(events.count("finished"));
        test.ping(ip);
        return waitUntil([&] { return events.count("finished") > before; });
    }

    static inline const QString kMac = QStringLiteral("00:50:C2:0A:0B:0C");
    ScriptedIcmp icmp;
    FakeMessageBoxes boxes;
    QTemporaryDir dir;
    ElementStore store{dir.filePath("nms.ini")};
    SelectedElement selected{store};
    PingTest test{icmp, boxes, selected};
    QStringList events;
};

} // namespace

TEST_F(PingTestFixture, OutcomesOfAddressesAndAnswers)
{
    struct Case
    {
        QString ip;
        Icmp::Reply reply;
        QStringList events;
        QString sent; // the echo: address, data, time-out
    };
    const Case cases[] = {
        {"10.0.0.2", {0, 2}, {"started", "2 ms", "finished"}, "0a000002 hello 3000"},
        {" 10.0.0.3", {11010, 0}, {"started", "failed", "finished"}, "0a000003 hello 3000"},
        {"10.0.0.3", {11003, 5}, {"started", "failed", "finished"}, "0a000003 hello 3000"},
        {"10.0.0.3", {-1, 5}, {"started", "failed", "finished"}, "0a000003 hello 3000"},
        {"10.0.0.3", {12345, 5}, {"started", "failed", "finished"}, "0a000003 hello 3000"},
        // No echo for an address that does not convert; nothing at all for one that is no address.
        {"0.0.0.0", {0, 2}, {"started", "failed", "finished"}, ""},
        {"255.255.255.255", {0, 2}, {"started", "failed", "finished"}, ""},
        {"10.0.0", {0, 2}, {"started", "finished"}, ""},
    };
    for (const Case& c : cases) {
        events.clear();
        icmp.sent.clear();
        icmp.reply = c.reply;
        const int startups = icmp.startups;
        ASSERT_TRUE(ping(c.ip)) << c.ip.toStdString();
        EXPECT_EQ(events, c.events) << c.ip.toStdString();
        EXPECT_EQ(icmp.sent.join(""), c.sent) << c.ip.toStdString();
        EXPECT_EQ(icmp.cleanups, icmp.startups.load()) << "the facility is stopped after each test";
        EXPECT_EQ(icmp.startups - startups, c.events.size() > 2 ? 1 : 0) << c.ip.toStdString();
    }
    EXPECT_TRUE(boxes.shown.isEmpty());
}

TEST_F(PingTestFixture, NoIcmpFacilityTellsTheOperator)
{
    icmp.startupOk = false;
    ASSERT_TRUE(ping("10.0.0.2"));
    EXPECT_EQ(events, (QStringList{"started", "no sockets", "finished"}));
    ASSERT_EQ(boxes.shown.size(), 1);
    EXPECT_EQ(boxes.shown[0].icon, MsgIcon::Critical);
    EXPECT_EQ(boxes.shown[0].caption, QStringLiteral("Ping failed"));
    EXPECT_EQ(boxes.shown[0].text, QStringLiteral("Windows Sockets not responding correctly."));
    EXPECT_EQ(boxes.shown[0].buttons, MsgButtons::Ok);
    EXPECT_EQ(icmp.echoes, 0);
    EXPECT_EQ(icmp.cleanups, 0); // it was not started
}

TEST_F(PingTestFixture, OneTestAtATimeAndTheOutcomeBelongsToItsElement)
{
    // Selections while the echo is awaited -> whether the outcome is reported.
    const QList<QPair<QStringList, bool>> cases = {
        {{}, true},
        {{"00:50:C2:0A:0B:0D"}, false},
        {{"00:50:C2:0A:0B:0D", kMac}, true},
    };
    icmp.holdEcho = true;
    for (const auto& [selections, reported] : cases) {
        events.clear();
        test.ping("10.0.0.2");
        ASSERT_TRUE(waitUntil([&] { return icmp.echoes > icmp.cleanups; }));
        // The thread goes on meanwhile, and a second request starts nothing.
        EXPECT_TRUE(test.busy());
        test.ping("10.0.0.2");
        EXPECT_EQ(icmp.startups, icmp.cleanups + 1);
        for (const QString& mac : selections)
            selected.select(mac);
        icmp.gate.release();
        ASSERT_TRUE(waitUntil([&] { return events.contains("finished"); }));
        EXPECT_EQ(events, reported ? QStringList({"started", "2 ms", "finished"})
                                   : QStringList({"started", "finished"}));
        EXPECT_FALSE(test.busy());
        EXPECT_EQ(icmp.cleanups, icmp.startups.load());
        selected.select(kMac);
    }
}

TEST(PingButton, ShowsEachOutcomeInItsColourOnEveryStyle)
{
    QTemporaryDir dir;
    ElementStore store(dir.filePath("nms.ini"));
    SelectedElement selected(store);
    ScriptedIcmp icmp;
    FakeMessageBoxes boxes;
    PingTest test(icmp, boxes, selected);
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* cmdPing = new QPushButton(QStringLiteral("<Click to test>"), &window);
    cmdPing->setMinimumSize(80, 30);
    layout->addWidget(cmdPing);
    showPingOn(test, cmdPing);
    window.show();
    EXPECT_FALSE(buttonColour(cmdPing).isValid());
    const struct
    {
        std::function<void()> emitIt;
        QString caption;
        QColor colour;
    } cases[] = {
        {[&] { emit test.started(); }, "Trying...", QColor(255, 255, 192)},
        {[&] { emit test.succeeded(2); }, "2 ms", QColor(0, 255, 0)},
        {[&] { emit test.failed(); }, "Failed!", QColor(255, 128, 128)},
        {[&] { emit test.socketsUnavailable(); }, "No sockets!", QColor(255, 128, 128)},
    };
    for (const auto& c : cases) {
        c.emitIt();
        EXPECT_EQ(cmdPing->text(), c.caption);
        EXPECT_EQ(buttonColour(cmdPing), c.colour);
        // The painted button shows the colour beside its caption (Fusion ignores a palette-only
        // button colour).
        const QImage image = cmdPing->grab().toImage();
        EXPECT_EQ(QColor(image.pixel(3, image.height() / 2)), c.colour) << c.caption.toStdString();
    }
}
