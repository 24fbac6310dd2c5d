// The headless dialog surface and the main dialog's template, status text and state at
// construction.

#include "app/dialog_templates.h"
#include "app/resource_ids.h"
#include "app/tarvelo_dlg.h"
#include "framework/headless/headless.h"
#include "framework/headless/post_queue.h"
#include "support/fake_driver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

class DialogSurface : public ::testing::Test {
protected:
    void SetUp() override { headless::ResetEnvironment(); }
};

TEST_F(DialogSurface, MainTemplateHoldsEveryControlWithItsInitialState) {
    struct Expected {
        int id;
        const char* caption;
        bool visible;
        bool enabled;
    };
    const Expected expected[] = {
        {1, "Quit", true, true},
        {1001, "", true, true},
        {1002, "", false, true},
        {1003, "", false, true},
        {1004, "", true, false},
        {1005, "Allocate Buffers", false, false},
        {1018, "", true, true},
        {1006, "Start", false, false},
        {1007, "Stop", false, false},
        {1008, "", true, false},
        {1009, "", false, true},
        {1010, "Measure Latency", false, false},
        {1011, "", true, true},
        {1012, "Free Buffers", false, false},
        {1013, "Measure!", true, false},
        {1014, "Measurement Instructions...", false, true},
        {1015, "Visit https://www.example.com/tarvelo", false, true},
        {1016, "Help", true, true},
    };
    std::vector<int> tabOrder;
    for (const ControlTemplate& c : kMainDialogTemplate.controls) {
        if (c.id != kNoControlId) {
            EXPECT_TRUE(c.style & dlgstyle::kTabStop) << c.id;
            tabOrder.push_back(c.id);
        }
    }
    ASSERT_EQ(tabOrder.size(), std::size(expected));
    for (std::size_t i = 0; i < tabOrder.size(); ++i) {
        const Expected& e = expected[i];
        EXPECT_EQ(tabOrder[i], e.id);
        const auto& c =
            *std::find_if(kMainDialogTemplate.controls.begin(), kMainDialogTemplate.controls.end(),
                          [&](const ControlTemplate& t) { return t.id == e.id; });
        EXPECT_STREQ(c.caption, e.caption) << e.id;
        EXPECT_EQ(startsVisible(c), e.visible) << e.id;
        EXPECT_EQ(startsEnabled(c), e.enabled) << e.id;
    }
    EXPECT_EQ(std::string("Visit ") + kMakerWebAddress, "Visit https://www.example.com/tarvelo");
    EXPECT_EQ(kMainDialogTemplate.controls.size(), 30u);
    EXPECT_STREQ(kMainDialogTemplate.caption, "Tarvelo");
    EXPECT_EQ(kMainDialogTemplate.width, 272);
    EXPECT_EQ(kMainDialogTemplate.height, 186);
}

TEST_F(DialogSurface, FreshDialogHasItsConstructionValuesAndInitialScreen) {
    CTarveloDlg dlg;
    EXPECT_EQ(g_pMainDlg, &dlg);
    EXPECT_EQ(dlg.m_driverIndex, -1);
    EXPECT_EQ(dlg.m_asio, nullptr);
    EXPECT_EQ(dlg.m_bufferInfos, nullptr);
    EXPECT_EQ(dlg.m_autoMeasure, 1);
    EXPECT_FALSE(dlg.m_measurement.armed());
    EXPECT_EQ(dlg.m_measurement.switchCount(), 0);
    EXPECT_EQ(dlg.m_resetPending.load(), 0);
    EXPECT_EQ(dlg.m_measurement.sampleRate(), 0.0);
    EXPECT_EQ(dlg.m_bufferSize, 0);
    const ASIOChannelInfo zero{};
    EXPECT_EQ(std::memcmp(&dlg.m_inputInfo, &zero, sizeof zero), 0);
    EXPECT_EQ(std::memcmp(&dlg.m_outputInfo, &zero, sizeof zero), 0);
    EXPECT_EQ(dlg.GetDlgItem(ctl::kStatus), nullptr); // no window before it is created

    dlg.Create();
    auto* surface = headless::SurfaceOf(dlg);
    ASSERT_NE(surface, nullptr);
    const auto* drivers = surface->control(ctl::kDriverList);
    ASSERT_EQ(drivers->items.size(), 1u); // no installed driver on the empty platform
    EXPECT_EQ(drivers->items[0].text, "--- Select Driver ---");
    EXPECT_EQ(drivers->selection, 0);
    const auto* levels = surface->control(ctl::kSensitivityList);
    ASSERT_EQ(levels->items.size(), 4u);
    EXPECT_EQ(levels->items[2].text, "-12 dB");
    EXPECT_EQ(levels->selection, 2);
    EXPECT_EQ(dlg.m_measurement.sensitivity(), 2);
    EXPECT_EQ(surface->control(ctl::kStatus)->text, "Please select ASIO driver");
    EXPECT_EQ(headless::DebugOutputTexts(),
              (std::vector<std::string>{"Initialization... Enumerating ASIO drivers...",
                                        "Please select ASIO driver"}));
}

