#pragma once

#include "StandInElement.h"

#include "Fakes.h"
#include "TestUtil.h"
#include "measure/MeasureLink.h"
#include "platform/FatalError.h"
#include "store/ElementStore.h"
#include "store/IniFile.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QLabel>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

// A measurement window's world: a store in a temporary folder with one element at 127.0.0.2,
// scripted message boxes and settings, and a stand-in element on 127.0.0.2:2978. The window
// binds 127.0.0.1:2978.
class MeasureFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        storeElement({{"name", "STUDIO A"}, {"ip", "127.0.0.2"}, {"role", "2"}, {"sfn", "1"}});
        ASSERT_TRUE(element.bind()) << "127.0.0.2:2978 is not free";
    }

    void storeElement(std::initializer_list<std::pair<const char*, const char*>> entries)
    {
        for (const auto& [key, value] : entries)
            ASSERT_TRUE(
                vexo::WriteToINI(section, QString::fromLatin1(key), QString::fromLatin1(value), storePath()));
    }
    void setKey(const char* key, const char* value)
    {
        ASSERT_TRUE(
            vexo::WriteToINI(section, QString::fromLatin1(key), QString::fromLatin1(value), storePath()));
    }
    QString storedKey(const char* key) const
    {
        return vexo::ReadFromINI(section, QString::fromLatin1(key), storePath(), QStringLiteral("<absent>"));
    }

    QString storePath() const { return dir.filePath(QStringLiteral("nms.ini")); }

    vexo::MeasureContext context()
    {
        return vexo::MeasureContext{store,
                                    boxes,
                                    settings,
                                    fatal,
                                    [this] { return mac; },
                                    [this] { return role; },
                                    QHostAddress(QStringLiteral("127.0.0.1"))};
    }

    template <typename T> T* child(QObject& window, const char* name)
    {
        T* c = window.findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(c, nullptr) << name;
        return c;
    }
    QString text(QObject& window, const char* label) { return child<QLabel>(window, label)->text(); }

    // Clicks where the operator would: on the check box's indicator.
    static void clickCheckBox(QCheckBox* box)
    {
        QStyleOptionButton option;
        option.initFrom(box);
        const QRect r = box->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, box);
        QTest::mouseClick(box, Qt::LeftButton, Qt::NoModifier, r.center());
    }

    QTemporaryDir dir;
    vexo::ElementStore store{dir.filePath(QStringLiteral("nms.ini"))};
    const QString mac = QStringLiteral("00:50:C2:A1:B2:C3");
    const QString section = QStringLiteral("0050C2A1B2C3");
    QString role = QStringLiteral("DECODER");
    FakeMessageBoxes boxes;
    FakeSettings settings;
    FakeProgramEnd end;
    vexo::FatalError fatal{boxes, end};
    StandInElement element;
};
