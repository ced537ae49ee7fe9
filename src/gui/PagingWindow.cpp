#include "PagingWindow.h"

#include "Accessibility.h"
#include "discovery/Discovery.h"

#include <QDateTime>
#include <QLabel>
#include <QProgressBar>
#include <QTimer>
#include <QVBoxLayout>

namespace vexo {

PagingWindow::PagingWindow(Discovery& discovery, QWidget* parent)
    : QDialog(parent), Timer1(discovery.timer()), m_discovery(discovery)
{
    setObjectName(QStringLiteral("frmPaging"));
    a11y::install();
    setWindowTitle(QStringLiteral("Paging network..."));
    setModal(true);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    Label1 = new QLabel(QStringLiteral("Please wait a few seconds while paging the network..."), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    progress = new QProgressBar(this);
    progress->setObjectName(QStringLiteral("progress"));
    progress->setRange(0, Discovery::kWaitMs);
    progress->setValue(0);
    progress->setTextVisible(false);
    progress->setAccessibleName(QStringLiteral("Paging progress"));
    lblAnswered = new QLabel(QStringLiteral("Elements answered: 0"), this);
    lblAnswered->setObjectName(QStringLiteral("lblAnswered"));

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Label1);
    layout->addWidget(progress);
    layout->addWidget(lblAnswered);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    m_progressTimer = new QTimer(this);
    m_progressTimer->setInterval(100);
    connect(m_progressTimer, &QTimer::timeout, this, &PagingWindow::updateProgress);
    connect(&m_discovery, &Discovery::progress, this, [this](int stored) {
        lblAnswered->setText(QStringLiteral("Elements answered: %1").arg(stored));
    });
    connect(&m_discovery, &Discovery::awaitingEnded, this, [this] {
        if (m_discovery.isRunning())
            Label1->setText(QStringLiteral("Storing the elements that answered..."));
    });
    connect(&m_discovery, &Discovery::finished, this, [this] {
        m_progressTimer->stop();
        updateProgress();
        if (isVisible())
            accept();
    });
}

PagingWindow::~PagingWindow()
{
    // Whatever closed the window, the station must not stay in discovery.
    if (m_started)
        m_discovery.finish();
}

void PagingWindow::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (m_started)
        return;
    m_started = true;
    m_startedAtMs = QDateTime::currentMSecsSinceEpoch();
    m_progressTimer->start();
    m_discovery.start();
}

void PagingWindow::updateProgress()
{
    const qint64 elapsed = QDateTime::currentMSecsSinceEpoch() - m_startedAtMs;
    progress->setValue(int(std::min<qint64>(elapsed, Discovery::kWaitMs)));
    lblAnswered->setText(QStringLiteral("Elements answered: %1").arg(m_discovery.answered()));
}

void PagingWindow::reject()
{
    if (m_started)
        m_discovery.finish();
    QDialog::reject();
}

} // namespace vexo
