#include <gtest/gtest.h>

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

}  // namespace
