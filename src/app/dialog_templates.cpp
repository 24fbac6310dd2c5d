#include "app/dialog_templates.h"

#include "app/resource_ids.h"

using namespace dlgstyle;

namespace {

constexpr std::uint32_t kShown = kChild | kVisible;
constexpr std::uint32_t kLabel = kShown | kGroup | kStaticCenterImage;
constexpr std::uint32_t kList = kChild | kTabStop | kDropDownList | kVScroll;
constexpr std::uint32_t kField = kChild | kTabStop | kEditReadOnly | kBorder | kEditAutoHScroll;
constexpr std::uint32_t kHiddenButton = kChild | kDisabled | kTabStop;
constexpr std::uint32_t kFlatButton = kChild | kTabStop | kButtonFlat;

constexpr char kVisitCaption[] = "Visit " TARVELO_WEB_ADDRESS;

constexpr ControlTemplate kMainControls[] = {
    {kNoControlId, ControlKind::Static, "", {5, 10, 123, 30}, kShown | kStaticBitmap, IDB_LOGO},
    {ctl::kQuit,
     ControlKind::Button,
     "Quit",
     {185, 166, 80, 15},
     kShown | kTabStop | kDefPushButton | kButtonFlat},
    {ctl::kDriverList, ControlKind::ComboBox, "", {5, 60, 260, 59}, kList | kVisible},
    {kNoControlId, ControlKind::Static, "Choose ASIO Driver:", {5, 45, 125, 11}, kLabel},
    {ctl::kInputsField, ControlKind::Edit, "", {125, 140, 70, 12}, kField},
    {kNoControlId,
     ControlKind::Static,
     "Inputs:",
     {15, 140, 90, 15},
     kChild | kGroup | kStaticCenterImage},
    {ctl::kOutputsField, ControlKind::Edit, "", {125, 155, 70, 12}, kField},
    {kNoControlId,
     ControlKind::Static,
     "Outputs:",
     {15, 155, 90, 15},
     kChild | kGroup | kStaticCenterImage},
    {ctl::kBufferSizeList,
     ControlKind::ComboBox,
     "",
     {85, 95, 85, 60},
     kList | kVisible | kDisabled},
    {kNoControlId, ControlKind::Static, "Sample Rate:", {10, 111, 75, 15}, kLabel},
    {ctl::kAllocateBuffers,
     ControlKind::Button,
     "Allocate Buffers",
     {146, 165, 60, 15},
     kHiddenButton},
    {kNoControlId,
     ControlKind::Button,
     "ASIO Driver Parameters:",
     {5, 80, 170, 55},
     kShown | kGroupBox},
    {kNoControlId, ControlKind::Button, "Levels:", {185, 80, 80, 38}, kShown | kGroupBox},
    {kNoControlId, ControlKind::Static, "Input\r\nsensivity:", {190, 95, 28, 20}, kShown | kGroup},
    {ctl::kSensitivityList, ControlKind::ComboBox, "", {222, 95, 40, 60}, kList | kVisible},
    {ctl::kStart, ControlKind::Button, "Start", {176, 165, 40, 15}, kHiddenButton},
    {ctl::kStop, ControlKind::Button, "Stop", {186, 165, 40, 15}, kHiddenButton},
    {ctl::kSampleRateList,
     ControlKind::ComboBox,
     "",
     {85, 110, 85, 60},
     kList | kVisible | kDisabled},
    {kNoControlId, ControlKind::Static, "Buffer Size / Latency:", {10, 95, 70, 15}, kLabel},
    {kNoControlId,
     ControlKind::Static,
     "Reported buffers:",
     {15, 170, 90, 15},
     kChild | kGroup | kStaticCenterImage},
    {ctl::kReportedLatencies, ControlKind::Edit, "", {125, 170, 70, 12}, kField},
    {ctl::kMeasureLatency,
     ControlKind::Button,
     "Measure Latency",
     {110, 165, 85, 15},
     kHiddenButton},
    {ctl::kStatus,
     ControlKind::Edit,
     "",
     {5, 145, 170, 35},
     kShown | kTabStop | kEditMultiLine | kEditReadOnly | kBorder | kEditAutoHScroll},
    {ctl::kFreeBuffers, ControlKind::Button, "Free Buffers", {186, 165, 45, 15}, kHiddenButton},
    {kNoControlId,
     ControlKind::Static,
     "Tarvelo v3.7",
     {140, 10, 125, 30},
     kShown | kGroup | kStaticCenter | kStaticCenterImage | kStaticSunken | kStaticNoPrefix},
    {ctl::kMeasure,
     ControlKind::Button,
     "Measure!",
     {185, 120, 80, 15},
     kFlatButton | kVisible | kDisabled},
    {ctl::kInstructions,
     ControlKind::Button,
     "Measurement Instructions...",
     {60, 170, 140, 15},
     kFlatButton | kButtonCenter},
    {kNoControlId,
     ControlKind::Button,
     "ASIO Driver Configuration:",
     {5, 115, 205, 70},
     kChild | kGroupBox},
    {ctl::kVisitWeb,
     ControlKind::Button,
     kVisitCaption,
     {85, 165, 140, 15},
     kFlatButton | kButtonCenter},
    {ctl::kHelp,
     ControlKind::Button,
     "Help",
     {185, 145, 80, 15},
     kFlatButton | kButtonCenter | kVisible},
};

} // namespace

