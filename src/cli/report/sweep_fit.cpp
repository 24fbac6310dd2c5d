#include "cli/report/sweep_fit.h"

#include <algorithm>

namespace {

std::vector<double> ratesOf(const std::vector<MeasurementResult>& cells) {
    std::vector<double> rates;
    for (const MeasurementResult& cell : cells) {
        if (std::find(rates.begin(), rates.end(), cell.sampleRate) == rates.end()) {
            rates.push_back(cell.sampleRate);
        }
    }
    return rates;
}

bool counts(const MeasurementResult& cell, double rate) {
    return cell.sampleRate == rate && cell.verdict.verified() && cell.latencySamples;
}

} // namespace

std::vector<LatencyFit> fitPerRate(const std::vector<MeasurementResult>& cells) {
    std::vector<LatencyFit> fits;
    for (double rate : ratesOf(cells)) {
        // Plain sums rather than centred ones: latencies and buffer sizes are whole numbers
        // small enough that every sum below is exact in a double, so exact data give an exact
        // fit (2, not 2.0000000000000004).
        double n = 0;
        double sumX = 0;
        double sumY = 0;
        double sumXX = 0;
        double sumXY = 0;
        for (const MeasurementResult& cell : cells) {
            if (!counts(cell, rate)) {
                continue;
            }
            const double x = cell.bufferSize;
            const double y = *cell.latencySamples;
            n += 1;
            sumX += x;
            sumY += y;
            sumXX += x * x;
            sumXY += x * y;
        }
        const double spread = n * sumXX - sumX * sumX;
        if (spread <= 0) {
            continue; // fewer than two buffer sizes: no line to fit
        }
        LatencyFit fit;
        fit.sampleRate = rate;
        fit.perBuffer = (n * sumXY - sumX * sumY) / spread;
        fit.fixedSamples = (sumY - fit.perBuffer * sumX) / n;
        fit.points = static_cast<int>(n);
        fits.push_back(fit);
    }
    return fits;
}

std::vector<MissingFit> ratesWithoutFit(const std::vector<MeasurementResult>& cells) {
    std::vector<MissingFit> missing;
    for (double rate : ratesOf(cells)) {
        std::vector<std::int32_t> sizes;
        for (const MeasurementResult& cell : cells) {
            if (counts(cell, rate) &&
                std::find(sizes.begin(), sizes.end(), cell.bufferSize) == sizes.end()) {
                sizes.push_back(cell.bufferSize);
            }
        }
        if (sizes.size() < 2) {
            missing.push_back({rate, static_cast<int>(sizes.size())});
        }
    }
    return missing;
}
