#pragma once
// One QApplication for every test of a Qt test executable, on the offscreen
// platform unless the environment chose another. Register it once per
// executable with ::testing::AddGlobalTestEnvironment.
#include <gtest/gtest.h>

#include <QApplication>

namespace kestrel::testing {

class QtEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "kestrel-tests";
        static char* argv[] = {name, nullptr};
        app_ = new QApplication(argc, argv);
    }
    void TearDown() override {
        delete app_;
        app_ = nullptr;
    }

private:
    QApplication* app_ = nullptr;
};

}  // namespace kestrel::testing
