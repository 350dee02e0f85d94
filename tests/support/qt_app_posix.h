#pragma once

// An X server of the test program's own and one QApplication on it, for every
// Qt test of the program: Qt allows one application per process, and it must
// outlive every widget. A GoogleTest environment starts both before the first
// test and stops them, the server by pid, after the last.

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>

#include <cstdlib>
#include <memory>
#include <string>

#include "tests/support/xvfb_posix.h"

namespace lumora::testing {

class QtApplicationOnXvfb final : public ::testing::Environment {
 public:
  void SetUp() override {
    ASSERT_TRUE(server_.Start());
    ::setenv("DISPLAY", server_.display().c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    application_ = std::make_unique<QApplication>(argc_, argv_);
  }
  void TearDown() override {
    application_.reset();
    server_.Stop();
  }

  const std::string& display() const { return server_.display(); }

 private:
  XvfbServer server_;
  std::unique_ptr<QApplication> application_;
  int argc_ = 1;
  char name_[8] = "qt_test";
  char* argv_[2] = {name_, nullptr};
};

// Runs the application's events until `done`, for at most `ms`; whether it is.
template <typename Done>
bool PumpUntil(Done done, int ms = 10000) {
  QElapsedTimer timer;
  timer.start();
  while (!done() && timer.elapsed() < ms) {
    QApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return done();
}

// Registered once per program, however many test files include this.
inline QtApplicationOnXvfb* const kQtApplication =
    static_cast<QtApplicationOnXvfb*>(::testing::AddGlobalTestEnvironment(new QtApplicationOnXvfb));

}  // namespace lumora::testing
