#include "store/ElementStore.h"
#include "TestUtil.h"
#include "editor/StoredElement.h"
#include "store/ElementConfig.h"
#include "store/IniFile.h"

#include <QTemporaryDir>

#include <functional>

#include <gtest/gtest.h>

using namespace vexo;

TEST(ElementStoreSchema, AStoredElementIsTheConfigurationDiscoveryWrote)
{
    // GIVEN the Windows station's encoder and decoder, each read into a configuration
    const QByteArray fixture = readFile(fixturePath("nms-windows-station.ini"));
    QTemporaryDir dir;
    ElementStore windows(dir.filePath("windows.ini"));
    ASSERT_TRUE(writeFile(windows.path(), fixture));
    // WHEN discovery writes each into a new store THEN the sections are the Windows station's
    ElementStore fresh(dir.filePath("nms.ini"));
    for (const char* section : {"0050C2A1B2C3", "0050C2A1B2C4"}) {
        const ElementConfig c = StoredElement::load(windows, decodeMac(QString(section).toLower())).config();
        ASSERT_TRUE(writeKeysToIni(section, discoveredSectionValues(c), fresh.path()));
    }
    EXPECT_EQ(readFile(fresh.path()), QByteArray(fixture).replace("\r\n", "\n"));

    // An element that stored only its role gets the schema's defaults.
    ASSERT_TRUE(writeFile(windows.path(), "[0050C2000001]\nROLE=2\n[0050C2000002]\nROLE=1\n"));
    const ElementConfig bare = StoredElement::load(windows, "00:50:C2:00:00:01").config();
    EXPECT_EQ(bare.remote, "239.255.255.239");
    EXPECT_EQ(bare.version(), "2.0");
    EXPECT_EQ(QList<int>({bare.sfn, bare.buffer, bare.attenuation, bare.silenceMode, bare.silenceLevel,
                          bare.silenceTime}),
              QList<int>({0, 1, 0, 0, 37, 43}));
    EXPECT_EQ(StoredElement::load(windows, "00:50:C2:00:00:02").config().remote, "192.168.1.91");
}

TEST(ElementStoreSchema, ReadsTheWindowsStationFileInEveryFormAndKeepsItsForm)
{
    // GIVEN the store the earlier Windows station left (CRLF, upper-case keys), and the same
    // store as operators hand it over: edited in Notepad, saved as Unicode, moved by old tools
    const QByteArray fixture = readFile(fixturePath("nms-windows-station.ini"));
    ASSERT_FALSE(fixture.isEmpty()) << "fixture missing";
    const auto records = [](const ElementStore& s) {
        return discoveredSectionValues(StoredElement::load(s, "00:50:C2:A1:B2:C3").config()) +
               discoveredSectionValues(StoredElement::load(s, "00:50:C2:A1:B2:C4").config());
    };
    const auto same = [](const QByteArray& b) { return b; };
    const auto headerComment = [](QByteArray b) {
        return b.replace("[0050C2A1B2C4]", "[0050C2A1B2C4] ; TX site B");
    };
    const auto hashLine = [](QByteArray b) {
        return b.replace("NAME=STUDIO A\r\n", "NAME=STUDIO A\r\n#SN=5\r\n");
    };
    const auto crOnly = [](QByteArray b) { return b.replace("\r\n", "\r"); };
    const auto utf16 = [](bool le) {
        return [le](const QByteArray& b) {
            QByteArray out = le ? QByteArray("\xFF\xFE") : QByteArray("\xFE\xFF");
            for (char c : b)
                out.append(le ? c : '\0').append(le ? '\0' : c);
            return out;
        };
    };
    const auto utf8Bom = [](const QByteArray& b) { return "\xEF\xBB\xBF" + b; };
    const QList<std::pair<const char*, std::function<QByteArray(const QByteArray&)>>> forms = {
        {"as written", same},  {"header comment", headerComment}, {"# line", hashLine},
        {"CR only", crOnly},   {"UTF-16 LE", utf16(true)},        {"UTF-16 BE", utf16(false)},
        {"UTF-8 BOM", utf8Bom}};
    for (const auto& [what, form] : forms) {
        SCOPED_TRACE(what);
        QTemporaryDir dir;
        const QString path = dir.filePath("nms.ini");
        ASSERT_TRUE(writeFile(path, form(fixture)));
        ElementStore store(path);
        // THEN every element and key reads as written
        EXPECT_EQ(iniSections(path), (QStringList{"0050C2A1B2C3", "0050C2A1B2C4"}));
        EXPECT_EQ(records(store), records(ElementStore(fixturePath("nms-windows-station.ini"))));
        EXPECT_EQ(store.lineCount("00:50:C2:A1:B2:C4"), 17);
        // WHEN the station writes an existing and a new key THEN only those lines change, and
        // the file keeps its encoding and line ends
        ASSERT_TRUE(store.write("00:50:C2:A1:B2:C4", keys::att, "14"));
        ASSERT_TRUE(store.write("00:50:C2:A1:B2:C3", keys::dly, "2500"));
        QByteArray expected = fixture;
        expected.replace("ATT=200\r\n", "ATT=14\r\n");
        expected.replace("BUF=6\r\n", "BUF=6\r\nDLY=2500\r\n");
        EXPECT_EQ(readFile(path), form(expected));
    }
}

TEST(ElementStoreSchema, SeveralKeysReadAtOnceAreWhatEachReadGives)
{
    // GIVEN a section in the Windows station's form (upper-case keys, CRLF) without `sfn`
    QTemporaryDir dir;
    ElementStore store(dir.filePath("nms.ini"));
    ASSERT_TRUE(writeFile(store.path(), "[0050C2A1B2C3]\r\nIP=10.0.0.7 \r\nROLE=2\r\n"));
    const QStringList keys = {"ip", "sfn", "role", "remote"};
    for (const QString mac : {"00:50:C2:A1:B2:C3", "00:50:C2:A1:B2:C9", "not a mac"}) {
        // THEN each value is the single read's, defaults included, for a missing section too
        QStringList one;
        for (const QString& key : keys)
            one << store.read(mac, key);
        EXPECT_EQ(store.read(mac, keys), one) << mac.toStdString();
    }
    EXPECT_EQ(store.read("00:50:C2:A1:B2:C3", keys), (QStringList{"10.0.0.7", "0", "2", "192.168.1.91"}));
}
