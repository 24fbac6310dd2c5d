#pragma once
// Installs a driver in an in-memory registry the way a Windows installer registers one: a driver
// key under HKLM\SOFTWARE\ASIO named `name` and its class under HKCR\CLSID, so the catalog lists
// it through its ordinary scan. Each instance the catalog creates comes from `factory`.

#include "platform/memory/memory_platform.h"

#include <string>

// `serverPath` must name an existing file, as the catalog checks that the server is there.
void installMemoryDriver(platform::MemoryPlatform& memory, const std::string& name,
                         const ComGuid& classId, platform::MemoryPlatform::Factory factory,
                         const std::string& serverPath);