TEST_F(DialogSurface, ChannelArrayListsInputsThenOutputs) {
    ASIOBufferInfo* infos = CTarveloDlg::BuildChannelArray(2, 2);
    ASSERT_NE(infos, nullptr);
    const std::pair<int, int> expected[] = {{1, 0}, {1, 1}, {0, 0}, {0, 1}};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(infos[i].isInput, expected[i].first);
        EXPECT_EQ(infos[i].channelNum, expected[i].second);
        EXPECT_EQ(infos[i].buffers[0], nullptr);
    }
    delete[] infos;
    EXPECT_EQ(CTarveloDlg::BuildChannelArray(-1, 2), nullptr);
}

TEST_F(DialogSurface, DestroyingWithBuffersDisposesThemOnce) {
    FakeDriver driver;
    {
        CTarveloDlg dlg;
        dlg.m_asio = &driver;
        dlg.m_bufferInfos = CTarveloDlg::BuildChannelArray(1, 1);
    }
    EXPECT_EQ(driver.calls, std::vector<std::string>{"disposeBuffers"});
}

TEST_F(DialogSurface, StatusTextFormatsShowsAndSendsToTheDebuggerOutput) {
    CTarveloDlg dlg;
    dlg.Create();
    headless::ResetEnvironment();
    dlg.SetStatusText("%d samples\r\n%s", 5, "second line");
    EXPECT_EQ(dlg.GetDlgItem(ctl::kStatus)->GetWindowText(), "5 samples\r\nsecond line");
    dlg.SetStatusText("%s", ""); // formats to nothing: changes nothing
    EXPECT_EQ(dlg.GetDlgItem(ctl::kStatus)->GetWindowText(), "5 samples\r\nsecond line");
    EXPECT_EQ(headless::DebugOutputTexts(), std::vector<std::string>{"5 samples\r\nsecond line"});

    const std::string longText(5000, 'x');
    dlg.SetStatusText("%s", longText.c_str());
    EXPECT_EQ(dlg.GetDlgItem(ctl::kStatus)->GetWindowText(), std::string(2047, 'x'));
}

// A dialog without a status box, to show the text still reaches the debugger output.
constexpr ControlTemplate kBareControls[] = {
    {ctl::kQuit,
     ControlKind::Button,
     "Quit",
     {0, 0, 10, 10},
     dlgstyle::kChild | dlgstyle::kVisible},
    {7, ControlKind::ComboBox, "", {0, 0, 10, 10}, dlgstyle::kChild | dlgstyle::kVisible},
    {8, ControlKind::Button, "Hidden", {0, 0, 10, 10}, dlgstyle::kChild},
};
const DialogTemplate kBareTemplate = {1, "Bare", 10, 10, "MS Shell Dlg", 8, 0, 0, kBareControls};

class BareDialog : public CDialog {
public:
    BareDialog()
        : CDialog(kBareTemplate) {}
    int clicks = 0;
    void OnHidden() { ++clicks; }

protected:
    std::span<const MessageMapEntry> GetMessageMap() const override {
        static const MessageMapEntry kMap[] = {MapBnClicked(8, &BareDialog::OnHidden)};
        return kMap;
    }
};

