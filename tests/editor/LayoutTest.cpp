// The panel's arrangement on screen: nothing clipped, nothing overlapping, texts that fit, and
// pictures of the three arrangements for a person to look at.
#include "PanelFixture.h"

#include <QAbstractItemView>
#include <QDir>
#include <QFontMetrics>
#include <QImage>

using namespace vexo;

class Layout : public PanelFixture
{
protected:
    // Visible direct children of the panel, with their geometry.
    QList<QWidget*> visibleChildren() const
    {
        QList<QWidget*> list;
        for (QWidget* w : panel->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
            if (!w->isHidden())
                list << w;
        }
        return list;
    }

    void expectNeat(const char* arrangement)
    {
        SCOPED_TRACE(arrangement);
        const QRect inside = panel->contentsRect();
        const QList<QWidget*> widgets = visibleChildren();
        for (QWidget* w : widgets) {
            EXPECT_TRUE(inside.contains(w->geometry())) << w->objectName().toStdString();
            if (auto* label = qobject_cast<QLabel*>(w)) {
                const int needed = QFontMetrics(label->font()).horizontalAdvance(label->text());
                EXPECT_LE(needed, label->width())
                    << "text cut: '" << label->text().toStdString() << "' " << w->objectName().toStdString();
            }
        }
        for (int i = 0; i < widgets.size(); ++i) {
            for (int j = i + 1; j < widgets.size(); ++j) {
                // The bracket lines meet each other at their corners.
                if (widgets[i]->objectName().startsWith("Line") &&
                    widgets[j]->objectName().startsWith("Line"))
                    continue;
                EXPECT_FALSE(widgets[i]->geometry().intersects(widgets[j]->geometry()))
                    << widgets[i]->objectName().toStdString() << " overlaps "
                    << widgets[j]->objectName().toStdString() << " ('"
                    << (qobject_cast<QLabel*>(widgets[i])
                            ? qobject_cast<QLabel*>(widgets[i])->text().toStdString()
                            : "")
                    << "')";
            }
        }
        // The lists show their longest entry; the encoder list shows it in its drop-down.
        for (QComboBox* c : panel->findChildren<QComboBox*>()) {
            if (c == panel->cmbEncoders)
                continue;
            EXPECT_LE(c->sizeHint().width(), c->width()) << c->objectName().toStdString();
        }
        for (int k = 0; k < panel->cmbEncoders->count(); ++k) {
            EXPECT_LE(panel->cmbEncoders->fontMetrics().horizontalAdvance(panel->cmbEncoders->itemText(k)),
                      panel->cmbEncoders->view()->minimumWidth());
        }
        for (QAbstractButton* b : {static_cast<QAbstractButton*>(panel->cmdAdjust),
                                   static_cast<QAbstractButton*>(panel->chkSFNEnabled)})
            EXPECT_LE(b->fontMetrics().horizontalAdvance(b->text()) + 12, b->width())
                << b->text().toStdString();
    }

    // Saved for people to look at when VEXO_SCREENSHOT_DIR names a folder.
    void picture(const QString& name)
    {
        const QImage image = panel->grab().toImage();
        ASSERT_EQ(image.size(), QSize(433, 265));
        const QString folder = qEnvironmentVariable("VEXO_SCREENSHOT_DIR");
        if (!folder.isEmpty()) {
            ASSERT_TRUE(image.save(QDir(folder).filePath(name)));
        }
    }
};

TEST_F(Layout, VlanCaptionShowsOneAmpersand)
{
    QLabel* vlan = nullptr;
    for (QLabel* l : panel->findChildren<QLabel*>()) {
        if (l->text().startsWith(QStringLiteral("VLAN")))
            vlan = l;
    }
    ASSERT_NE(vlan, nullptr);
    // With its field as buddy the label reads "&&" as one ampersand and marks no access key.
    EXPECT_EQ(vlan->text(), QStringLiteral("VLAN O&&M:"));
    EXPECT_EQ(vlan->buddy(), panel->txtVLAN_OM);
}

TEST_F(Layout, CaptionsOfTheRows)
{
    QStringList captions;
    for (QLabel* l : panel->findChildren<QLabel*>(QString(), Qt::FindDirectChildrenOnly))
        captions << l->text();
    for (const char* c :
         {"System type:", "MAC address:", "DSP version:", "Serial number:", "System name:", "Audio type:",
          "System IP:", "Gateway IP:", "TX type:", "Network mask:", "Audio:", "Bounded to:", "SFN option:",
          "Buffer size:", "Audio routing:", "Threshold:", "Timeout:"})
        EXPECT_TRUE(captions.contains(QString::fromLatin1(c))) << c;
}

TEST_F(Layout, EncoderDecoderAndClearedArrangementsAreNeat)
{
    showActive();
    panel->cmbEncoders->addItem(QStringLiteral("STUDIO A [00:50:C2:00:00:01]"));
    expectNeat("initial");
    loadEncoder(QStringLiteral("1"), {QStringLiteral("MULTI=239.255.255.239"), QStringLiteral("SFN=1")});
    expectNeat("encoder");
    picture(QStringLiteral("panel-encoder.png"));
    writeStore(sectionText(kDecoderMac,
                           {QStringLiteral("NAME=TX SITE B"), QStringLiteral("IP=192.168.100.200"),
                            QStringLiteral("MASK=255.255.255.0"), QStringLiteral("GW=192.168.100.254"),
                            QStringLiteral("TYPE=1"), QStringLiteral("MULTI=239.255.255.239"),
                            QStringLiteral("ROLE=2"), QStringLiteral("SN=-2147483648"),
                            QStringLiteral("VER=255.255"), QStringLiteral("SFN=1"), QStringLiteral("BUF=21"),
                            QStringLiteral("ATT=135"), QStringLiteral("SDM=2"), QStringLiteral("SDL=1"),
                            QStringLiteral("SDT=220"), QStringLiteral("BOUND=1")}));
    panel->loadElement(QStringLiteral("TX SITE B"), kDecoderMac);
    expectNeat("decoder");
    // The widest value texts fit as well.
    panel->scrlAtten->setValue(15);
    panel->scrlSilDetLevel->setValue(1);
    expectNeat("decoder, widest values");
    panel->scrlAtten->setValue(135);
    picture(QStringLiteral("panel-decoder.png"));
    panel->clearElementProperties();
    expectNeat("cleared");
    picture(QStringLiteral("panel-cleared.png"));
}
