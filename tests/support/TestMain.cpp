// One main for every test program: an offscreen QApplication, Fusion style and the C locale.
#include <QApplication>
#include <QLocale>
#include <QStyleFactory>

#include <gtest/gtest.h>

#include <cstdio>
#include <unistd.h>

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QLocale::setDefault(QLocale::c());
    QApplication app(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    // As root (as in CI) every test can run: one that skipped itself hides a missing piece.
    const int skipped = ::testing::UnitTest::GetInstance()->skipped_test_count();
    if (result == 0 && skipped > 0 && geteuid() == 0) {
        std::fprintf(stderr, "%d test(s) skipped although running as root: counted as a failure\n", skipped);
        return 1;
    }
    return result;
}
