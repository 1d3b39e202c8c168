#include <gtest/gtest.h>
#include <windows.h>
#include <ole2.h>

int main(int argc, char** argv) {
    // A failing test must never stop the run on a message box of the system.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    // The host runs the plugin in an OLE apartment; so do the tests.
    OleInitialize(nullptr);
    ::testing::InitGoogleTest(&argc, argv);
    int result = RUN_ALL_TESTS();
    OleUninitialize();
    return result;
}
