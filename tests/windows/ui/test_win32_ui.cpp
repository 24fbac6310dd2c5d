// The Windows program end to end: Tarvelo64.exe started as a user starts it, with the loopback
// simulator installed as a driver (regsvr32), and driven from this second process through its
// windows, the way a user's picks and clicks reach them. Every step checks what the user would
// see, reading the controls across the process boundary, and the debugger output of the whole
// session is checked at the end.
//
// With TARVELO_UI_SCREENSHOTS set to a folder, the measuring session also leaves pictures of
// the main dialog after a measurement and of the instructions dialog there, as BMP files
// (tests/windows/ui/update-screenshots turns them into the documentation's PNGs).

#include "debug_output_monitor.h"
#include "ui_automation.h"
#include "window_capture.h"

#include "drivers/sim/loopback_sim.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;

// Controls of the main dialog.
constexpr int kQuit = 1;
constexpr int kDriverList = 1001;
constexpr int kInputsField = 1002;
constexpr int kOutputsField = 1003;
constexpr int kBufferSizeList = 1004;
constexpr int kAllocateBuffers = 1005;
constexpr int kStart = 1006;
constexpr int kStop = 1007;
constexpr int kSampleRateList = 1008;
constexpr int kReportedBuffers = 1009;
constexpr int kMeasureLatency = 1010;
constexpr int kStatus = 1011;
constexpr int kFreeBuffers = 1012;
constexpr int kMeasure = 1013;
constexpr int kInstructionsButton = 1014;
constexpr int kVisitWeb = 1015;
constexpr int kHelp = 1016;
constexpr int kSensitivityList = 1018;
// Controls of the instructions dialog.
constexpr int kClose = 1;
constexpr int kInstructionText = 1016;
// The text of a message box.
constexpr int kMessageBoxText = 0xFFFF;
// The system-menu entry that opens the instructions dialog.
constexpr WPARAM kAboutCommand = 0x0010;

struct ControlState {
    int id;
    const char* name;
    bool visible;
    bool enabled;
};

constexpr ControlState kInitialStates[] = {
    {kQuit, "Quit", true, true},
    {kDriverList, "driver list", true, true},
    {kInputsField, "Inputs field", false, true},
    {kOutputsField, "Outputs field", false, true},
    {kBufferSizeList, "buffer-size list", true, false},
    {kAllocateBuffers, "Allocate Buffers", false, false},
    {kStart, "Start", false, false},
    {kStop, "Stop", false, false},
    {kSampleRateList, "sample-rate list", true, false},
    {kReportedBuffers, "Reported buffers field", false, true},
    {kMeasureLatency, "Measure Latency", false, false},
    {kStatus, "status box", true, true},
    {kFreeBuffers, "Free Buffers", false, false},
    {kMeasure, "Measure!", true, false},
    {kInstructionsButton, "Measurement Instructions...", false, true},
    {kVisitWeb, "web button", false, true},
    {kHelp, "Help", true, true},
    {kSensitivityList, "sensitivity list", true, true},
};

const std::string kEnumerating = "Initialization... Enumerating ASIO drivers...";
const std::string kSelectDriverPlease = "Please select ASIO driver";
const std::string kInitializing = "Initializing ASIO driver...";
const std::string kDriverReady =
    "Please set corresponding driver options\r\nand click 'Measure!' to measure the latency";
const std::string kMeasuring = "Measuring... Please wait";
// The simulator's defaults: 48000 Hz, a preferred buffer of 256 samples and a cable of 32
// samples; the pulse comes back after two buffers and the cable.
const std::string kResultAt256 = "Measurement results: 544 samples / 11.33 ms";
const std::string kResultAt64 = "Measurement results: 160 samples / 3.33 ms";
const std::string kSelectDriverItem = "--- Select Driver ---";
const std::string kOpenError = "Error instantiating ASIO driver";

const std::vector<std::string> kSensitivities{"-24 dB", "-18 dB", "-12 dB", "-6 dB"};
const std::vector<std::string> kRates{"22050 Hz", "32000 Hz", "44100 Hz",
                                      "48000 Hz", "96000 Hz", "192000 Hz"};
