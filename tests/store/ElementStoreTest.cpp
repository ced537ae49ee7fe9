#include "store/ElementStore.h"
#include "TestUtil.h"
#include "store/IniFile.h"

#include <QFile>
#include <QTemporaryDir>

#include <functional>

#include <gtest/gtest.h>

using namespace vexo;

TEST(SharedHelpers, EncodeAndDecodeMac)
{
    EXPECT_EQ(encodeMac("00:50:c2:a1:b2:c3"), "0050C2A1B2C3");
    EXPECT_EQ(encodeMac("00:50:C2:A1:B2:C"), "");
    EXPECT_EQ(encodeMac("00:50:C2:A1:B2:C3:"), "");
    EXPECT_EQ(encodeMac(""), "");
    EXPECT_EQ(decodeMac("0050c2a1b2c3"), "00:50:C2:A1:B2:C3");
    EXPECT_EQ(decodeMac("0050C2A1B2C"), "");
    EXPECT_EQ(decodeMac("0050C2A1B2C3D"), "");
}

TEST(SharedHelpers, isValidIp)
{
    EXPECT_TRUE(isValidIp("10.0.0.1"));
    EXPECT_TRUE(isValidIp("0.0.0.0"));
    EXPECT_TRUE(isValidIp("255.255.255.255"));
    EXPECT_TRUE(isValidIp(" 10 . 0 .0. 1 "));
    EXPECT_FALSE(isValidIp(""));
    EXPECT_FALSE(isValidIp("10.0.0"));
    EXPECT_FALSE(isValidIp("10.0.0.1.5"));
    EXPECT_FALSE(isValidIp("192.168.1.300"));
    EXPECT_FALSE(isValidIp("10..0.1"));
    EXPECT_FALSE(isValidIp("10.a.0.1"));
    EXPECT_FALSE(isValidIp("10.-1.0.1"));
    EXPECT_FALSE(isValidIp("10.+1.0.1"));
}

TEST(ElementStoreSchema, DefaultsOfMissingKeys)
{
    QTemporaryDir dir;
    ElementStore store(dir.filePath("nms.ini"));
    ASSERT_TRUE(store.write("00:50:C2:A1:B2:C3", keys::name, "X"));
    const QString mac = "00:50:C2:A1:B2:C3";
    EXPECT_EQ(store.read(mac, keys::remote), "192.168.1.91");
    EXPECT_EQ(store.read(mac, keys::multi), "239.255.255.239");
    EXPECT_EQ(store.read(mac, keys::ver), "2.00");
    EXPECT_EQ(store.read(mac, keys::bound), "0");
    EXPECT_EQ(store.read(mac, keys::sfn), "0");
    EXPECT_EQ(store.read(mac, keys::buf), "1");
    EXPECT_EQ(store.read(mac, keys::att), "0");
    EXPECT_EQ(store.read(mac, keys::sdm), "0");
    EXPECT_EQ(store.read(mac, keys::sdl), "37");
    EXPECT_EQ(store.read(mac, keys::sdt), "43");
    EXPECT_EQ(store.read(mac, keys::dly), "0");
    EXPECT_EQ(store.read(mac, keys::srv), "0");
    EXPECT_EQ(store.read(mac, keys::ip), "");
    EXPECT_EQ(store.read(mac, keys::role), "");
    EXPECT_EQ(readFile(store.path()), QByteArray("[0050C2A1B2C3]\nNAME=X\n"));
}

TEST(ElementStoreSchema, TwentyLinesLoadTwentyOneAreCorrupted)
{
    QTemporaryDir dir;
    ElementStore store(dir.filePath("nms.ini"));
    const QString mac = "00:50:C2:00:00:01";
    for (int i = 0; i < 20; ++i)
        ASSERT_TRUE(store.write(mac, QString("k%1").arg(i), "1"));
    EXPECT_EQ(store.lineCount(mac), 20);
    EXPECT_LT(store.lineCount(mac), kCorruptedSectionLines);
    ASSERT_TRUE(store.write(mac, "extra", "1"));
    EXPECT_GE(store.lineCount(mac), kCorruptedSectionLines);
}

TEST(ElementStoreSchema, ReadsTheWindowsStationFileInEveryFormAndKeepsItsForm)
{
    // GIVEN the store the earlier Windows station left (CRLF, upper-case keys), and the same
    // store as operators hand it over: edited in Notepad, saved as Unicode, moved by old tools
    const QByteArray fixture = readFile(fixturePath("nms-windows-station.ini"));
    ASSERT_FALSE(fixture.isEmpty()) << "fixture missing";
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
        EXPECT_EQ(store.read("00:50:C2:A1:B2:C3", keys::name), "STUDIO A");
        EXPECT_EQ(store.read("00:50:C2:A1:B2:C3", keys::remote), "10.0.0.9");
        EXPECT_EQ(store.read("00:50:C2:A1:B2:C3", keys::sn), "32769");
        EXPECT_EQ(store.read("00:50:C2:A1:B2:C4", keys::att), "200");
        EXPECT_EQ(store.read("00:50:C2:A1:B2:C4", keys::multi), "239.1.1.1");
        EXPECT_EQ(store.lineCount("00:50:C2:A1:B2:C4"), 17);
        // WHEN the station writes an existing and a new key THEN only those lines change, and
        // the file keeps its encoding and line ends
        ASSERT_TRUE(store.write("00:50:C2:A1:B2:C4", keys::att, "14"));
        ASSERT_TRUE(store.write("00:50:C2:A1:B2:C3", keys::dly, "2500"));
        QByteArray expected = fixture;
        expected.replace("ATT=200\r\n", "ATT=14\r\n");
        expected.replace("BUF=6\r\n", "BUF=6\r\nDLY=2500\r\n");
        EXPECT_EQ(readFile(path), form(expected));
        EXPECT_EQ(iniSections(path).size(), 2);
    }
}
