#pragma once
// The installed simulator's registry entries. Its driver key, HKLM\SOFTWARE\ASIO\<name>, holds
// what hosts read (CLSID, Description) and what the user may add to script a personality:
// "Settings", the text form parseSimSettings reads, "ShowPanel" = "1" to let controlPanel
// open a window, and "CrashOnUnload" = "1" to make the DLL crash while it is unloaded. Its class
// key, HKCR\CLSID\{class id}, names the server file.

#include <string>

// HKLM\SOFTWARE\ASIO\Tarvelo Loopback Simulator, below HKEY_LOCAL_MACHINE.
std::string simDriverKeyPath();

// The text of the "Settings" value into `text`, or an empty text when there is no such value
// or key. False, with `error` saying why, when the value exists but is not readable text.
bool readSettingsText(std::string& text, std::string& error);
// Whether "ShowPanel" holds the text "1".
bool isPanelEnabled();
// Whether "CrashOnUnload" holds the text "1".
bool isCrashOnUnloadRequested();

// Writes both keys for the server file `serverPath`, keeping a "Settings" value already there.
// Returns 0 or the Win32 error code; on failure nothing of the registration is left.
long registerSimServer(const std::wstring& serverPath);
// Removes both keys with everything below them; keys that are already gone are no failure.
long unregisterSimServer();
