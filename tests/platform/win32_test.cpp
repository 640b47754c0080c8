#include "platform/win32.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/control.h"

namespace {

struct Received {
    UINT message;
    WPARAM wParam;
};
std::vector<Received> received;

LRESULT recordingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    received.push_back({message, wParam});
    if (message == WM_CLOSE) return 0;  // like the show: closing does not destroy the window
    return DefWindowProcA(window, message, wParam, lParam);
}

class Win32Test : public ::testing::Test {
protected:
    void SetUp() override {
        platform::resetForTests();
        platform::setHeadlessWindows(true);
        received.clear();
        WNDCLASSEXA cls{};
        cls.cbSize = 48;
        cls.lpfnWndProc = recordingProc;
        cls.lpszClassName = "TESTCLASS";
        ASSERT_NE(RegisterClassExA(&cls), 0);
    }
    void TearDown() override {
        platform::resetForTests();
        platform::setHeadlessWindows(false);
        platform::setTimeSource(nullptr);
        platform::setMessageBoxHandler(nullptr);
    }
    HWND makeWindow() {
        RECT r{0, 0, 640, 480};
        AdjustWindowRectEx(&r, WS_CAPTION, FALSE, WS_EX_TOPMOST);
        return CreateWindowExA(WS_EX_TOPMOST, "TESTCLASS", "title", WS_CAPTION, 0, 0, r.right - r.left,
                               r.bottom - r.top, GetDesktopWindow(), nullptr, nullptr, nullptr);
    }
};

TEST_F(Win32Test, ClassRegistrationIsByNameAndOnce) {
    WNDCLASSEXA again{};
    again.lpfnWndProc = recordingProc;
    again.lpszClassName = "TESTCLASS";
    EXPECT_EQ(RegisterClassExA(&again), 0);
    EXPECT_TRUE(UnregisterClassA("TESTCLASS", nullptr));
    EXPECT_FALSE(UnregisterClassA("TESTCLASS", nullptr));
    EXPECT_EQ(CreateWindowExA(0, "TESTCLASS", "", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr), nullptr);
}

TEST_F(Win32Test, AdjustedOuterSizeGivesTheRequestedClientArea) {
    HWND window = makeWindow();
    ASSERT_NE(window, nullptr);
    RECT client{};
    ASSERT_TRUE(GetClientRect(window, &client));
    EXPECT_EQ(client.right, 640);
    EXPECT_EQ(client.bottom, 480);
}

TEST_F(Win32Test, PostedMessagesArePeekedInOrderAndDispatchedToTheClassProcedure) {
    HWND window = makeWindow();
    ASSERT_TRUE(PostMessageA(window, WM_KEYDOWN, 'A', 0));
    ASSERT_TRUE(PostMessageA(window, WM_KEYDOWN, VK_ESCAPE, 0));
    MSG msg{};
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(msg.wParam, WPARAM('A'));
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    DispatchMessageA(&msg);
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(received[1].message, WM_KEYDOWN);
    EXPECT_EQ(received[1].wParam, VK_ESCAPE);
}

TEST_F(Win32Test, AltF4BecomesACloseRequest) {
    HWND window = makeWindow();
    PostMessageA(window, WM_SYSKEYDOWN, VK_F4, LPARAM(1) << 29);
    MSG msg{};
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    DispatchMessageA(&msg);
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(received[0].message, WM_SYSKEYDOWN);
    EXPECT_EQ(received[1].message, WM_CLOSE);
}

TEST_F(Win32Test, CursorIsHiddenAndConfinedUntilFreed) {
    SetCursor(nullptr);
    RECT clip{0, 0, 639, 479};
    ClipCursor(&clip);
    EXPECT_TRUE(platform::cursorHidden());
    EXPECT_TRUE(platform::cursorConfined());
    ClipCursor(nullptr);
    EXPECT_FALSE(platform::cursorConfined());
}

TEST_F(Win32Test, TimerComesFromTheInstalledSourceAndRealClockAdvances) {
    DWORD fake = 0xFFFFFFF0u;
    platform::setTimeSource([&] { return fake; });
    EXPECT_EQ(timeGetTime(), 0xFFFFFFF0u);
    fake += 0x20;  // wraps like the 32-bit system timer
    EXPECT_EQ(timeGetTime(), 0x10u);
    platform::setTimeSource(nullptr);
    DWORD before = timeGetTime();
    Sleep(20);
    EXPECT_GE(timeGetTime() - before, 20u);
}

TEST_F(Win32Test, SystemFontDescribesItselfIn60Bytes) {
    HGDIOBJ font = GetStockObject(SYSTEM_FONT);
    ASSERT_NE(font, nullptr);
    LOGFONTA lf{};
    EXPECT_EQ(GetObjectA(font, sizeof lf, &lf), 60);
    EXPECT_GT(lf.lfHeight, 0);
    EXPECT_EQ(GetObjectA(font, 10, &lf), 0);
    EXPECT_EQ(GetObjectA(nullptr, sizeof lf, &lf), 0);
}

TEST_F(Win32Test, MessageBoxReachesTheHandlerWithCaptionAndText) {
    std::string caption, text;
    platform::setMessageBoxHandler([&](const std::string& c, const std::string& t) {
        caption = c;
        text = t;
        return IDOK;
    });
    EXPECT_EQ(MessageBoxA(nullptr, "Can't load mesh [data\\grid.x]", "ERROR", MB_OK), IDOK);
    EXPECT_EQ(caption, "ERROR");
    EXPECT_EQ(text, "Can't load mesh [data\\grid.x]");
}

TEST(HostPath, BackslashesBecomeSlashes) {
    EXPECT_EQ(platform::hostPath("data\\grid.x"), "data/grid.x");
    EXPECT_EQ(platform::hostPath("kaldra.mp3"), "kaldra.mp3");
    EXPECT_EQ(platform::hostPath(nullptr), "");
}

}  // namespace