const std::vector<std::string> kSizesAt48000{"32 samples (0.67ms)",   "64 samples (1.33ms)",
                                             "128 samples (2.67ms)",  "256 samples (5.33ms)",
                                             "512 samples (10.67ms)", "1024 samples (21.33ms)",
                                             "2048 samples (42.67ms)"};

std::string instructionText() {
    const char* const lines[] = {
        "The Brintesk Tarvelo will measure the round-trip latency for your computer audio "
        "system. It works by ",
        "sending a short pulse through your audio interface and measuring the time it takes for "
        "the pulse to return. Keep in mind ",
        "that latency will depend on the actual hardware configuration and may change for "
        "different equipment.",
        "",
        "Measurement Instructions:",
        "1)  Experiment with the control panel of your ASIO driver to determine the lowest "
        "settings, at which ",
        "    you can still get clean sound on recording and playback (no audible clicks, pops or "
        "glitches).",
        "",
        "2)  On your audio interface, connect the analog input of your sound card to the analog "
        "output with a cable.",
        "    Turn down the speakers for this test, as the system will produce a short audio pulse.",
        "",
        "3)  Select the device driver you would like to test from the drop down menu and select "
        "the input and output ",
        "    channels you have physically connected together in Step 2.",
        "",
        "4)  If available, the device driver's control panel window will appear. Select the "
        "sample rate and buffer ",
        "    settings you determined in Step 1.",
        "",
        "5)  Click on the 'Measure!' button. The analog round-trip latency will be displayed at "
        "the bottom left of the window.",
        "",
        "6)  On some systems the measurement quality may be improved by adjusting the input "
        "sensivity parameter from",
        "    the pull-down menu.",
        "",
        "Thank you for using the Brintesk Tarvelo. If you have any questions, comments, or "
        "suggestions",
        "please email them to support@example.com.",
    };
    static_assert(std::size(lines) == 24);
    std::string text = lines[0];
    for (std::size_t line = 1; line < std::size(lines); ++line) {
        text += std::string("\r\n") + lines[line];
    }
    return text;
}

const std::string kDriverKey = std::string("SOFTWARE\\ASIO\\") + kLoopbackSimName;

std::string quoted(const std::string& text) {
    return "\"" + text + "\"";
}

std::string simDll() {
    return ui::windowsPath(TARVELO_SIM_DLL);
}

// Where the screenshots go, when they are asked for.
std::string screenshotFolder() {
    const char* folder = std::getenv("TARVELO_UI_SCREENSHOTS");
    return folder != nullptr ? ui::windowsPath(folder) : std::string();
}

bool hasEveryMainControl(HWND dialog) {
    return std::all_of(std::begin(kInitialStates), std::end(kInitialStates),
                       [dialog](const ControlState& c) { return GetDlgItem(dialog, c.id); });
}

