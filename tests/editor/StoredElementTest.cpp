// A stored element read back with the validity of every field: what the panel shows and the
// command line refuses to send.
#include "editor/StoredElement.h"
#include "TestUtil.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace vexo;

namespace {

const QString kMac = QStringLiteral("00:50:C2:A1:B2:C3");

StoredElement loadFrom(const QByteArray& file, bool gpsdo = false)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("nms.ini");
    EXPECT_TRUE(writeFile(path, file));
    return StoredElement::load(ElementStore(path), kMac, gpsdo);
}

const QByteArray kDecoder =
    "[0050C2A1B2C3]\r\nNAME=STUDIO 1        \r\nIP=10.0.0.5\r\nMASK=255.255.255.0\r\n"
    "GW=10.0.0.1\r\nINPUT=1\r\nTYPE=0\r\nTX=0\r\nMULTI=239.1.1.1\r\nROLE=2\r\nSN=77\r\n"
    "VER=3.1\r\nSFN=1\r\nBUF=22\r\nATT=200\r\nSDM=2\r\nSDL=154\r\nSDT=1\r\n";

} // namespace

TEST(StoredElement, EveryFieldOfASoundDecoderIsValidAndBecomesTheConfiguration)
{
    const StoredElement e = loadFrom(kDecoder);
    ASSERT_TRUE(e.exists());
    EXPECT_FALSE(e.corrupted());
    EXPECT_EQ(e.role(), Role::Decoder);
    EXPECT_EQ(e.remoteKey(), "multi");
    EXPECT_TRUE(e.invalidRequestFields().isEmpty());
    EXPECT_EQ(e.requestKeys().join(','), "ip,mask,gw,multi,input,type,tx,sfn,name,buf,sdm,sdl,sdt");
    const ElementConfig c = e.config();
    EXPECT_EQ(c.name, "STUDIO 1"); // read as every read of the store gives it, without the padding
    EXPECT_EQ(c.remote, "239.1.1.1");
    EXPECT_EQ(
        QList<int>({c.audioSource, c.audioType, c.txType, c.role, c.serial, c.versionMajor, c.versionMinor,
                    c.sfn, c.buffer, c.attenuation, c.silenceMode, c.silenceLevel, c.silenceTime}),
        QList<int>({1, 0, 0, 2, 77, 3, 1, 1, 22, 200, 2, 154, 1}));
}

