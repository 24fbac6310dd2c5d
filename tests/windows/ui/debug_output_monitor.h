#pragma once
// A debugger-output monitor: what OutputDebugStringA hands to the system-wide DBWIN_BUFFER while
// this object lives, whole and unescaped, with the id of the process that wrote it. Only one
// such monitor can exist on a system (or Wine session) at a time. It must be made before the
// program it listens to starts, and must outlive it: a writer waits up to 10 s for the buffer
// whenever a monitor exists that does not read.

#include <windows.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class DebugOutputMonitor {
public:
    DebugOutputMonitor();
    ~DebugOutputMonitor();
    DebugOutputMonitor(const DebugOutputMonitor&) = delete;
    DebugOutputMonitor& operator=(const DebugOutputMonitor&) = delete;

    // Empty when the monitor listens; otherwise why it does not.
    const std::string& error() const { return m_error; }
    // The texts process `processId` has written so far, in order.
    std::vector<std::string> textsFrom(DWORD processId) const;

private:
    struct Text {
        DWORD processId;
        std::string text;
    };

    void listen();

    std::string m_error;
    HANDLE m_bufferReady = nullptr;
    HANDLE m_dataReady = nullptr;
    HANDLE m_mapping = nullptr;
    const char* m_buffer = nullptr;
    std::atomic<bool> m_stopping{false};
    mutable std::mutex m_mutex; // guards m_texts
    std::vector<Text> m_texts;
    std::thread m_listener;
};
