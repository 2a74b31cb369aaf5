#ifndef NIMBORA_TESTS_SUPPORT_TESTMAIN_H
#define NIMBORA_TESTS_SUPPORT_TESTMAIN_H

#include <QtTest>

// Every test runs with a settings store of its own, in a folder that disappears with it, and
// with the program's identity so that QSettings() finds that store.
namespace TestSupport {
void isolateSettings();
void setApplicationIdentity();
}

#define NIMBORA_TEST_MAIN(TestObject, ApplicationClass)                                                                \
    int main(int argc, char *argv[])                                                                                   \
    {                                                                                                                  \
        TestSupport::isolateSettings();                                                                                \
        TestSupport::setApplicationIdentity();                                                                         \
        ApplicationClass application(argc, argv);                                                                      \
        TestObject test;                                                                                               \
        return QTest::qExec(&test, argc, argv);                                                                        \
    }

#endif
