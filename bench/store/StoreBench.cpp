// Builds a store of 1000 elements with 18 keys each through the INI layer (in one write, or key by
// key with "keys" after the element count) and times it, reading every key back, one more key
// write on the full store against a bare durable replacement of the same bytes, and rebuilding
// the element tree from it. Prints the figures; run on demand.
#include "gui/ElementTree.h"
#include "platform/MessageBoxes.h"
#include "store/ElementStore.h"
#include "store/IniFile.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <cstdio>

#include <fcntl.h>
#include <unistd.h>

namespace {

class SilentBoxes : public vexo::MessageBoxes
{
public:
    vexo::MsgAnswer show(const vexo::MessageBoxRequest& r) override { return r.defaultButton; }
};

QByteArray readAllOf(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QString macOf(int i)
{
    return QStringLiteral("0050C2%1").arg(i, 6, 16, QLatin1Char('0')).toUpper();
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int elements = argc > 1 ? std::atoi(argv[1]) : 1000;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("nms.ini"));
    const QStringList keyNames = {"name", "ip", "mask", "gw",  "input", "type", "tx",  "remote", "multi",
                                  "role", "sn", "ver",  "sfn", "buf",   "att",  "sdm", "sdl",    "sdt"};

    // The store is built key by key only when asked ("keys"): 18 000 durable writes take minutes.
    const bool keyByKey = argc > 2 && QByteArray(argv[2]) == "keys";
    QElapsedTimer t;
    t.start();
    if (keyByKey) {
        for (int i = 0; i < elements; ++i) {
            for (const QString& key : keyNames) {
                const QString value = key == QLatin1String("role") ? QString::number(1 + i % 2)
                                                                   : QStringLiteral("value-%1").arg(i);
                if (!vexo::writeToIni(macOf(i), key, value, path)) {
                    std::fprintf(stderr, "write failed\n");
                    return 1;
                }
            }
        }
    } else {
        QList<QPair<QString, QList<QPair<QString, QString>>>> sections;
        for (int i = 0; i < elements; ++i) {
            QList<QPair<QString, QString>> values;
            for (const QString& key : keyNames)
                values.append({key, key == QLatin1String("role") ? QString::number(1 + i % 2)
                                                                 : QStringLiteral("value-%1").arg(i)});
            sections.append({macOf(i), values});
        }
        if (!vexo::writeSectionsToIni(sections, path)) {
            std::fprintf(stderr, "write failed\n");
            return 1;
        }
    }
    const double writeAll = t.nsecsElapsed() / 1e6;

    t.restart();
    qsizetype chars = 0;
    for (int i = 0; i < elements; ++i) {
        for (const QString& key : keyNames)
            chars += vexo::readFromIni(macOf(i), key, path).size();
    }
    const double readAll = t.nsecsElapsed() / 1e6;

    constexpr int kSingleWrites = 200;
    t.restart();
    for (int i = 0; i < kSingleWrites; ++i)
        vexo::writeToIni(macOf(i * 5 % elements), QStringLiteral("att"), QString::number(14 + i % 200), path);
    const double oneWrite = t.nsecsElapsed() / 1e6 / kSingleWrites;

    // What any durable replacement of a file of this size costs here, without the INI layer.
    const QByteArray bytes = readAllOf(path);
    const QByteArray scratch = QFile::encodeName(dir.filePath(QStringLiteral("scratch")));
    const QByteArray scratchFinal = scratch + ".final";
    t.restart();
    for (int i = 0; i < kSingleWrites; ++i) {
        const int fd = ::open(scratch.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0 || ::write(fd, bytes.constData(), size_t(bytes.size())) != bytes.size() ||
            ::fdatasync(fd) != 0 || ::close(fd) != 0 ||
            ::rename(scratch.constData(), scratchFinal.constData()) != 0) {
            std::fprintf(stderr, "scratch write failed\n");
            return 1;
        }
    }
    const double durableFloor = t.nsecsElapsed() / 1e6 / kSingleWrites;

    SilentBoxes boxes;
    vexo::ElementStore store(path);
    QGroupBox frame;
    QTreeWidget tree(&frame);
    QComboBox encoders;
    vexo::ElementTree elementTree(store, boxes, &frame, &tree, &encoders, nullptr);
    t.restart();
    elementTree.loadConfig();
    const double load = t.nsecsElapsed() / 1e6;

    std::printf("store of %d elements x %lld keys (%lld bytes)\n", elements, qlonglong(keyNames.size()),
                qlonglong(QFileInfo(path).size()));
    if (keyByKey)
        std::printf("  write every key one by one : %9.1f ms (%.3f ms per write)\n", writeAll,
                    writeAll / (elements * keyNames.size()));
    else
        std::printf("  write the whole store once : %9.1f ms\n", writeAll);
    std::printf("  read every key back        : %9.1f ms (%.4f ms per read, %lld chars)\n", readAll,
                readAll / (elements * keyNames.size()), qlonglong(chars));
    std::printf("  one key write, full store  : %9.3f ms   (goal < 2 ms)\n", oneWrite);
    std::printf(
        "    of which the durable replacement of the same bytes (write, fdatasync, rename): %.3f ms\n",
        durableFloor);
    std::printf("  loadConfig                : %9.1f ms   (goal < 1000 ms), %d entries, %d encoders\n", load,
                tree.topLevelItemCount(), encoders.count() - 1);
    return 0;
}
