#include "drivers/driver_list.h"

#if !defined(_WIN32)
#include "drivers/jack/jack_entry.h"
#include "drivers/sim/sim_entry.h"
#endif

const std::vector<kit::DriverEntry>& driverList() {
    static const std::vector<kit::DriverEntry> list {
#if !defined(_WIN32)
        loopbackSimulatorEntry(), jackDriverEntry(),
#endif
    };
    return list;
}
