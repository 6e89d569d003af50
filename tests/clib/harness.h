// The harness of the control library's shared tests. The same test sources build twice: into the
// host unit_tests on winsim (harness_host.cpp) and into clib_tests.exe for Wine and Windows
// (harness_win.cpp); CMake picks the implementation. Every other *.cpp here is built on both, so
// test sources include only this header, <gtest/gtest.h>, platform/win32.h, clib/clib.h, the
// standard library and helpers of this folder, and use only the Win32 face.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "clib/clib.h"
#include "platform/win32.h"

// Base of every shared test: each test starts on a fresh platform with the library's window
// class registered, and leaves nothing behind for the next one.
//   host:    a new simulated machine and process per test
//   Windows: windows the test left are destroyed, the thread's queue is emptied, a crash that
//            Windows or Wine swallowed inside a window procedure fails the test, and a test that
//            hangs ends the program with its name (CLIB_TEST_TIMEOUT seconds, default 60)
class ClibTest : public ::testing::Test {
 protected:
  ClibTest();
  ~ClibTest() override;
  void SetUp() override;
  void TearDown() override;

 private:
  struct Platform;  // what one side keeps for the duration of a test
  std::unique_ptr<Platform> platform_;
};

// True when the tests run on Wine: for the checks where Wine is known to differ from Windows,
// which skip with the reason there.
bool OnWine();
