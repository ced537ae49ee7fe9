// vexolink-cli's configuration commands in this process, against a stand-in element on
// 127.0.0.2: what is refused before anything leaves, and the reply time-out fired by the test.
#include "Fakes.h"
#include "TestUtil.h"
#include "cli/CliSupport.h"
#include "cli/Commands.h"
#include "link/ConfigLink.h"

#include <QCoreApplication>
#include <QNetworkDatagram>
#include <QTemporaryDir>
#include <QTextStream>
#include <QUdpSocket>

#include <gtest/gtest.h>

using namespace vexo;

namespace {

class CliConfigure : public ::testing::Test
{
protected:
    int run(const QStringList& args)
    {
        out.clear(), err.clear();
        QTextStream o(&out), e(&err);
        cli::CliEnvironment env{
            o, e, settings, arp, icmp, dir.filePath("nms.ini"), QHostAddress("127.0.0.1")};
        return cli::runCli(args, env);
    }
    QList<QByteArray> requests()
    {
        QList<QByteArray> got;
        while (element.hasPendingDatagrams())
            got << element.receiveDatagram().data();
        return got;
    }

    QTemporaryDir dir;
    FakeSettings settings;
    FakeArp arp;
    FakeIcmp icmp;
    QString out, err;
    QUdpSocket element;
};

const QByteArray kDecoder = "[0050C2000002]\nROLE=2\nNAME=B\nIP=127.0.0.2\nMASK=255.0.0.0\nGW=127.0.0.1\n"
                            "MULTI=239.1.1.1\nINPUT=0\nTYPE=0\nTX=1\nSFN=0\nBUF=4\nSDM=0\nSDL=37\nSDT=43\n";

} // namespace

TEST_F(CliConfigure, AnInvalidStoredValueIsRefusedUnlessGivenAndTheTimeOutEndsTheWait)
{
    ASSERT_TRUE(element.bind(QHostAddress("127.0.0.2"), 2976));
    const struct
    {
        QByteArray from, to; // the stored line spoilt
        QStringList args;
        int code;
        const char* error; // the one line after "vexolink-cli configure: "
    } cases[] = {
        {"BUF=4",
         "BUF=99",
         {"name=X"},
         cli::StoreProblem,
         "00:50:C2:00:00:02: stored buf=99 is out of range (0 to 22); give buf=VALUE to replace it"},
        {"INPUT=0",
         "INPUT=abc",
         {"name=X"},
         cli::StoreProblem,
         "00:50:C2:00:00:02: stored input=abc is not a number (0 to 1); give input=VALUE to replace it"},
        {"BUF=4",
         "BUF=99",
         {"name=X", "buf=5"},
         cli::NoAnswer,
         "00:50:C2:00:00:02 did not answer the configuration"},
        {"INPUT=0",
         "INPUT=abc",
         {"input=1"},
         cli::NoAnswer,
         "00:50:C2:00:00:02 did not answer the configuration"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.error);
        QByteArray stored = kDecoder;
        stored.replace(c.from, c.to);
        ASSERT_TRUE(writeFile(dir.filePath("nms.ini"), stored));
        // The reply time-out is fired as soon as the request has reached the element.
        QList<QByteArray> sent;
        auto fire = QObject::connect(&element, &QUdpSocket::readyRead, [&] {
            sent << requests();
            if (auto* link = qApp->findChild<ConfigLink*>())
                link->onTimerRemoteSent();
        });
        const int code = run(QStringList{"configure", "00:50:C2:00:00:02"} + c.args);
        QObject::disconnect(fire);
        EXPECT_EQ(code, c.code);
        EXPECT_EQ(err, "vexolink-cli configure: " + QString::fromLatin1(c.error) + "\n");
        EXPECT_EQ(readFile(dir.filePath("nms.ini")), stored); // nothing written either way
        sent << requests();
        if (c.code == cli::StoreProblem) {
            EXPECT_TRUE(sent.isEmpty());
        } else {
            ASSERT_EQ(sent.size(), 1);
            ASSERT_EQ(sent[0].size(), 40);
            EXPECT_EQ(int(sent[0][16]), c.args.contains("input=1") ? 1 : 0);
            EXPECT_EQ(int(sent[0][36]), c.args.contains("buf=5") ? 5 : 4);
        }
    }
}
