#pragma once

#include "StandInElement.h"

#include "Fakes.h"
#include "TestUtil.h"
#include "measure/MeasureSession.h"
#include "platform/FatalError.h"
#include "store/ElementStore.h"
#include "store/IniFile.h"
#include "store/SelectedElement.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

// A measurement session's world: a store in a temporary folder with one SFN decoder at
// 127.0.0.2, selected; scripted message boxes and settings; a stand-in element on
// 127.0.0.2:2978. The station binds 127.0.0.1:2978.
class MeasureFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        for (const auto& [key, value] :
             {std::pair{"name", "STUDIO A"}, {"ip", "127.0.0.2"}, {"role", "2"}, {"sfn", "1"}})
            setKey(key, value);
        selected.select(QStringLiteral("00:50:C2:A1:B2:C3"));
        selected.setRoleCaption(QStringLiteral("DECODER"));
        ASSERT_TRUE(element.bind()) << "127.0.0.2:2978 is not free";
    }

    void setKey(const char* key, const char* value)
    {
        ASSERT_TRUE(
            vexo::writeToIni(section, QString::fromLatin1(key), QString::fromLatin1(value), storePath()));
    }
    QString storedKey(const char* key) const
    {
        return vexo::readFromIni(section, QString::fromLatin1(key), storePath(), QStringLiteral("<absent>"));
    }
    QString storePath() const { return dir.filePath(QStringLiteral("nms.ini")); }

    // A fatal error ends the program once: a test that makes it fail again passes its own.
    vexo::MeasureServices services(vexo::FatalError* fatalError = nullptr)
    {
        return vexo::MeasureServices{store,
                                     selected,
                                     boxes,
                                     settings,
                                     fatalError ? *fatalError : fatal,
                                     QHostAddress(QStringLiteral("127.0.0.1"))};
    }

    QTemporaryDir dir;
    vexo::ElementStore store{dir.filePath(QStringLiteral("nms.ini"))};
    vexo::SelectedElement selected{store};
    const QString section = QStringLiteral("0050C2A1B2C3");
    FakeMessageBoxes boxes;
    FakeSettings settings;
    FakeProgramEnd end;
    vexo::FatalError fatal{boxes, end};
    StandInElement element;
};