class TarveloSession : public ::testing::Test {
protected:
    // The simulator is installed for each test and starts with its default personality.
    void SetUp() override {
        ASSERT_EQ(ui::runToEnd("regsvr32.exe /s " + quoted(simDll())), DWORD{0})
            << "registering " << simDll();
        m_registered = true;
        RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, kDriverKey.c_str(), "Settings");
        RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, kDriverKey.c_str(), "ShowPanel");
    }

    void TearDown() override {
        m_program.reset(); // a program left running by a failure goes before its driver
        m_monitor.reset();
        if (m_registered) {
            EXPECT_EQ(ui::runToEnd("regsvr32.exe /u /s " + quoted(simDll())), DWORD{0})
                << "unregistering " << simDll();
        }
    }

    void setDriverValue(const char* name, const std::string& text) {
        ASSERT_EQ(RegSetKeyValueA(HKEY_LOCAL_MACHINE, kDriverKey.c_str(), name, REG_SZ,
                                  text.c_str(), static_cast<DWORD>(text.size() + 1)),
                  ERROR_SUCCESS)
            << name << " = " << text;
    }

    // Starts the debugger-output monitor, then the program, and waits for its main dialog to
    // show with every control.
    void startProgram() {
        m_monitor = std::make_unique<DebugOutputMonitor>();
        ASSERT_EQ(m_monitor->error(), "");
        m_program = std::make_unique<ui::Program>(ui::windowsPath(TARVELO_PROGRAM));
        ASSERT_EQ(m_program->error(), "");
        const bool shown = ui::waitUntil([this] {
            m_main = ui::findDialog(m_program->id(), "Tarvelo", hasEveryMainControl);
            return m_main != nullptr;
        });
        ASSERT_TRUE(shown) << "no main dialog \"Tarvelo\" with all its controls within "
                           << ui::kWaitLimit.count() << " ms; the program's windows:\n"
                           << windowsOfProgram();
    }

    std::string windowsOfProgram() const { return ui::describeWindowsOf(m_program->id()); }

    HWND control(int id) const { return GetDlgItem(m_main, id); }

    static std::string textOf(HWND window) {
        return ui::windowText(window).value_or("<no answer from the window>");
    }

    std::string controlText(int id) const { return textOf(control(id)); }

    // The text of control `id` once it reads `expected`, or what it read last.
    std::string awaitText(int id, const std::string& expected) const {
        std::string text;
        ui::waitUntil([&] {
            text = controlText(id);
            return text == expected;
        });
        return text;
    }

    bool awaitEnabled(HWND window, bool enabled) const {
        return ui::waitUntil([&] { return (IsWindowEnabled(window) != 0) == enabled; });
    }

    void expectState(int id, const char* name, bool visible, bool enabled) const {
        HWND c = control(id);
        ASSERT_NE(c, nullptr) << "control " << id << " (" << name << ") is missing";
        EXPECT_EQ(IsWindowVisible(c) != 0, visible)
            << "visibility of " << id << " (" << name << ")";
        EXPECT_EQ(IsWindowEnabled(c) != 0, enabled)
            << "enabled state of " << id << " (" << name << ")";
    }

    void expectList(int id, const char* name, const std::vector<std::string>& items,
                    int selected) const {
        const std::optional<ui::ComboContents> contents = ui::comboContents(control(id));
        ASSERT_TRUE(contents.has_value()) << "list " << id << " (" << name << ") did not answer";
        EXPECT_EQ(contents->items, items) << "items of list " << id << " (" << name << ")";
        EXPECT_EQ(contents->selected, selected)
            << "selection of list " << id << " (" << name << ")";
    }

    int driverIndex(const std::string& name) const {
        const std::optional<ui::ComboContents> drivers = ui::comboContents(control(kDriverList));
        if (!drivers) {
            return -1;
        }
        const auto found = std::find(drivers->items.begin(), drivers->items.end(), name);
        return found == drivers->items.end() ? -1
                                             : static_cast<int>(found - drivers->items.begin());
    }

    // A click of the user's: only on a button that the user can see and that is enabled.
    void click(HWND dialog, int id, const char* name) const {
        HWND button = GetDlgItem(dialog, id);
        ASSERT_NE(button, nullptr) << "button " << id << " (" << name << ") is missing";
        ASSERT_TRUE(IsWindowVisible(button)) << "button " << id << " (" << name << ") is hidden";
        ASSERT_TRUE(awaitEnabled(button, true))
            << "button " << id << " (" << name << ") stays disabled";
        ASSERT_TRUE(ui::postClick(button)) << "posting a click to " << name;
    }

    void pick(int listId, const char* name, int index) const {
        HWND list = control(listId);
        ASSERT_NE(list, nullptr) << "list " << listId << " (" << name << ") is missing";
        ASSERT_TRUE(IsWindowEnabled(list))
            << "list " << listId << " (" << name << ") is disabled: the user cannot pick in it";
        ASSERT_TRUE(ui::postPick(m_main, listId, index))
            << "picking item " << index << " of list " << listId << " (" << name << ")";
    }

    // The visible dialog of the program with `caption` that `accept` takes, once it shows.
    HWND awaitDialog(const std::string& caption, const std::function<bool(HWND)>& accept) const {
        HWND dialog = nullptr;
        ui::waitUntil([&] {
            dialog = ui::findDialog(m_program->id(), caption, accept);
            return dialog != nullptr;
        });
        return dialog;
    }

    bool awaitGone(HWND window) const {
        return ui::waitUntil([window] { return !IsWindow(window) || !IsWindowVisible(window); });
    }

    // The message box of a failed open: owned by the main dialog, stop icon, OK only.
    void dismissOpenError(const std::string& after) const {
        HWND box = awaitDialog("Tarvelo", [this](HWND window) {
            return window != m_main && GetDlgItem(window, kMessageBoxText) != nullptr;
        });
        ASSERT_NE(box, nullptr) << "no message box \"Tarvelo\" after " << after
                                << "; the program's windows:\n"
                                << windowsOfProgram();
        EXPECT_EQ(textOf(GetDlgItem(box, kMessageBoxText)), kOpenError) << "text of the box";
        EXPECT_EQ(GetWindow(box, GW_OWNER), m_main) << "the box's owner is the main dialog";
        HWND ok = GetDlgItem(box, IDOK);
        EXPECT_TRUE(ok != nullptr && IsWindowVisible(ok)) << "the box has an OK button";
        for (int other = IDCANCEL; other <= IDNO; ++other) {
            HWND button = GetDlgItem(box, other);
            EXPECT_FALSE(button != nullptr && IsWindowVisible(button))
                << "the box shows button " << other << " besides OK";
        }
        ASSERT_TRUE(PostMessageA(box, WM_COMMAND, IDOK, 0));
        ASSERT_TRUE(awaitGone(box)) << "the box stays after OK";
    }

    // Both ways of opening the instructions dialog lead to the same dialog, and closing it
    // gives back the main dialog as it was.
    void checkInstructionsDialog(const char* openedBy, bool takePicture) const {
        const std::string statusBefore = controlText(kStatus);
        HWND about = awaitDialog("About Tarvelo", [](HWND window) {
            return GetDlgItem(window, kInstructionText) != nullptr &&
                   GetDlgItem(window, kClose) != nullptr;
        });
        ASSERT_NE(about, nullptr) << "no dialog \"About Tarvelo\" after the " << openedBy
                                  << "; the program's windows:\n"
                                  << windowsOfProgram();
        EXPECT_EQ(textOf(GetDlgItem(about, kInstructionText)), instructionText())
            << "instruction text (edit " << kInstructionText << ") opened by the " << openedBy;
        EXPECT_EQ(textOf(GetDlgItem(about, kClose)), "Close") << "caption of button " << kClose;
        EXPECT_EQ(GetWindow(about, GW_OWNER), m_main) << "owner of the instructions dialog";
        EXPECT_FALSE(IsWindowEnabled(m_main)) << "the main dialog while the instructions show";
        if (takePicture) {
            savePicture(about, "instructions-dialog.bmp");
        }
        ASSERT_NO_FATAL_FAILURE(click(about, kClose, "Close"));
        ASSERT_TRUE(awaitGone(about)) << "the instructions dialog stays after Close";
        EXPECT_TRUE(awaitEnabled(m_main, true)) << "the main dialog after the instructions";
        EXPECT_EQ(controlText(kStatus), statusBefore) << "status box after the instructions";
    }

    void measure(const std::string& expectedResult) const {
        ASSERT_NO_FATAL_FAILURE(click(m_main, kMeasure, "Measure!"));
        EXPECT_EQ(awaitText(kStatus, expectedResult), expectedResult) << "status box (1011)";
        // The result comes first; then the chain stops the stream and frees the buffers.
        EXPECT_TRUE(awaitEnabled(control(kMeasure), true)) << "Measure! after the measurement";
    }

    void quit() const {
        ASSERT_NO_FATAL_FAILURE(click(m_main, kQuit, "Quit"));
        const auto clicked = std::chrono::steady_clock::now();
        const std::optional<DWORD> exitCode = m_program->waitForExit(10s);
        ASSERT_TRUE(exitCode.has_value()) << "the program still runs 10 s after Quit; windows:\n"
                                          << windowsOfProgram();
        EXPECT_EQ(*exitCode, DWORD{0}) << "exit code";
        EXPECT_LT(std::chrono::steady_clock::now() - clicked, 5s) << "time to end after Quit";
    }

    // Every status text the session showed, in order, reached the debugger output unchanged.
    void expectDebugOutput(const std::vector<std::string>& expected) const {
        std::vector<std::string> texts;
        ui::waitUntil([&] {
            texts = m_monitor->textsFrom(m_program->id());
            return texts.size() >= expected.size();
        });
        EXPECT_EQ(texts, expected) << "debugger output of Tarvelo64.exe";
    }

    void savePicture(HWND window, const std::string& fileName) const {
        const std::string folder = screenshotFolder();
        if (folder.empty()) {
            return;
        }
        WaitForInputIdle(m_program->handle(), 5000);
        const std::string path = folder + "\\" + fileName;
        EXPECT_EQ(saveWindowPicture(window, path), "") << path;
    }

    std::unique_ptr<DebugOutputMonitor> m_monitor;
    std::unique_ptr<ui::Program> m_program;
    HWND m_main = nullptr;
    bool m_registered = false;
};