const DialogTemplate kMainDialogTemplate = {
    IDD_TARVELO_DIALOG,
    "Tarvelo",
    272,
    186,
    "MS Shell Dlg",
    8,
    kPopup | kVisible | kCaption | kSysMenu | kModalFrame | kSetFont,
    kExAppWindow,
    kMainControls,
};

namespace {

constexpr ControlTemplate kAboutControls[] = {
    {kNoControlId,
     ControlKind::Static,
     "\nTarvelo\nVersion 3.7",
     {280, 5, 125, 30},
     kShown | kGroup | kStaticCenter | kStaticSunken},
    {kNoControlId,
     ControlKind::Static,
     "Copyright 2026 Tarvelo developers\nReleased under the MIT License\nNo warranty: see "
     "LICENSE.txt",
     {135, 10, 140, 25},
     kShown | kGroup | kStaticCenter},
    {ctl::kClose,
     ControlKind::Button,
     "Close",
     {310, 270, 95, 14},
     kShown | kGroup | kTabStop | kDefPushButton | kButtonFlat},
    {kNoControlId, ControlKind::Static, "", {5, 5, 123, 30}, kShown | kStaticBitmap, IDB_LOGO},
    {ctl::kVisitWeb,
     ControlKind::Button,
     kVisitCaption,
     {5, 270, 160, 15},
     kShown | kTabStop | kButtonFlat | kButtonCenter},
    {kNoControlId,
     ControlKind::Button,
     "Measurement Instructions",
     {5, 45, 400, 220},
     kShown | kGroupBox},
    {ctl::kInstructionText,
     ControlKind::Edit,
     "",
     {10, 55, 390, 205},
     kShown | kTabStop | kEditMultiLine | kEditReadOnly | kBorder},
};

} // namespace

const DialogTemplate kAboutDialogTemplate = {
    IDD_ABOUTBOX,
    "About Tarvelo",
    412,
    290,
    "MS Shell Dlg",
    8,
    kPopup | kCaption | kSysMenu | kModalFrame | kSetFont,
    0,
    kAboutControls,
};

// clang-format off
const char kInstructionText[] =
    "The Brintesk Tarvelo will measure the round-trip latency for your computer audio system. It works by \r\n"
    "sending a short pulse through your audio interface and measuring the time it takes for the pulse to return. Keep in mind \r\n"
    "that latency will depend on the actual hardware configuration and may change for different equipment.\r\n"
    "\r\n"
    "Measurement Instructions:\r\n"
    "1)  Experiment with the control panel of your ASIO driver to determine the lowest settings, at which \r\n"
    "    you can still get clean sound on recording and playback (no audible clicks, pops or glitches).\r\n"
    "\r\n"
    "2)  On your audio interface, connect the analog input of your sound card to the analog output with a cable.\r\n"
    "    Turn down the speakers for this test, as the system will produce a short audio pulse.\r\n"
    "\r\n"
    "3)  Select the device driver you would like to test from the drop down menu and select the input and output \r\n"
    "    channels you have physically connected together in Step 2.\r\n"
    "\r\n"
    "4)  If available, the device driver's control panel window will appear. Select the sample rate and buffer \r\n"
    "    settings you determined in Step 1.\r\n"
    "\r\n"
    "5)  Click on the 'Measure!' button. The analog round-trip latency will be displayed at the bottom left of the window.\r\n"
    "\r\n"
    "6)  On some systems the measurement quality may be improved by adjusting the input sensivity parameter from\r\n"
    "    the pull-down menu.\r\n"
    "\r\n"
    "Thank you for using the Brintesk Tarvelo. If you have any questions, comments, or suggestions\r\n"
    "please email them to " TARVELO_SUPPORT_EMAIL ".";
// clang-format on
