#include "debug_output_monitor.h"

#include <cstring>

namespace {

// The shared buffer: the writer's process id, then its text, cut to fit and terminated.
constexpr DWORD kBufferBytes = 4096;
constexpr std::size_t kTextBytes = kBufferBytes - sizeof(DWORD);
// How often the listener looks at whether it should stop.
constexpr DWORD kStopCheckMs = 50;

std::string lastErrorText(const char* what) {
    return std::string(what) + " failed (error " + std::to_string(GetLastError()) + ")";
}

} // namespace

DebugOutputMonitor::DebugOutputMonitor() {
    m_mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kBufferBytes,
                                   "DBWIN_BUFFER");
    if (m_mapping == nullptr) {
        m_error = lastErrorText("CreateFileMapping DBWIN_BUFFER");
        return;
    }
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        m_error = "another debugger-output monitor is running (DBWIN_BUFFER exists)";
        return;
    }
    m_buffer = static_cast<const char*>(MapViewOfFile(m_mapping, FILE_MAP_READ, 0, 0, 0));
    m_bufferReady = CreateEventA(nullptr, FALSE, FALSE, "DBWIN_BUFFER_READY");
    m_dataReady = CreateEventA(nullptr, FALSE, FALSE, "DBWIN_DATA_READY");
    if (m_buffer == nullptr || m_bufferReady == nullptr || m_dataReady == nullptr) {
        m_error = lastErrorText("setting up DBWIN_BUFFER_READY, DBWIN_DATA_READY");
        return;
    }
    m_listener = std::thread([this] { listen(); });
}

DebugOutputMonitor::~DebugOutputMonitor() {
    m_stopping = true;
    if (m_listener.joinable()) {
        m_listener.join();
    }
    if (m_buffer != nullptr) {
        UnmapViewOfFile(m_buffer);
    }
    for (HANDLE handle : {m_dataReady, m_bufferReady, m_mapping}) {
        if (handle != nullptr) {
            CloseHandle(handle);
        }
    }
}

std::vector<std::string> DebugOutputMonitor::textsFrom(DWORD processId) const {
    std::vector<std::string> texts;
    const std::lock_guard lock(m_mutex);
    for (const Text& text : m_texts) {
        if (text.processId == processId) {
            texts.push_back(text.text);
        }
    }
    return texts;
}

void DebugOutputMonitor::listen() {
    SetEvent(m_bufferReady);
    while (!m_stopping) {
        if (WaitForSingleObject(m_dataReady, kStopCheckMs) != WAIT_OBJECT_0) {
            continue;
        }
        DWORD processId = 0;
        std::memcpy(&processId, m_buffer, sizeof processId);
        const char* text = m_buffer + sizeof processId;
        {
            const std::lock_guard lock(m_mutex);
            m_texts.push_back({processId, std::string(text, strnlen(text, kTextBytes))});
        }
        SetEvent(m_bufferReady);
    }
}