TEST_F(TarveloSession, MeasuresWithTheSimulatorAndShowsTheInstructions) {
    ASSERT_NO_FATAL_FAILURE(setDriverValue("ShowPanel", "1"));
    ASSERT_NO_FATAL_FAILURE(startProgram());

    // The dialog as start-up leaves it.
    for (const ControlState& state : kInitialStates) {
        expectState(state.id, state.name, state.visible, state.enabled);
    }
    EXPECT_EQ(controlText(kStatus), kSelectDriverPlease) << "status box (1011)";
    EXPECT_EQ(controlText(kQuit), "Quit");
    EXPECT_EQ(controlText(kMeasure), "Measure!");
    EXPECT_EQ(controlText(kHelp), "Help");
    expectList(kSensitivityList, "sensitivity list", kSensitivities, 2);
    expectList(kBufferSizeList, "buffer-size list", {}, -1);
    expectList(kSampleRateList, "sample-rate list", {}, -1);
    const std::optional<ui::ComboContents> drivers = ui::comboContents(control(kDriverList));
    ASSERT_TRUE(drivers.has_value()) << "the driver list did not answer";
    ASSERT_FALSE(drivers->items.empty()) << "the driver list is empty";
    EXPECT_EQ(drivers->items.back(), kSelectDriverItem) << "last item of the driver list";
    EXPECT_EQ(drivers->selected, static_cast<int>(drivers->items.size()) - 1)
        << "selection of the driver list";
    EXPECT_EQ(std::count(drivers->items.begin(), drivers->items.end(), kLoopbackSimName), 1)
        << "the simulator in the driver list";

    // The user picks the simulator: its control panel shows while the driver is being opened.
    const int simulator = driverIndex(kLoopbackSimName);
    ASSERT_GE(simulator, 0) << "the simulator is not listed";
    ASSERT_NO_FATAL_FAILURE(pick(kDriverList, "driver list", simulator));
    HWND panel = awaitDialog(kLoopbackSimName, [](HWND) { return true; });
    ASSERT_NE(panel, nullptr) << "the simulator's control panel did not show; windows:\n"
                              << windowsOfProgram();
    EXPECT_EQ(textOf(GetDlgItem(panel, kMessageBoxText)).rfind("Settings in force:", 0), 0u)
        << "text of the control panel: " << textOf(GetDlgItem(panel, kMessageBoxText));
    EXPECT_EQ(controlText(kStatus), kInitializing) << "status box while the panel shows";
    expectState(kDriverList, "driver list", true, false);
    expectState(kMeasure, "Measure!", true, false);
    ASSERT_TRUE(PostMessageA(panel, WM_COMMAND, IDOK, 0));
    ASSERT_TRUE(awaitGone(panel)) << "the control panel stays after OK";

    EXPECT_EQ(awaitText(kStatus, kDriverReady), kDriverReady) << "status box (1011)";
    expectList(kSampleRateList, "sample-rate list", kRates, 3);
    expectList(kBufferSizeList, "buffer-size list", kSizesAt48000, 3);
    EXPECT_EQ(controlText(kInputsField), "2") << "Inputs field (1002)";
    EXPECT_EQ(controlText(kOutputsField), "2") << "Outputs field (1003)";
    expectState(kDriverList, "driver list", true, false);
    expectState(kSampleRateList, "sample-rate list", true, true);
    expectState(kBufferSizeList, "buffer-size list", true, true);
    expectState(kMeasure, "Measure!", true, true);
    expectState(kAllocateBuffers, "Allocate Buffers", false, true);
    expectState(kInputsField, "Inputs field", false, true);
    expectState(kOutputsField, "Outputs field", false, true);

    ASSERT_NO_FATAL_FAILURE(measure(kResultAt256));
    savePicture(m_main, "main-dialog.bmp");

    // A smaller buffer: two buffers of 64 and the cable.
    ASSERT_NO_FATAL_FAILURE(pick(kBufferSizeList, "buffer-size list", 1));
    ASSERT_NO_FATAL_FAILURE(measure(kResultAt64));
    expectList(kBufferSizeList, "buffer-size list", kSizesAt48000, 1);
    expectState(kDriverList, "driver list", true, false);

    ASSERT_NO_FATAL_FAILURE(click(m_main, kHelp, "Help"));
    ASSERT_NO_FATAL_FAILURE(checkInstructionsDialog("Help button", true));
    ASSERT_TRUE(PostMessageA(m_main, WM_SYSCOMMAND, kAboutCommand, 0));
    ASSERT_NO_FATAL_FAILURE(checkInstructionsDialog("system-menu entry", false));

    ASSERT_NO_FATAL_FAILURE(quit());
    expectDebugOutput({kEnumerating, kSelectDriverPlease, kInitializing, kDriverReady, kMeasuring,
                       kResultAt256, kMeasuring, kResultAt64});
}

