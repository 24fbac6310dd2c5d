// The Windows program end to end: Tarvelo64.exe started as a user starts it, with the loopback
// simulator installed as a driver (regsvr32), driven from this second process through its
// windows the way a user's picks and clicks reach them, and read back as the user sees it.
//
// With TARVELO_UI_SCREENSHOTS set to a folder, the measuring session also leaves pictures of
// the main dialog after a measurement and of the instructions dialog, as BMP files
// (tests/windows/ui/update-screenshots turns them into the documentation's PNGs).

#include "run_program.h"
#include "ui_automation.h"
#include "window_capture.h"

#include "app/dialog_templates.h"
#include "app/resource_ids.h"
#include "drivers/sim/loopback_sim.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

namespace {

using namespace std::chrono_literals;

constexpr int kMessageBoxText = 0xFFFF;
const std::string kDriverKey = std::string("SOFTWARE\\ASIO\\") + kLoopbackSimName;
const std::string kSelectDriver = "--- Select Driver ---";
const std::string kOpenError = "Error instantiating ASIO driver";
const std::string kInitializing = "Initializing ASIO driver...";
const std::string kReady =
    "Please set corresponding driver options\r\nand click 'Measure!' to measure the latency";

std::string registerSim(const char* options) {
    return "regsvr32.exe " + std::string(options) + " " + quoted(windowsPath(TARVELO_SIM_DLL));
}

class TarveloSession : public ::testing::Test {
protected:
    // The simulator is installed for each test and starts with its default personality.
    void SetUp() override {
        ASSERT_EQ(runProgram(registerSim("/s")), 0);
        RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, kDriverKey.c_str(), "Settings");
        RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, kDriverKey.c_str(), "ShowPanel");
    }
    void TearDown() override {
        m_program.reset(); // a program left running by a failure goes before its driver
        EXPECT_EQ(runProgram(registerSim("/u /s")), 0);
    }

    void setDriverValue(const char* name, const std::string& text) {
        ASSERT_EQ(RegSetKeyValueA(HKEY_LOCAL_MACHINE, kDriverKey.c_str(), name, REG_SZ,
                                  text.c_str(), static_cast<DWORD>(text.size() + 1)),
                  ERROR_SUCCESS);
    }

    void startProgram() {
        m_program = std::make_unique<ui::Program>(windowsPath(TARVELO_PROGRAM));
        ASSERT_TRUE(m_program->started());
        m_main =
            awaitDialog("Tarvelo", [](HWND w) { return GetDlgItem(w, ctl::kMeasure) != nullptr; });
        ASSERT_NE(m_main, nullptr) << "no main dialog; the program's windows:\n" << windows();
    }
    std::string windows() const { return ui::describeWindowsOf(m_program->id()); }

    HWND control(int id) const { return GetDlgItem(m_main, id); }
    static std::string textOf(HWND window) {
        return ui::windowText(window).value_or("<no answer from the window>");
    }
    // The text of control `id` once it reads `expected`, or what it read last.
    std::string awaitText(int id, const std::string& expected) const {
        std::string text;
        ui::waitUntil([&] { return (text = textOf(control(id))) == expected; });
        return text;
    }
    static bool awaitEnabled(HWND window, bool enabled) {
        return ui::waitUntil([&] { return (IsWindowEnabled(window) != 0) == enabled; });
    }
    std::string selectedItem(int listId) const {
        const auto list = ui::comboContents(control(listId));
        return list && list->selected >= 0 ? list->items[static_cast<std::size_t>(list->selected)]
                                           : "<none>";
    }

    // A user's click: only on a button that is visible and enabled.
    static void click(HWND dialog, int id) {
        HWND button = GetDlgItem(dialog, id);
        ASSERT_TRUE(button && IsWindowVisible(button)) << "button " << id;
        ASSERT_TRUE(awaitEnabled(button, true)) << "button " << id << " stays disabled";
        ASSERT_TRUE(ui::postClick(button));
    }
    void pick(int listId, const std::string& item) const {
        ASSERT_TRUE(IsWindowEnabled(control(listId))) << "list " << listId;
        const auto list = ui::comboContents(control(listId));
        ASSERT_TRUE(list);
        const auto found = std::find(list->items.begin(), list->items.end(), item);
        ASSERT_NE(found, list->items.end()) << item;
        ASSERT_TRUE(ui::postPick(m_main, listId, static_cast<int>(found - list->items.begin())));
    }
    HWND awaitDialog(const std::string& caption, const std::function<bool(HWND)>& accept) const {
        HWND dialog = nullptr;
        ui::waitUntil(
            [&] { return (dialog = ui::findDialog(m_program->id(), caption, accept)) != nullptr; });
        return dialog;
    }
    static bool awaitGone(HWND window) {
        return ui::waitUntil([window] { return !IsWindow(window) || !IsWindowVisible(window); });
    }

    // The message box of a failed open: owned by the main dialog, OK only.
    void dismissOpenError() const {
        HWND box = awaitDialog("Tarvelo", [this](HWND w) {
            return w != m_main && GetDlgItem(w, kMessageBoxText) != nullptr;
        });
        ASSERT_NE(box, nullptr) << "no message box; the program's windows:\n" << windows();
        EXPECT_EQ(textOf(GetDlgItem(box, kMessageBoxText)), kOpenError);
        EXPECT_EQ(GetWindow(box, GW_OWNER), m_main);
        HWND cancel = GetDlgItem(box, IDCANCEL);
        EXPECT_FALSE(cancel && IsWindowVisible(cancel)) << "OK is the only button";
        ASSERT_TRUE(PostMessageA(box, WM_COMMAND, IDOK, 0));
        ASSERT_TRUE(awaitGone(box));
        EXPECT_TRUE(awaitEnabled(control(ctl::kDriverList), true));
        EXPECT_FALSE(IsWindowEnabled(control(ctl::kMeasure)));
    }

    // The instructions dialog shows its whole text, belongs to the main dialog and gives it
    // back as it was.
    void checkInstructions(const char* picture) const {
        const std::string status = textOf(control(ctl::kStatus));
        HWND about = awaitDialog("About Tarvelo", [](HWND w) {
            return GetDlgItem(w, ctl::kInstructionText) != nullptr;
        });
        ASSERT_NE(about, nullptr) << "no instructions; the program's windows:\n" << windows();
        EXPECT_EQ(textOf(GetDlgItem(about, ctl::kInstructionText)), kInstructionText);
        EXPECT_EQ(GetWindow(about, GW_OWNER), m_main);
        EXPECT_FALSE(IsWindowEnabled(m_main));
        savePicture(about, picture);
        ASSERT_NO_FATAL_FAILURE(click(about, ctl::kClose));
        ASSERT_TRUE(awaitGone(about));
        EXPECT_TRUE(awaitEnabled(m_main, true));
        EXPECT_EQ(textOf(control(ctl::kStatus)), status);
    }

    void measure(const std::string& result) const {
        ASSERT_NO_FATAL_FAILURE(click(m_main, ctl::kMeasure));
        EXPECT_EQ(awaitText(ctl::kStatus, result), result);
        EXPECT_TRUE(awaitEnabled(control(ctl::kMeasure), true)) << "after the chain";
    }

    void quit() const {
        ASSERT_NO_FATAL_FAILURE(click(m_main, ctl::kQuit));
        EXPECT_EQ(m_program->waitForExit(10s), DWORD{0}) << "windows:\n" << windows();
    }

    void savePicture(HWND window, const char* fileName) const {
        const char* folder = std::getenv("TARVELO_UI_SCREENSHOTS");
        if (folder != nullptr && fileName != nullptr) {
            WaitForInputIdle(m_program->handle(), 5000);
            const std::string path = windowsPath(folder) + "\\" + fileName;
            EXPECT_EQ(saveWindowPicture(window, path), "") << path;
        }
    }

    std::unique_ptr<ui::Program> m_program;
    HWND m_main = nullptr;
};

