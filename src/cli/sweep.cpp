// --sweep: every buffer size at every rate, of the lists given or else of the driver's.

#include "cli/run.h"
#include "cli/setup.h"

#include <utility>

int measureSweep(Run& run) {
    run.report.kind = RunKind::Sweep;
    std::vector<double> rates = run.options.sweepRates;
    if (rates.empty()) {
        rates = run.session.rates();
    }
    // Every cell is chosen once before any is measured, so that a rate or size the driver does
    // not offer is reported before the sweep, not in its middle.
    std::vector<std::pair<double, std::vector<std::int32_t>>> plan;
    for (const double rate : rates) {
        if (const int status = chooseRate(run, rate); status != 0) {
            return status;
        }
        std::vector<std::int32_t> sizes(run.options.sweepSizes.begin(),
                                        run.options.sweepSizes.end());
        for (const std::int32_t size : sizes) {
            if (const int status = chooseBufferSize(run, size); status != 0) {
                return status;
            }
        }
        if (sizes.empty()) {
            sizes = run.session.bufferSizes();
        }
        run.report.planned += sizes.size();
        plan.emplace_back(rate, std::move(sizes));
    }
    if (run.report.planned == 0) {
        run.console.error(rates.empty() ? "the driver offers no sample rate to sweep"
                                        : "the driver offers no buffer size to sweep");
        return kExitNotMeasured;
    }

    std::size_t done = 0;
    for (const auto& [rate, sizes] : plan) {
        if (const int status = chooseRate(run, rate); status != 0) {
            run.report.failure =
                RunFailure{.kind = "rateRefused",
                           .message = formatted("the driver refused %.0f Hz", rate),
                           .sampleRate = rate};
            return status;
        }
        for (const std::int32_t size : sizes) {
            run.console.progress(formatted("Sweep: %zu of %zu, %.0f Hz, %d samples", ++done,
                                           run.report.planned, rate, static_cast<int>(size)));
            run.session.setBufferSize(size);
            if (!measureInto(run)) {
                run.console.endProgress();
                return kExitNotMeasured;
            }
        }
    }
    run.console.endProgress();
    return kExitMeasured;
}
