// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#include <QApplication>
#include <QWidget>

#include "platform/display.h"
#include "platform/window_handles.h"

namespace {

TEST(ShowWindow, MinimisesTheTopLevelWindowOfAHandleAndShowsItAgain) {
    EXPECT_EQ(ShowWindow(nullptr, SW_SHOWMINNOACTIVE), FALSE);
    QWidget window;
    auto* child = new QWidget(&window);
    window.show();
    EXPECT_EQ(ShowWindow(platform::HandleOf(child), SW_SHOWMINNOACTIVE), TRUE);
    EXPECT_TRUE(window.isMinimized());
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(ShowWindow(platform::HandleOf(&window), 0), TRUE) << "an unknown command";
    EXPECT_TRUE(window.isMinimized());
    ShowWindow(platform::HandleOf(&window), SW_RESTORE);
    EXPECT_FALSE(window.isMinimized());
}

// With no X screen (offscreen here) the toolkit's own activation is what there is.
TEST(SetForegroundWindow, ActivatesTheTopLevelWindowOfAShownHandleOnly) {
    EXPECT_EQ(SetForegroundWindow(nullptr), FALSE);
    QWidget window, other;
    auto* child = new QWidget(&window);
    EXPECT_EQ(SetForegroundWindow(platform::HandleOf(child)), FALSE) << "not shown";
    window.show();
    other.show();
    other.activateWindow();
    QApplication::processEvents();
    ASSERT_EQ(QApplication::activeWindow(), &other);

    EXPECT_EQ(SetForegroundWindow(platform::HandleOf(child)), TRUE);
    QApplication::processEvents();
    EXPECT_EQ(QApplication::activeWindow(), &window);

    const HWND gone = platform::HandleOf(new QWidget);
    delete platform::WidgetOf(gone);
    EXPECT_EQ(SetForegroundWindow(gone), FALSE);
}

}  // namespace
