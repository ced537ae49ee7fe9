#pragma once

#include "platform/Arp.h"
#include "platform/Icmp.h"
#include "platform/MessageBoxes.h"
#include "platform/NetworkInterfaces.h"
#include "platform/ProgramEnd.h"
#include "platform/UserSettings.h"

#include <QHash>
#include <QList>
#include <QMap>
#include <QNetworkInterface>
#include <QSemaphore>
#include <QStringList>

#include <atomic>
#include <functional>

namespace vexo {
struct StationServices;
}

// Records every box and answers from a queue; an empty queue gives the box's default button.
class FakeMessageBoxes : public vexo::MessageBoxes
{
public:
    vexo::MsgAnswer show(const vexo::MessageBoxRequest& request) override
    {
        shown << request;
        if (onShow)
            onShow(request);
        if (request.buttons == vexo::MsgButtons::Ok || answers.isEmpty())
            return request.buttons == vexo::MsgButtons::Ok ? vexo::MsgAnswer::Ok : request.defaultButton;
        return answers.takeFirst();
    }

    QList<vexo::MessageBoxRequest> shown;
    QList<vexo::MsgAnswer> answers;
    // Runs while a box is "open", e.g. to let events through as a real modal box does.
    std::function<void(const vexo::MessageBoxRequest&)> onShow;

    QStringList texts() const
    {
        QStringList list;
        for (const auto& r : shown)
            list << r.text;
        return list;
    }
    void clear() { shown.clear(); }
};

class FakeSettings : public vexo::UserSettings
{
public:
    QString value(const QString& k, const QString& orElse) const override { return values.value(k, orElse); }
    void setValue(const QString& key, const QString& value) override
    {
        values[key] = value;
        ++writes;
    }
    QMap<QString, QString> values;
    int writes = 0;
};

class FakeProgramEnd : public vexo::ProgramEnd
{
public:
    void end(int exitCode) override { codes << exitCode; }
    QList<int> codes;
};

class FakeArp : public vexo::Arp
{
public:
    bool resolve(quint32 ipv4, QByteArray& hw) override
    {
        ++calls;
        hw = table.value(ipv4, hw);
        return table.contains(ipv4);
    }
    // Counted apart: the station's identification must never use the waiting lookup.
    bool resolveNow(quint32 ipv4, QByteArray& hw) override
    {
        ++nowCalls;
        hw = table.value(ipv4, hw);
        return table.contains(ipv4);
    }
    QHash<quint32, QByteArray> table;
    int calls = 0;
    int nowCalls = 0;
};

// Answers every echo with `reply`; the last echo's address is kept (read once it is over).
class FakeIcmp : public vexo::Icmp
{
public:
    bool startup() override { return startupOk; }
    void cleanup() override {}
    Reply echo(quint32 ipv4, const QByteArray&, int) override
    {
        if (QSemaphore* g = gate.load())
            g->acquire();
        echoedTo = ipv4;
        return reply;
    }
    std::atomic<bool> startupOk{true};
    std::atomic<QSemaphore*> gate{nullptr}; // when set, each echo waits for one release
    Reply reply{0, 1};
    std::atomic<quint32> echoedTo{0};
};

// The network cards discovery sees. Loopback stands in for a card in the tests that page
// 127.0.0.x: nothing leaves the machine.
class FakeInterfaces : public vexo::NetworkInterfaces
{
public:
    QList<vexo::PagingInterface> pagingInterfaces() const override { return list; }
    static vexo::PagingInterface loopback()
    {
        return {QStringLiteral("lo"), QNetworkInterface::interfaceIndexFromName(QStringLiteral("lo")),
                QHostAddress(QHostAddress::LocalHost)};
    }
    QList<vexo::PagingInterface> list{loopback()};
};

// The machine a station runs on, every service a fake. stationServices() gives them to a Station (the
// caller includes core/Station.h; this header stays below core).
struct FakeMachine
{
    FakeMessageBoxes boxes;
    FakeSettings settings;
    FakeProgramEnd end;
    FakeArp arp;
    FakeIcmp icmp;

    template <typename Services = vexo::StationServices>
    Services stationServices(const QString& storePath, const QHostAddress& bind = QHostAddress::LocalHost)
    {
        return Services{boxes, settings, end, arp, icmp, storePath, bind};
    }
};
