#include "PagingWindow.h"

#include "Accessibility.h"
#include "link/ConfigCodec.h"
#include "link/ConfigLink.h"
#include "link/ReplyHandler.h"
#include "platform/MessageBoxes.h"
#include "store/ElementStore.h"

#include <QCheckBox>
#include <QDateTime>
#include <QFile>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QTimer>
#include <QVBoxLayout>

namespace vexo {

PagingWindow::PagingWindow(DiscoveryContext context, QWidget* parent)
    : QDialog(parent), m_ctx(std::move(context))
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
    progress->setRange(0, kWaitMs);
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

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(kWaitMs);
    Timer1->setSingleShot(false);
    // A coarse timer may fire up to 5 % early: the elements get their full three seconds.
    Timer1->setTimerType(Qt::PreciseTimer);
    connect(Timer1, &QTimer::timeout, this, &PagingWindow::onTimer1);

    m_progressTimer = new QTimer(this);
    m_progressTimer->setInterval(100);
    connect(m_progressTimer, &QTimer::timeout, this, &PagingWindow::updateProgress);
}

PagingWindow::~PagingWindow()
{
    // Whatever closed the window, the station must not stay in discovery.
    if (m_started && !m_finished)
        finish();
}

void PagingWindow::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!m_started)
        begin();
}

void PagingWindow::begin()
{
    m_started = true;
    m_ctx.chkGetVolume->setChecked(false);
    m_ctx.emptyElementList();

    const QString path = m_ctx.store.path();
    if (QFile::exists(path))
        QFile::remove(path);
    QFile fresh(path);
    if (!fresh.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        m_ctx.boxes.critical(kAppTitle, QStringLiteral("The local database in your computer could not be "
                                                       "created.\rNo element can be stored."));
    }
    fresh.close();

    m_savedPort = m_ctx.link.remotePort();
    m_savedHost = m_ctx.link.remoteHost();
    m_ctx.link.setRemote(QStringLiteral("255.255.255.255"), kPagingPort);
    m_ctx.handler.resetDiscoveredCount();
    Timer1->start();
    m_startedAtMs = QDateTime::currentMSecsSinceEpoch();
    m_progressTimer->start();
    m_ctx.link.AutoDiscoverAwaiting = true;
    m_ctx.link.sendPaging();
}

void PagingWindow::updateProgress()
{
    const qint64 elapsed = QDateTime::currentMSecsSinceEpoch() - m_startedAtMs;
    progress->setValue(int(std::min<qint64>(elapsed, kWaitMs)));
    lblAnswered->setText(QStringLiteral("Elements answered: %1").arg(m_ctx.handler.discoveredCount()));
}

void PagingWindow::onTimer1()
{
    Timer1->stop();
    finish();
}

void PagingWindow::reject()
{
    if (m_started && !m_finished)
        finish();
    QDialog::reject();
}

void PagingWindow::finish()
{
    m_finished = true;
    Timer1->stop();
    m_ctx.link.setRemote(m_savedHost, m_savedPort);
    m_ctx.link.AutoDiscoverAwaiting = false;
    // Replies that arrived in time but still wait in the queue are discovery replies all the
    // same; the tree is rebuilt once the last of them is stored.
    ConfigLink& link = m_ctx.link;
    auto loadConfig = m_ctx.loadConfig;
    if (link.queuedReplies() == 0 && !link.isDispatching()) {
        m_progressTimer->stop();
        updateProgress();
        loadConfig();
        accept();
        return;
    }
    Label1->setText(QStringLiteral("Storing the elements that answered..."));
    QPointer<PagingWindow> self(this);
    auto connection = std::make_shared<QMetaObject::Connection>();
    *connection = QObject::connect(&link, &ConfigLink::replyQueueIdle, &link, [self, connection, loadConfig] {
        QObject::disconnect(*connection);
        if (self) {
            self->m_progressTimer->stop();
            self->updateProgress();
        }
        loadConfig();
        if (self && self->isVisible())
            self->accept();
    });
}

void Discovery::autoDiscovery(QWidget* parent)
{
    const bool yes = m_ctx.boxes.askYesNo(
        QStringLiteral("Auto Discovery"),
        QStringLiteral("Performing an 'Auto Discovery' will delete the local database in your computer\rand "
                       "create a new "
                       "one, based on the Network Elements found (if any). \rAre you sure?"));
    if (!yes)
        return;
    m_ctx.clearElementProperties();
    m_ctx.emptyElementList();
    PagingWindow paging(m_ctx, parent);
    paging.exec();
}

} // namespace vexo