TEST(StoredElement, EachFieldIsJudgedByItsOwnRule)
{
    struct Case
    {
        const char* line; // replaces the key's line in the decoder above ("" removes it)
        const char* key;
        FieldState state;
        const char* problem;
        bool gpsdo = false;
    };
    const Case cases[] = {
        {"BUF=99", "buf", FieldState::OutOfRange, "out of range (0 to 22)"},
        {"BUF=23", "buf", FieldState::OutOfRange, "out of range (0 to 22)"},
        {"BUF=23", "buf", FieldState::Valid, "", true},
        {"BUF=-1", "buf", FieldState::OutOfRange, "out of range (0 to 22)"},
        {"BUF=", "buf", FieldState::Missing, "missing"},
        {"BUF=1O", "buf", FieldState::NotANumber, "not a number (0 to 22)"},
        {"", "buf", FieldState::Valid, ""}, // absent: the default 1
        {"INPUT=abc", "input", FieldState::NotANumber, "not a number (0 to 1)"},
        {"INPUT=2", "input", FieldState::OutOfRange, "out of range (0 to 1)"},
        {"", "input", FieldState::Missing, "missing"},
        {" TX = 1 ", "tx", FieldState::Valid, ""},
        {"SDM=3", "sdm", FieldState::OutOfRange, "out of range (0 to 2)"},
        {"SDL=0", "sdl", FieldState::OutOfRange, "out of range (1 to 154)"},
        {"SDT=221", "sdt", FieldState::OutOfRange, "out of range (1 to 220)"},
        {"SFN=7", "sfn", FieldState::OutOfRange, "out of range (0 to 1)"},
        {"IP=10.0.0.256", "ip", FieldState::OutOfRange, "not an IPv4 address"},
        {"IP=10.0.0", "ip", FieldState::OutOfRange, "not an IPv4 address"},
        {"", "ip", FieldState::Missing, "missing"},
        {"MULTI=", "multi", FieldState::Missing, "missing"},
        {"", "multi", FieldState::Valid, ""}, // absent: the default group
        {"NAME=   ", "name", FieldState::Missing, "missing"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        QList<QByteArray> lines = kDecoder.split('\n');
        for (QByteArray& l : lines) {
            if (l.toUpper().startsWith(QByteArray(c.key).toUpper() + "="))
                l = c.line[0] ? QByteArray(c.line) + "\r" : QByteArray("\r");
        }
        const StoredElement e = loadFrom(lines.join('\n'), c.gpsdo);
        EXPECT_EQ(e.field(c.key).state, c.state);
        EXPECT_EQ(e.field(c.key).problem(), c.problem);
        const QList<StoredField> invalid = e.invalidRequestFields();
        EXPECT_EQ(invalid.size(), c.state == FieldState::Valid ? 0 : 1);
        if (!invalid.isEmpty()) {
            EXPECT_EQ(invalid[0].key, c.key);
        }
    }
}

TEST(StoredElement, AnEncoderKeepsItsRemoteAsItsTxTypeSaysAndCarriesNoDecoderField)
{
    struct Case
    {
        QByteArray file; // after the address and audio lines an encoder always has
        Role role;
        const char* remoteKey;
        const char* invalid;
    };
    const Case cases[] = {
        {"TX=0\nREMOTE=5.6.7.8\nROLE=1\nBUF=99\nSDM=x\n", Role::Encoder, "remote", ""},
        {"TX=1\nREMOTE=5.6.7.8\nMULTI=bad\nROLE=1\n", Role::Encoder, "multi", "multi"},
        // A role that is not a number is no known role: sent as an encoder is, 36 bytes.
        {"TX=0\nROLE=two\n", Role::Unknown, "remote", ""},
    };
    for (const Case& c : cases) {
        const StoredElement e = loadFrom(
            "[0050C2A1B2C3]\nNAME=E\nIP=1.2.3.4\nMASK=255.0.0.0\nGW=1.0.0.1\nINPUT=0\nTYPE=1\n" + c.file);
        EXPECT_EQ(e.role(), c.role);
        EXPECT_EQ(e.remoteKey(), c.remoteKey);
        QStringList invalid;
        for (const StoredField& f : e.invalidRequestFields())
            invalid << f.key;
        EXPECT_EQ(invalid.join(','), c.invalid);
    }
}

TEST(StoredElement, ASectionTooLongOrAbsentIsSaidSo)
{
    QByteArray longSection = "[0050C2A1B2C3]\n";
    for (int i = 0; i < 21; ++i)
        longSection += "K" + QByteArray::number(i) + "=1\n";
    EXPECT_TRUE(loadFrom(longSection).corrupted());
    EXPECT_EQ(loadFrom(longSection).lineCount(), 21);
    const StoredElement absent = loadFrom("[0050C2A1B2C4]\nNAME=X\n");
    EXPECT_FALSE(absent.exists());
    EXPECT_EQ(absent.field(keys::name).state, FieldState::Missing);
    EXPECT_TRUE(loadFrom("[0050c2a1b2c3]\n").exists()); // an empty section, named in lower case
}

TEST(StoredElement, OnlySectionsOfTwelveHexDigitsAreElements)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("nms.ini");
    ASSERT_TRUE(writeFile(path, "[GLOBALCONFIG]\nA=1\n[0050C2A1B2C3]\n[0050c2a1b2c]\n[0050C2A1B2CG]\n"
                                "[0050c2a1b2c4]\n[0050C2A1B2C30]\n"));
    EXPECT_EQ(ElementStore(path).elements(), QStringList({"00:50:C2:A1:B2:C3", "00:50:C2:A1:B2:C4"}));
    EXPECT_TRUE(ElementStore(dir.filePath("none.ini")).elements().isEmpty());
}
