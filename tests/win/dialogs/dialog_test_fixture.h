// Common fixture of the control enhancement tests: every test starts with an
// empty subclass table and must leave it empty once its windows are gone.
#pragma once

#include <windows.h>

#include <list>
#include <vector>

#include <gtest/gtest.h>

#include "control_enhancements.h"
#include "subclass_registry.h"
#include "test_windows.h"

class DialogTest : public testing::Test {
 protected:
  void SetUp() override {
    RegisterProbeClass();
    ProbeLog().clear();
    ASSERT_EQ(0, SubclassTableCapacity()) << "an earlier test left windows entered";
  }

  void TearDown() override {
    ReleaseModifierKeys();
    for (HWND window : windows_) {
      if (IsWindow(window)) DestroyWindow(window);
    }
    EXPECT_EQ(0, SubclassTableCapacity());
    EXPECT_FALSE(IsTabKeyHookInstalled());
    EXPECT_TRUE(HeapValidate(GetProcessHeap(), 0, nullptr)) << "the process heap is damaged";
  }

  // Creates the dialog, enhanced by EnhanceDialog unless the test says
  // otherwise, and destroys it at the end of the test.
  HWND OpenDialog(DialogTemplate& layout, TestDialog* dialog) {
    HWND window = CreateTestDialog(layout, dialog);
    EXPECT_NE(nullptr, window);
    windows_.push_back(window);
    return window;
  }

  HWND OwnWindow(HWND window) {
    windows_.push_back(window);
    return window;
  }

  // Dialog records owned by the fixture: the dialog procedure still writes
  // into them (focus notifications) while TearDown destroys the windows.
  TestDialog& NewDialog() {
    dialogs_.emplace_back();
    return dialogs_.back();
  }

  std::list<TestDialog> dialogs_;
  std::vector<HWND> windows_;
};
