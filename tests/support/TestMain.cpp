#include <QApplication>
#include <gtest/gtest.h>

#include <cstdio>
#ifdef _WIN32
#include <windows.h>
#endif

// Every test executable runs with a QApplication, offscreen unless the caller chose a
// platform, so GUI tests need no display.
int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const int result = [&] {
        QApplication app(argc, argv);
        ::testing::InitGoogleTest(&argc, argv);
        return RUN_ALL_TESTS();
    }();
#ifdef _WIN32
    // Every case has run and its outcome is written. Under wine the process's own ending (the
    // C library's and the DLLs' teardown after the other threads were stopped) now and then
    // waits forever with no thread left to wake it, and the run would count as hung: end here.
    std::fflush(nullptr);
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(result));
#endif
    return result;
}
