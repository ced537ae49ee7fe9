// What the journal costs: an entry's write, a query of one element among 100,000 entries, and
// the bytes a configuration entry adds to the file.
//   bench_journal [ENTRIES] [ELEMENTS]     (default 100000 entries over 50 elements)
#include "editor/StoredElement.h"
#include "journal/Journal.h"
#include "journal/Recorders.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

using namespace vexo;

namespace {

QString macOf(int i)
{
    return QStringLiteral("00:50:C2:77:%1:%2")
        .arg((i >> 8) & 0xFF, 2, 16, QLatin1Char('0'))
        .arg(i & 0xFF, 2, 16, QLatin1Char('0'))
        .toUpper();
}

// The file and its write-ahead log: what the journal takes on disk.
qint64 diskBytes(const QString& path)
{
    return QFileInfo(path).size() + QFileInfo(path + QStringLiteral("-wal")).size();
}

double median(QList<double> v)
{
    std::sort(v.begin(), v.end());
    return v.isEmpty() ? 0 : v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int total = argc > 1 ? std::atoi(argv[1]) : 100000;
    const int elements = argc > 2 ? std::atoi(argv[2]) : 50;
    QTemporaryDir dir;
    const QString store = dir.filePath(QStringLiteral("nms.ini"));
    QFile file(store);
    if (!file.open(QIODevice::WriteOnly))
        return 1;
    for (int i = 0; i < elements; ++i)
        file.write(
            QStringLiteral("[%1]\nNAME=DECODER %2\nIP=10.77.%3.%4\nMASK=255.255.0.0\nGW=10.77.0.1\nINPUT=0\n"
                           "TYPE=0\nTX=1\nMULTI=239.1.1.1\nROLE=2\nSN=%2\nVER=3.2\nSFN=1\nBUF=4\nATT=200\n"
                           "SDM=0\nSDL=40\nSDT=43\n")
                .arg(QString(macOf(i)).remove(QLatin1Char(':')))
                .arg(i)
                .arg(i / 200)
                .arg(i % 200 + 1)
                .toLatin1());
    file.close();
    const QString path =
        argc > 3 ? QString::fromLocal8Bit(argv[3]) : dir.filePath(QStringLiteral("nms-journal.db"));
    Journal journal(path, QStringLiteral("window"));
    if (!journal.open()) {
        std::fprintf(stderr, "%s\n", qPrintable(journal.problem()));
        return 1;
    }
    QList<ConfigureOutcome> outcomes;
    QList<StoredElement> before;
    for (int i = 0; i < elements; ++i) {
        before.append(StoredElement::load(ElementStore(store), macOf(i)));
        ConfigureOutcome o;
        o.result = ConfigureOutcome::Result::Mismatch;
        o.mac = macOf(i);
        o.sent = before.last().config();
        o.sent.name = QStringLiteral("NIGHT %1").arg(i);
        o.sent.buffer = 6;
        o.reported = o.sent;
        o.reported.silenceLevel = 41;
        o.differences = {{QStringLiteral("Silence Level"), QStringLiteral("sdl"), QStringLiteral("40"),
                          QStringLiteral("41")}};
        outcomes.append(o);
    }

    // Every entry timed on its own: its cost is what an operation waits for.
    QList<double> writeMs;
    writeMs.reserve(total);
    const qint64 startBytes = diskBytes(path);
    QElapsedTimer clock;
    for (int i = 0; i < total; ++i) {
        clock.start();
        if (!recordConfigure(journal, outcomes[i % elements], before[i % elements])) {
            std::fprintf(stderr, "%s\n", qPrintable(journal.problem()));
            return 1;
        }
        writeMs.append(clock.nsecsElapsed() / 1e6);
    }
    const qint64 grown = diskBytes(path) - startBytes;
    std::sort(writeMs.begin(), writeMs.end());
    std::printf("entries written:            %d (configuration entries with 3 changed fields, %d elements)\n",
                total, elements);
    std::printf("write per entry:            median %.3f ms, 99th percentile %.3f ms, max %.3f ms\n",
                median(writeMs), writeMs[int(writeMs.size() * 0.99)], writeMs.last());
    std::printf("bytes per entry:            %.0f (file and WAL grew %lld bytes)\n", double(grown) / total,
                grown);

    QList<double> queryMs;
    qsizetype found = 0;
    for (int i = 0; i < elements; ++i) {
        JournalQuery q;
        q.mac = macOf(i);
        clock.start();
        const auto entries = journal.entries(q);
        queryMs.append(clock.nsecsElapsed() / 1e6);
        found = entries ? entries->size() : -1;
    }
    std::printf("query by element:           median %.2f ms, max %.2f ms (%lld entries of %d each)\n",
                median(queryMs), *std::max_element(queryMs.begin(), queryMs.end()), qlonglong(found), total);
    JournalQuery last;
    last.mac = macOf(0);
    last.limit = 20;
    clock.start();
    journal.entries(last);
    std::printf("last 20 of an element:      %.2f ms\n", clock.nsecsElapsed() / 1e6);
    clock.start();
    const auto copy = journal.saveStoreCopy(store);
    std::printf("store copy (%d elements):   %.2f ms, %lld bytes\n", elements, clock.nsecsElapsed() / 1e6,
                qlonglong(QFileInfo(store).size()));
    return copy ? 0 : 1;
}
