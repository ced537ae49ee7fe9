#pragma once

#include "platform/SendProblem.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <optional>

class QTimer;

namespace vexo {

class ConfigLink;

// How one level reading of an element ended.
struct LevelOutcome
{
    enum class Result
    {
        Reading,    // the element sent its level reply: peak holds its largest positive sample
        NoAnswer,   // no level reply from the element's address within the answer time
        SendFailed, // the level request did not leave (problem)
        NotStored,  // the store holds no element of that MAC
        NotEncoder, // the element is stored, but not as an encoder: only encoders send levels
    };
    Result result = Result::NoAnswer;
    QString mac;
    qint32 peak = 0; // 0: silence (no positive sample)
    SendProblem problem;

    // The peak in dBFS; none for silence.
    std::optional<double> dbfs() const;
};

// One level request awaiting its reply. The first level reply from the element's address that
// no earlier reading of the same element is waiting for completes it; the end of the answer time
// completes it with NoAnswer. `done` runs once; the reading is deleted after it.
class LevelReading : public QObject
{
    Q_OBJECT
public:
    using Done = std::function<void(const LevelOutcome&)>;

    LevelReading(ConfigLink& link, QString mac, QString ip, Done done, QObject* parent);

    // Asks again while the reply is awaited (a request or reply lost on the way).
    void resend();
    bool isFinished() const { return m_finished; }
    quint32 address() const { return m_address; }

    void finish(LevelOutcome outcome);
    // Ends it without an outcome: its caller is no longer interested (a poll that ended).
    void cancel();

private:
    friend class LevelReadings;
    SendProblem send();

    ConfigLink& m_link;
    QString m_mac;
    QString m_ip;
    quint32 m_address = 0;
    Done m_done;
    qint64 m_deadline = 0; // on the clock of its LevelReadings, in ms
    bool m_finished = false;
    bool m_deleteLater = true; // false where its reply completes it: deleted at once
};

// The level readings under way over the configuration socket: every 1440-byte reply the socket
// takes is handed to the oldest reading waiting for its sender's address; a reply that none
// waits for is dropped. One timer ends the readings whose answer time is over: at twenty readings
// a second, a timer of each reading's own would cost more than the reading.
class LevelReadings : public QObject
{
    Q_OBJECT
public:
    explicit LevelReadings(ConfigLink& link, QObject* parent = nullptr);

    // Sends the level request to port 2977 of the dotted `ip`. A request that cannot leave ends
    // the reading at once (SendFailed).
    LevelReading* start(const QString& mac, const QString& ip, LevelReading::Done done, int answerMs);
    int waiting() const;

private:
    void onLevelReply(const QByteArray& datagram, const QHostAddress& sender);
    // Ends the readings whose answer time is over and waits for the next end.
    void endOverdue();
    void waitUntil(qint64 deadline);

    ConfigLink& m_link;
    QHash<quint32, QList<QPointer<LevelReading>>> m_waiting;
    QElapsedTimer m_clock;
    QTimer* m_answerTime;
    qint64 m_nextDeadline = 0; // while m_answerTime runs
};

} // namespace vexo
