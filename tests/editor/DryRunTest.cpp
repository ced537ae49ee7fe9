// What `configure --dry-run` shows: the stored and the sent value of every field, and the request
// bytes, checked against vectors worked out by hand from the message layout.
#include "editor/DryRun.h"
#include "TestUtil.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace vexo;

TEST(DryRun, ChangesBecomeTheRequestThatWouldBeSent)
{
    QTemporaryDir dir;
    const QString store = dir.filePath("nms.ini");
    ASSERT_TRUE(writeFile(store,
                          "[0050C2770002]\nNAME=DECODER 001\nIP=10.0.0.7\nMASK=255.255.255.0\nGW=10.0.0.1\n"
                          "INPUT=0\nTYPE=0\nTX=1\nMULTI=239.1.1.1\nROLE=2\nSN=5\nVER=3.2\nSFN=1\nBUF=4\n"
                          "SDM=0\nSDL=40\nSDT=43\n"
                          "[0050C2770001]\nNAME=ENC\nIP=10.0.0.6\nMASK=255.0.0.0\nGW=10.0.0.1\nINPUT=1\n"
                          "TYPE=1\nTX=0\nREMOTE=10.0.0.7\nROLE=1\nSFN=0\nBUF=1\n"));
    const struct
    {
        const char* mac;
        QList<QPair<QString, QString>> changes;
        const char* requestHex;
        QList<DryRunField> changed; // the fields whose sent value differs from the stored one
    } rows[] = {
        {"00:50:C2:77:00:02",
         {{"name", "night"}, {"SDL", "41"}, {"multi", "239.2.2.2"}},
         "0a000007 ffffff00 0a000001 ef020202 00000101 4e49474854202020 2020202020202020 0400292b",
         {{"multi", "239.1.1.1", "239.2.2.2"}, {"name", "DECODER 001", "NIGHT"}, {"sdl", "40", "41"}}},
        // An encoder turned to multicast: the address now goes under multi (its default stored).
        {"00:50:C2:77:00:01",
         {{"tx", "1"}, {"remote", "239.9.9.9"}},
         "0a000006 ff000000 0a000001 ef090909 01010100 454e432020202020 2020202020202020",
         {{"multi", "239.255.255.239", "239.9.9.9"}, {"tx", "0", "1"}}},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.mac);
        const DryRun run = dryRunConfiguration(StoredElement::load(ElementStore(store), r.mac), r.changes);
        ASSERT_TRUE(run.ok()) << run.refusal.toStdString();
        EXPECT_EQ(run.request, QByteArray::fromHex(QByteArray(r.requestHex).replace(' ', "")));
        QList<DryRunField> changed;
        for (const DryRunField& f : run.fields) {
            if (f.stored != f.sent)
                changed.append(f);
        }
        std::sort(changed.begin(), changed.end(), [](auto& a, auto& b) { return a.field < b.field; });
        EXPECT_EQ(changed, r.changed);
    }
    // Refused changes name the rule, and nothing is built.
    const struct
    {
        const char* mac;
        QPair<QString, QString> change;
        const char* says;
    } refusals[] = {
        {"00:50:C2:77:00:01", {"buf", "3"}, "buf is for decoders only"},
        {"00:50:C2:77:00:02", {"buf", "23"}, "buf '23' out of range: 0 to 22"},
        {"00:50:C2:77:00:02", {"sdl", "0"}, "sdl '0' out of range: 1 to 154"},
        {"00:50:C2:77:00:02", {"ip", "10.0.0"}, "ip: malformed IP address '10.0.0'"},
        {"00:50:C2:77:00:01", {"name", "ABCDEFGHIJKLMNOPQ"}, "name must be 1 to 16 characters"},
        {"00:50:C2:77:00:02", {"colour", "red"}, "unknown key 'colour'"},
    };
    for (const auto& r : refusals) {
        const DryRun run = dryRunConfiguration(StoredElement::load(ElementStore(store), r.mac), {r.change});
        EXPECT_EQ(run.refusal, r.says);
        EXPECT_TRUE(run.request.isEmpty() && run.fields.isEmpty());
    }
    EXPECT_TRUE(dryRunConfiguration(StoredElement::load(ElementStore(store), "00:50:C2:77:00:02"),
                                    {{"buf", "23"}}, true)
                    .ok());
}
