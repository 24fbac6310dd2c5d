// The list of drivers of tarvelo-cli-fixed-loop: the fixed loop, and nothing else.

#include "drivers/driver_list.h"
#include "fixed_loop/fixed_loop.h"

const std::vector<kit::DriverEntry>& driverList() {
    static const std::vector<kit::DriverEntry> list{fixedLoopEntry()};
    return list;
}