TEST_F(DialogSurface, ListsAreUnsortedWithOneDatumPerItemAndNoSelectionAsMinusOne) {
    BareDialog dlg;
    dlg.Create();
    CWnd* list = dlg.GetDlgItem(7);
    EXPECT_EQ(list->GetCurSel(), -1);
    EXPECT_EQ(list->AddString("b"), 0);
    EXPECT_EQ(list->AddString("a"), 1);
    EXPECT_EQ(list->SetItemData(1, 0xFFFFFFFFu), 0);
    EXPECT_EQ(list->GetItemData(1), 0xFFFFFFFFu);
    EXPECT_EQ(list->GetItemData(0), 0u);
    EXPECT_EQ(list->SetCurSel(1), 1);
    EXPECT_EQ(list->SetCurSel(5), CB_ERR);
    EXPECT_EQ(list->GetCurSel(), -1);
    EXPECT_EQ(headless::SurfaceOf(dlg)->control(7)->items[0].text, "b");
    list->ResetContent();
    EXPECT_EQ(list->GetCount(), 0);
    EXPECT_EQ(dlg.GetDlgItem(1234), nullptr);
}

TEST_F(DialogSurface, SentCommandsRunAtOnceEvenForHiddenControlsButHandsCannotClickThem) {
    BareDialog dlg;
    dlg.Create();
    dlg.SendMessage(WM_COMMAND, makeCommandWParam(8, BN_CLICKED), 0);
    EXPECT_EQ(dlg.clicks, 1);
    EXPECT_FALSE(headless::Click(dlg, 8));
    EXPECT_EQ(dlg.clicks, 1);
    EXPECT_TRUE(headless::Click(dlg, ctl::kQuit)); // IDOK ends the dialog
    EXPECT_TRUE(headless::SurfaceOf(dlg)->ended());
    EXPECT_EQ(headless::SurfaceOf(dlg)->result(), IDOK);
}

TEST_F(DialogSurface, StatusTextWithoutAStatusBoxStillReachesTheDebuggerOutput) {
    // SetStatusText belongs to the main dialog; a main dialog whose window is not made has no
    // control 1011 at all.
    CTarveloDlg dlg;
    dlg.SetStatusText("Only %s", "debug");
    EXPECT_EQ(headless::DebugOutputTexts(), std::vector<std::string>{"Only debug"});
}

TEST_F(DialogSurface, PostedCommandsFromManyThreadsAllArriveInTheModalLoop) {
    BareDialog dlg;
    dlg.Create();
    constexpr int kThreads = 4;
    constexpr int kPerThread = 200;
    std::vector<std::thread> posters;
    for (int t = 0; t < kThreads; ++t) {
        posters.emplace_back([&] {
            for (int i = 0; i < kPerThread; ++i) {
                while (!dlg.PostMessage(WM_COMMAND, makeCommandWParam(8, BN_CLICKED), 0)) {
                    std::this_thread::yield(); // the queue is full until the loop drains it
                }
            }
        });
    }
    EXPECT_TRUE(headless::SurfaceOf(dlg)->pumpUntil(
        [&] { return dlg.clicks == kThreads * kPerThread; }, 10s));
    for (auto& t : posters) {
        t.join();
    }
    EXPECT_EQ(dlg.clicks, kThreads * kPerThread);
}

TEST_F(DialogSurface, MessageBoxesAreRecordedAndAnsweredByTheResponder) {
    BareDialog dlg;
    dlg.Create();
    std::atomic<int> asked{0};
    headless::SetMessageBoxResponder([&](const headless::MessageBoxRecord&) {
        ++asked;
        return IDCANCEL;
    });
    EXPECT_EQ(dlg.MessageBox("owned", "Tarvelo", MB_ICONSTOP), IDCANCEL);
    std::thread other([] { ShowMessageBox("from a driver", "Tarvelo", MB_ICONINFORMATION); });
    other.join();
    const auto boxes = headless::MessageBoxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_TRUE(boxes[0].owned);
    EXPECT_EQ(boxes[0].type, MB_ICONSTOP);
    EXPECT_FALSE(boxes[1].owned);
    EXPECT_EQ(boxes[1].text, "from a driver");
    EXPECT_EQ(asked.load(), 2);
}

TEST(PostQueueTest, RefusesWhenFullAndKeepsOrder) {
    PostQueue<int, 4> queue;
    for (int i = 0; i < 4; ++i) {
        EXPECT_TRUE(queue.push(i));
    }
    EXPECT_FALSE(queue.push(99));
    int v = -1;
    for (int i = 0; i < 4; ++i) {
        ASSERT_TRUE(queue.pop(v));
        EXPECT_EQ(v, i);
    }
    EXPECT_FALSE(queue.pop(v));
    EXPECT_TRUE(queue.push(5)); // slots are reused after the wrap
    EXPECT_TRUE(queue.pop(v));
    EXPECT_EQ(v, 5);
}

} // namespace
