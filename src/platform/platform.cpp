#include "platform/platform.h"

#ifndef _WIN32
#include "platform/memory/memory_platform.h"
#endif

namespace platform {
namespace {

Platform* installedPlatform = nullptr;

Platform& defaultPlatform() {
#ifdef _WIN32
    return win32Platform();
#else
    // No registry here: an empty one, so that a catalog lists no drivers.
    static MemoryPlatform emptyRegistry;
    return emptyRegistry;
#endif
}

} // namespace

Platform& currentPlatform() {
    return installedPlatform != nullptr ? *installedPlatform : defaultPlatform();
}

ScopedPlatform::ScopedPlatform(Platform& p)
    : m_previous(installedPlatform) {
    installedPlatform = &p;
}

ScopedPlatform::~ScopedPlatform() {
    installedPlatform = m_previous;
}

} // namespace platform
