// vexolink-element: one Vexolink Network Element, or a whole fleet of them, on the network.
#include "Fleet.h"
#include "FleetFile.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int g_signalPipe[2] = {-1, -1};

void onSignal(int signal)
{
    const char s = char(signal);
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &s, 1);
}

void print(FILE* to, const QString& text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), to);
    std::fflush(to);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    vexo::sim::SimSetup setup;
    QString error;
    if (!vexo::sim::parseCommandLine(app.arguments().mid(1), setup, &error)) {
        print(stderr, QStringLiteral("vexolink-element: %1\n").arg(error));
        return 2;
    }
    if (setup.help) {
        print(stdout, vexo::sim::usage());
        return 0;
    }

    // Signals arrive through a socket pair so that they are handled on the event loop.
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) != 0) {
        print(stderr, QStringLiteral("vexolink-element: socketpair failed\n"));
        return 1;
    }
    struct sigaction sa
    {
    };
    sa.sa_handler = onSignal;
    sa.sa_flags = SA_RESTART;
    sigaction(SIGUSR1, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    // Unused: the sockets are UDP.
    std::signal(SIGPIPE, SIG_IGN);

    // A fleet in "own" mode holds four sockets per element.
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }

    vexo::sim::FleetOptions options;
    options.bindAny = setup.bindAny;
    options.stateFile = setup.stateFile;
    options.verbose = setup.verbose;
    vexo::sim::Fleet fleet(options);
    for (const vexo::sim::ElementConfig& c : setup.elements)
        fleet.addElement(c);

    QSocketNotifier signalNotifier(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, &app, [&] {
        char s = 0;
        if (::read(g_signalPipe[0], &s, 1) != 1)
            return;
        if (s == SIGUSR1) {
            if (setup.stateFile.isEmpty())
                print(stdout, QString::fromUtf8(QJsonDocument(fleet.stateJson()).toJson()));
            else if (QString e; !fleet.writeState(&e))
                print(stderr, QStringLiteral("vexolink-element: %1\n").arg(e));
        } else {
            app.quit();
        }
    });

    if (!fleet.start(&error)) {
        print(stderr, QStringLiteral("vexolink-element: %1\n").arg(error));
        return 1;
    }
    return app.exec();
}
