#pragma once

#include <QDialog>

class QLabel;
class QProgressBar;
class QTimer;

namespace vexo {

class Discovery;

// The small window shown while the network is paged. It starts the discovery when it opens and
// closes when the discovery has ended: after the wait, or at once when the operator closes it.
class PagingWindow : public QDialog
{
    Q_OBJECT
public:
    explicit PagingWindow(Discovery& discovery, QWidget* parent = nullptr);
    ~PagingWindow() override;

    QLabel* Label1;
    QTimer* Timer1; // the discovery's wait
    QProgressBar* progress;
    QLabel* lblAnswered;

    bool started() const { return m_started; }

protected:
    void showEvent(QShowEvent* event) override;
    void reject() override; // the window's close control and Escape end the discovery early

private:
    void updateProgress();

    Discovery& m_discovery;
    QTimer* m_progressTimer;
    bool m_started = false;
    qint64 m_startedAtMs = 0;
};

} // namespace vexo
