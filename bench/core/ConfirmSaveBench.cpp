// A confirmed configuration stored in a store of 1000 elements: the reply handler's one write of
// the section, against the same keys written one replacement of the file each (as the station
// stored a confirmation before). Each replacement is durable (fsync), so the figures depend on the
// disk: run it where the station's store lives.  ./bench_confirm_save [runs]
#include "../link/PrintedServices.h"
#include "link/ConfigCodec.h"
#include "link/ConfigLink.h"
#include "link/ReplyHandler.h"
#include "platform/FatalError.h"
#include "store/ElementStore.h"
#include "store/IniFile.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace vexo;

namespace {

constexpr int kElements = 1000;

ElementConfig element(int i)
{
    ElementConfig r;
    r.ip = QStringLiteral("10.0.%1.%2").arg(i / 200).arg(i % 200 + 1);
    r.mask = QStringLiteral("255.255.0.0");
    r.gateway = QStringLiteral("10.0.0.1");
    r.remote = QStringLiteral("239.1.1.1");
    r.name = QStringLiteral("ELEMENT %1").arg(i);
    r.role = 2, r.serial = 1000 + i, r.versionMajor = 3, r.versionMinor = 2, r.buffer = 4;
    r.attenuation = 200, r.silenceLevel = 37, r.silenceTime = 43;
    r.mac = QStringLiteral("00:50:C2:00:%1:%2")
                .arg(i / 256, 2, 16, QLatin1Char('0'))
                .arg(i % 256, 2, 16, QLatin1Char('0'))
                .toUpper();
    return r;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 20;
    QTemporaryDir dir;
    const ElementStore store(dir.filePath(QStringLiteral("nms.ini")));
    QList<QPair<QString, QList<QPair<QString, QString>>>> sections;
    for (int i = 0; i < kElements; ++i)
        sections.append({encodeMac(element(i).mac), discoveredSectionValues(element(i))});
    if (!writeSectionsToIni(sections, store.path())) {
        std::fprintf(stderr, "cannot write the store in %s\n", qPrintable(dir.path()));
        return 1;
    }
    const ElementConfig target = element(kElements / 2);

    PrintedBoxes boxes;
    PrintedEnd end;
    FatalError fatal(boxes, end);
    ConfigLink link(fatal);
    ReplyHandler handler(
        link, store, [&](const QString&, QString& mac) { return mac = target.mac, true; }, ValueRanges{});
    bool confirmed = false;
    QObject::connect(&handler, &ReplyHandler::confirmation, [&](const ConfigureOutcome& o) {
        confirmed = o.result == ConfigureOutcome::Result::Confirmed;
    });
    handler.setExpectation(target.mac, target);
    link.setReplyHandler([&](const QueuedReply& r) { handler.handleConfigReply(r); });

    std::vector<double> oneWrite, keyByKey;
    int writes = 0;
    for (int run = 0; run < runs; ++run) {
        QElapsedTimer clock;
        clock.start();
        confirmed = false;
        handler.handleConfigReply(QueuedReply{buildConfigReply(target), false, quint64(run + 1)});
        oneWrite.push_back(clock.nsecsElapsed() / 1e6);
        if (!confirmed) {
            std::fprintf(stderr, "the confirmation was not stored\n");
            return 1;
        }
        // The same keys, one replacement of the file each.
        const QList<QPair<QString, QString>> keys = {{"name", target.name},
                                                     {"ip", target.ip},
                                                     {"mask", target.mask},
                                                     {"gw", target.gateway},
                                                     {"input", "0"},
                                                     {"type", "0"},
                                                     {"tx", "0"},
                                                     {"role", "2"},
                                                     {"multi", target.remote},
                                                     {"sn", QString::number(target.serial)},
                                                     {"ver", "3.2"},
                                                     {"att", "200"},
                                                     {"buf", "4"},
                                                     {"sfn", "0"},
                                                     {"sdm", "0"},
                                                     {"sdl", "37"},
                                                     {"sdt", "43"}};
        writes = int(keys.size());
        clock.restart();
        for (const auto& [key, value] : keys)
            store.write(target.mac, key, value);
        keyByKey.push_back(clock.nsecsElapsed() / 1e6);
    }
    std::printf("confirmed save, store of %d elements (%lld bytes), median of %d runs:\n", kElements,
                qlonglong(QFileInfo(store.path()).size()), runs);
    std::printf("  key by key (%d replacements of the file): %8.2f ms\n", writes, median(keyByKey));
    std::printf("  one write of the section (reply handler):  %8.2f ms\n", median(oneWrite));
    return 0;
}
