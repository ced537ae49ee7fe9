#include "DisclaimerDialog.h"

#include "Accessibility.h"
#include "Pictures.h"
#include "platform/UserSettings.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace vexo {

const QString DisclaimerDialog::kSupportAddress = QStringLiteral("support@korvanta.example");

DisclaimerDialog::DisclaimerDialog(UserSettings& settings, QWidget* parent)
    : QDialog(parent), m_settings(settings)
{
    setObjectName(QStringLiteral("frmDisclaimer"));
    a11y::install();
    setWindowTitle(QStringLiteral("Vexolink NMS"));
    setModal(true);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    Label1 = new QLabel(QStringLiteral("IMPORTANT NOTICE!"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    QFont big = Label1->font();
    big.setBold(true);
    big.setPointSizeF(big.pointSizeF() * 1.4);
    Label1->setFont(big);
    Label1->setAlignment(Qt::AlignCenter);

    Label2 = new QLabel(
        QStringLiteral("Since NMS version 3.4.2, we made many significant changes. DO NOT use NMS v.3.4.2 "
                       "to manage Vexolink equipment with older firmware, or they will become unusable."),
        this);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->setWordWrap(true);

    Label3 = new QLabel(
        QStringLiteral("If you are not sure which version your Vexolink equipment has, please consult "
                       "your local dealer, or contact our support    at ") +
            kSupportAddress,
        this);
    Label3->setObjectName(QStringLiteral("Label3"));
    Label3->setWordWrap(true);
    Label3->setTextInteractionFlags(Qt::TextSelectableByMouse);

    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setPixmap(noticePicture(devicePixelRatioF()));
    Image1->setFixedSize(420, 373);

    chkAgree = new QCheckBox(
        QStringLiteral("I have read and understood all the above. Do not show this notification again."),
        this);
    chkAgree->setObjectName(QStringLiteral("chkAgree"));
    chkAgree->setChecked(false);

    cmdClose = new QPushButton(QStringLiteral("&Close"), this);
    cmdClose->setObjectName(QStringLiteral("cmdClose"));
    cmdClose->setDefault(true);
    cmdClose->setAutoDefault(true);

    // Every click saves at once, so the last state wins whatever way the dialog is closed.
    connect(chkAgree, &QCheckBox::clicked, this, [this](bool checked) {
        m_settings.setValue(QStringLiteral("EULA1"), checked ? QStringLiteral("1") : QStringLiteral("0"));
    });
    connect(cmdClose, &QPushButton::clicked, this, &QDialog::accept);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Label1);
    layout->addWidget(Label2);
    layout->addWidget(Label3);
    layout->addWidget(Image1, 0, Qt::AlignCenter);
    layout->addWidget(chkAgree);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cmdClose);
    layout->addLayout(buttons);
    // The check box cannot wrap: the dialog is as wide as its caption needs, the texts wrap
    // within that width, and the dialog takes the height they need.
    const int width = std::max(420, chkAgree->sizeHint().width());
    for (QLabel* label : {Label1, Label2, Label3})
        label->setFixedWidth(width);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    // Escape rejects the dialog, which closes it like the Close button: nothing else is at stake.
}

} // namespace vexo