TEST_F(TarveloSession, ReportsDriversThatCannotBeOpened) {
    ASSERT_NO_FATAL_FAILURE(setDriverValue("Settings", "init=0"));
    ASSERT_NO_FATAL_FAILURE(startProgram());
    EXPECT_EQ(controlText(kStatus), kSelectDriverPlease) << "status box (1011)";

    // A driver whose init fails.
    const int simulator = driverIndex(kLoopbackSimName);
    ASSERT_GE(simulator, 0) << "the simulator is not listed";
    ASSERT_NO_FATAL_FAILURE(pick(kDriverList, "driver list", simulator));
    ASSERT_NO_FATAL_FAILURE(dismissOpenError("picking the simulator"));
    EXPECT_TRUE(awaitEnabled(control(kDriverList), true)) << "driver list after the error";
    EXPECT_EQ(controlText(kStatus), kInitializing) << "status box after the error";
    expectState(kSampleRateList, "sample-rate list", true, false);
    expectState(kBufferSizeList, "buffer-size list", true, false);
    expectState(kMeasure, "Measure!", true, false);

    // The entry that names no driver.
    const int selectDriver = driverIndex(kSelectDriverItem);
    ASSERT_GE(selectDriver, 0) << kSelectDriverItem << " is not listed";
    ASSERT_NO_FATAL_FAILURE(pick(kDriverList, "driver list", selectDriver));
    ASSERT_NO_FATAL_FAILURE(dismissOpenError("picking " + kSelectDriverItem));
    EXPECT_TRUE(awaitEnabled(control(kDriverList), true)) << "driver list after the error";
    expectState(kMeasure, "Measure!", true, false);

    ASSERT_NO_FATAL_FAILURE(quit());
    expectDebugOutput({kEnumerating, kSelectDriverPlease, kInitializing, kInitializing});
}

} // namespace
