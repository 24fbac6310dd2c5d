// The driver kit through the drivers built on it, the loopback simulator and the fixed loop of
// these tests, each made from its entry in the list: what every one of them answers the same way.

#include "drivers/kit/driver_base.h"
#include "drivers/sim/sim_entry.h"
#include "fixed_loop/fixed_loop.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <tuple>

namespace {

void noSwitch(ASIOLong, ASIOBool) {}

// Each is one COM object; it refuses, saying why, every request it cannot take (no channel, no
// callback, a size it does not offer, a channel it does not have or asked for twice), and hands
// out zeroed halves of its own on 16-byte boundaries.
TEST(DriverKit, EveryDriverRefusesWhatItCannotTakeAndHandsOutHalvesOfItsOwn) {
    ASIOCallbacks callbacks{noSwitch, nullptr, nullptr, nullptr};
    ASIOCallbacks none{};
    for (const kit::DriverEntry& entry : {loopbackSimulatorEntry(), fixedLoopEntry()}) {
        SCOPED_TRACE(entry.name);
        std::string error;
        IASIO* driver = entry.configure({}, error).create();
        ASSERT_EQ(driver->init(nullptr), ASIOTrue);
        void* object = nullptr;
        EXPECT_EQ(driver->QueryInterface(entry.classId, &object), 0);
        EXPECT_EQ(object, static_cast<void*>(driver));
        EXPECT_EQ(driver->QueryInterface({1, 2, 3, {}}, &object), int(0x80004002u));
        EXPECT_EQ(driver->Release(), 1u); // the reference the first answer added
        ASIOLong inputs = 0, outputs = 0, size = 0, ignored = 0;
        driver->getChannels(&inputs, &outputs);
        driver->getBufferSize(&ignored, &ignored, &size, &ignored);
        const ASIOBufferInfo in{ASIOTrue, 0, {}}, out{ASIOFalse, 0, {}};
        const std::tuple<std::vector<ASIOBufferInfo>, ASIOLong, ASIOCallbacks*> refused[] = {
            {{}, size, &callbacks},
            {{in, out}, size, &none},
            {{in, out}, size + 1, &callbacks},
            {{in, {ASIOFalse, outputs, {}}}, size, &callbacks},
            {{{ASIOTrue, -1, {}}}, size, &callbacks},
            {{out, in, out}, size, &callbacks},
        };
        for (auto [infos, asked, with] : refused) {
            EXPECT_EQ(driver->createBuffers(infos.data(), static_cast<ASIOLong>(infos.size()),
                                            asked, with),
                      ASE_InvalidParameter);
            char why[kit::kErrorMessageBytes];
            driver->getErrorMessage(why);
            EXPECT_EQ(std::string(why).rfind("createBuffers: ", 0), 0u) << why;
        }
        ASIOBufferInfo infos[] = {in, out};
        ASSERT_EQ(driver->createBuffers(infos, 2, size, &callbacks), ASE_OK);
        const auto bytes = static_cast<std::size_t>(size) * 4; // 32-bit samples, both drivers
        for (int pass = 0; pass < 2; ++pass) {                 // zeroed, then filled apart
            for (unsigned char i = 0; i < 4; ++i) {
                auto* half = static_cast<unsigned char*>(infos[i / 2].buffers[i % 2]);
                EXPECT_EQ(reinterpret_cast<std::uintptr_t>(half) % 16, 0u);
                EXPECT_EQ(std::count(half, half + bytes, pass * (i + 1)), static_cast<long>(bytes));
                std::fill_n(half, bytes, static_cast<unsigned char>(i + 1));
            }
        }
        EXPECT_EQ(driver->disposeBuffers(), ASE_OK);
        EXPECT_EQ(driver->Release(), 0u);
    }
}

} // namespace