TEST_F(TarveloSession, MeasuresWithTheSimulatorAndShowsTheInstructions) {
    ASSERT_NO_FATAL_FAILURE(setDriverValue("ShowPanel", "1"));
    ASSERT_NO_FATAL_FAILURE(startProgram());
    EXPECT_EQ(textOf(control(ctl::kStatus)), "Please select ASIO driver");
    EXPECT_EQ(selectedItem(ctl::kDriverList), kSelectDriver);
    EXPECT_EQ(selectedItem(ctl::kSensitivityList), "-12 dB");
    EXPECT_FALSE(IsWindowEnabled(control(ctl::kMeasure)));

    // The simulator's control panel shows while the driver is being opened.
    ASSERT_NO_FATAL_FAILURE(pick(ctl::kDriverList, kLoopbackSimName));
    HWND panel = awaitDialog(kLoopbackSimName, [](HWND) { return true; });
    ASSERT_NE(panel, nullptr) << "no control panel; the program's windows:\n" << windows();
    EXPECT_EQ(textOf(GetDlgItem(panel, kMessageBoxText)).rfind("Settings in force:", 0), 0u);
    EXPECT_EQ(textOf(control(ctl::kStatus)), kInitializing);
    EXPECT_FALSE(IsWindowEnabled(control(ctl::kDriverList)));
    ASSERT_TRUE(PostMessageA(panel, WM_COMMAND, IDOK, 0));

    EXPECT_EQ(awaitText(ctl::kStatus, kReady), kReady);
    EXPECT_EQ(selectedItem(ctl::kSampleRateList), "48000 Hz");
    EXPECT_EQ(selectedItem(ctl::kBufferSizeList), "256 samples (5.33ms)");
    EXPECT_EQ(textOf(control(ctl::kInputsField)), "2");
    ASSERT_NO_FATAL_FAILURE(measure("Measurement results: 544 samples / 11.33 ms"));
    savePicture(m_main, "main-dialog.bmp");
    ASSERT_NO_FATAL_FAILURE(pick(ctl::kBufferSizeList, "64 samples (1.33ms)"));
    ASSERT_NO_FATAL_FAILURE(measure("Measurement results: 160 samples / 3.33 ms"));
    EXPECT_EQ(selectedItem(ctl::kBufferSizeList), "64 samples (1.33ms)");

    ASSERT_NO_FATAL_FAILURE(click(m_main, ctl::kHelp));
    ASSERT_NO_FATAL_FAILURE(checkInstructions("instructions-dialog.bmp"));
    ASSERT_TRUE(PostMessageA(m_main, WM_SYSCOMMAND, ID_SYSMENU_ABOUT, 0));
    ASSERT_NO_FATAL_FAILURE(checkInstructions(nullptr));
    ASSERT_NO_FATAL_FAILURE(quit());
}

TEST_F(TarveloSession, ReportsDriversThatCannotBeOpenedAndOpensThemOnceTheyCan) {
    ASSERT_NO_FATAL_FAILURE(setDriverValue("Settings", "init=0"));
    ASSERT_NO_FATAL_FAILURE(startProgram());
    for (const std::string& driver : {std::string(kLoopbackSimName), kSelectDriver}) {
        SCOPED_TRACE(driver);
        ASSERT_NO_FATAL_FAILURE(pick(ctl::kDriverList, driver));
        ASSERT_NO_FATAL_FAILURE(dismissOpenError());
        EXPECT_EQ(textOf(control(ctl::kStatus)), kInitializing);
    }
    // The failed opens left nothing open: the same pick opens the driver once it can be opened.
    RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, kDriverKey.c_str(), "Settings");
    ASSERT_NO_FATAL_FAILURE(pick(ctl::kDriverList, kLoopbackSimName));
    EXPECT_EQ(awaitText(ctl::kStatus, kReady), kReady);
    ASSERT_NO_FATAL_FAILURE(quit());
}

} // namespace
