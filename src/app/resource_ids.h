#pragma once
// Resource, control and command ids of the program's dialogs.

inline constexpr int IDD_ABOUTBOX = 100;
inline constexpr int IDS_ABOUTBOX = 101;
inline constexpr int IDD_TARVELO_DIALOG = 102;
inline constexpr int IDR_MAINFRAME = 128;
inline constexpr int IDB_LOGO = 129;

// Controls of the main dialog.
namespace ctl {
inline constexpr int kQuit = 1;
inline constexpr int kDriverList = 1001;
inline constexpr int kInputsField = 1002;
inline constexpr int kOutputsField = 1003;
inline constexpr int kBufferSizeList = 1004;
inline constexpr int kAllocateBuffers = 1005;
inline constexpr int kStart = 1006;
inline constexpr int kStop = 1007;
inline constexpr int kSampleRateList = 1008;
inline constexpr int kReportedLatencies = 1009;
inline constexpr int kMeasureLatency = 1010;
inline constexpr int kStatus = 1011;
inline constexpr int kFreeBuffers = 1012;
inline constexpr int kMeasure = 1013;
inline constexpr int kInstructions = 1014;
inline constexpr int kVisitWeb = 1015;
inline constexpr int kHelp = 1016;
inline constexpr int kSensitivityList = 1018;
// The instructions dialog's own controls; its web button is kVisitWeb, as on the main dialog.
inline constexpr int kClose = 1;
inline constexpr int kInstructionText = 1016;
} // namespace ctl

// Commands the driver's thread posts to the main dialog, and the system-menu entry.
inline constexpr unsigned ID_RESULT = 1124;
inline constexpr unsigned ID_RESET_REQUEST = 1125;
inline constexpr unsigned ID_SYSMENU_ABOUT = 0x0010;
