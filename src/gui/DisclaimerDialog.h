#pragma once

#include <QDialog>

class QCheckBox;
class QLabel;
class QPushButton;

namespace vexo {

class UserSettings;

// The notice shown at start-up until the operator has acknowledged it once.
class DisclaimerDialog : public QDialog
{
    Q_OBJECT
public:
    explicit DisclaimerDialog(UserSettings& settings, QWidget* parent = nullptr);

    QLabel* Label1;
    QLabel* Label2;
    QLabel* Label3;
    QLabel* Image1;
    QCheckBox* chkAgree;
    QPushButton* cmdClose;

    static const QString kSupportAddress;

private:
    UserSettings& m_settings;
};

} // namespace vexo
