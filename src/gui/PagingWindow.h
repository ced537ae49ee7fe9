#pragma once

#include <QDialog>
#include <QString>

#include <functional>

class QCheckBox;
class QLabel;
class QProgressBar;
class QTimer;

namespace vexo {

class ConfigLink;
class ElementStore;
class MessageBoxes;
class ReplyHandler;

struct DiscoveryContext
{
    ConfigLink& link;
    const ElementStore& store;
    MessageBoxes& boxes;
    ReplyHandler& handler;
    QCheckBox* chkGetVolume;
    std::function<void()> clearElementProperties;
    // Empties the work list, the tree and the encoder list, blanks the level bar and sets the
    // tree caption: the main window shows no element while the store is rebuilt.
    std::function<void()> emptyElementList;
    std::function<void()> loadConfig;
};

// The small window shown while the network is paged. It runs the discovery from its opening
// to its end: 3000 ms after the paging request, or at once when the operator closes it.
class PagingWindow : public QDialog
{
    Q_OBJECT
public:
    static constexpr int kWaitMs = 3000;

    PagingWindow(DiscoveryContext context, QWidget* parent = nullptr);
    ~PagingWindow() override;

    QLabel* Label1;
    QTimer* Timer1;
    QProgressBar* progress;
    QLabel* lblAnswered;

    bool started() const { return m_started; }

protected:
    void showEvent(QShowEvent* event) override;
    void reject() override; // the window's close control and Escape end the discovery early

private:
    void begin();
    void finish();
    void onTimer1();
    void updateProgress();

    DiscoveryContext m_ctx;
    QTimer* m_progressTimer;
    QString m_savedHost;
    quint16 m_savedPort = 0;
    bool m_started = false;
    bool m_finished = false;
    qint64 m_startedAtMs = 0;
};

// "Discover elements": asks, then rebuilds the store from the elements that answer.
class Discovery
{
public:
    explicit Discovery(DiscoveryContext context) : m_ctx(std::move(context)) {}
    void autoDiscovery(QWidget* parent);

private:
    DiscoveryContext m_ctx;
};

} // namespace vexo
