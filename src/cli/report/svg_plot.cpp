#include "cli/report/svg_plot.h"

#include "cli/report/matrix_findings.h"
#include "cli/report/sweep_fit.h"
#include "engine/sensitivity.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <utility>
#include <vector>

namespace {

constexpr double kWidth = 900;
constexpr double kHeight = 500;
constexpr double kLeft = 70;
constexpr double kRight = 220; // room for the legend
constexpr double kTop = 40;
constexpr double kBottom = 50;

constexpr const char* kPalette[] = {"#1f77b4", "#d62728", "#2ca02c", "#9467bd",
                                    "#ff7f0e", "#17becf", "#8c564b", "#e377c2"};

std::string escaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

// A tick step of 1, 2 or 5 times a power of ten that cuts `span` into about `count` parts.
double tickStep(double span, int count) {
    const double raw = span / count;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (double factor : {1.0, 2.0, 5.0}) {
        if (factor * power >= raw) {
            return factor * power;
        }
    }
    return 10 * power;
}

struct Range {
    double lo;
    double hi;
};

enum class Marker { Line, DashedLine, Tick, Dot, Square };

// A marker centred on (x, y), for the plot and its legend alike.
std::string marker(Marker kind, double x, double y, const char* colour,
                   const char* cssClass = "legend") {
    switch (kind) {
    case Marker::Line:
    case Marker::DashedLine:
        return formatted("<line class=\"%s\" x1=\"%.2f\" y1=\"%.2f\" x2=\"%.2f\" y2=\"%.2f\" "
                         "stroke=\"%s\" stroke-width=\"2\"%s/>\n",
                         cssClass, x - 7, y, x + 7, y, colour,
                         kind == Marker::DashedLine ? " stroke-dasharray=\"6 4\"" : "");
    case Marker::Tick:
        return formatted("<line class=\"%s\" x1=\"%.2f\" y1=\"%.2f\" x2=\"%.2f\" y2=\"%.2f\" "
                         "stroke=\"%s\" stroke-width=\"2\"/>\n",
                         cssClass, x, y - 7, x, y + 7, colour);
    case Marker::Dot:
        return formatted("<circle class=\"%s\" cx=\"%.2f\" cy=\"%.2f\" r=\"3.5\" fill=\"%s\"/>\n",
                         cssClass, x, y, colour);
    case Marker::Square:
        return formatted("<rect class=\"%s\" x=\"%.2f\" y=\"%.2f\" width=\"7\" height=\"7\" "
                         "fill=\"none\" stroke=\"%s\"/>\n",
                         cssClass, x - 3.5, y - 3.5, colour);
    }
    return {};
}

// A plot area with axes, and the marks drawn in it in data coordinates.
class Chart {
public:
    Chart(std::string title, std::string xLabel, std::string yLabel, Range x, Range y)
        : m_title(std::move(title))
        , m_xLabel(std::move(xLabel))
        , m_yLabel(std::move(yLabel))
        , m_x(x)
        , m_y(y) {}

    double px(double x) const {
        return kLeft + (x - m_x.lo) / (m_x.hi - m_x.lo) * (kWidth - kLeft - kRight);
    }
    double py(double y) const {
        return kHeight - kBottom - (y - m_y.lo) / (m_y.hi - m_y.lo) * (kHeight - kTop - kBottom);
    }

    void line(const std::vector<std::pair<double, double>>& points, const char* colour,
              const std::string& attributes = "") {
        std::string list;
        for (const auto& [x, y] : points) {
            list += formatted("%.2f,%.2f ", px(x), py(y));
        }
        m_marks += formatted("<polyline fill=\"none\" stroke=\"%s\" stroke-width=\"1.5\" "
                             "points=\"%s\" %s/>\n",
                             colour, list.c_str(), attributes.c_str());
    }
    void add(const std::string& element) { m_marks += element; }
    // The next line of the legend, beside the plot.
    void legend(const std::string& text, Marker kind, const char* colour) {
        const double x = kWidth - kRight + 27;
        const double y = kTop + 10 + 20 * m_legendEntries++;
        m_marks += marker(kind, x, y, colour);
        m_marks += formatted("<text class=\"legend\" x=\"%.1f\" y=\"%.1f\" "
                             "dominant-baseline=\"middle\">%s</text>\n",
                             x + 12, y, escaped(text).c_str());
    }

    std::string document() const {
        std::string svg =
            formatted("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%.0f\" height=\"%.0f\" "
                      "viewBox=\"0 0 %.0f %.0f\" font-family=\"sans-serif\" font-size=\"12\">\n"
                      "<rect width=\"100%%\" height=\"100%%\" fill=\"white\"/>\n"
                      "<text x=\"%.1f\" y=\"24\" font-size=\"15\">%s</text>\n",
                      kWidth, kHeight, kWidth, kHeight, kLeft, escaped(m_title).c_str());
        svg += axes();
        return svg + m_marks + "</svg>\n";
    }

private:
    std::string axes() const {
        const double bottom = kHeight - kBottom;
        const double right = kWidth - kRight;
        std::string svg = formatted("<rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\" "
                                    "fill=\"none\" stroke=\"black\"/>\n",
                                    kLeft, kTop, right - kLeft, bottom - kTop);
        const double xStep = tickStep(m_x.hi - m_x.lo, 8);
        for (double x = std::ceil(m_x.lo / xStep) * xStep; x <= m_x.hi; x += xStep) {
            svg += formatted("<line x1=\"%.2f\" y1=\"%.1f\" x2=\"%.2f\" y2=\"%.1f\" "
                             "stroke=\"#ddd\"/>\n<text class=\"x-tick\" x=\"%.2f\" y=\"%.1f\" "
                             "text-anchor=\"middle\">%g</text>\n",
                             px(x), kTop, px(x), bottom, px(x), bottom + 16, x);
        }
        const double yStep = tickStep(m_y.hi - m_y.lo, 6);
        for (double y = std::ceil(m_y.lo / yStep) * yStep; y <= m_y.hi + yStep * 1e-9; y += yStep) {
            svg += formatted("<line x1=\"%.1f\" y1=\"%.2f\" x2=\"%.1f\" y2=\"%.2f\" "
                             "stroke=\"#ddd\"/>\n<text x=\"%.1f\" y=\"%.2f\" text-anchor=\"end\" "
                             "dominant-baseline=\"middle\">%g</text>\n",
                             kLeft, py(y), right, py(y), kLeft - 6, py(y),
                             std::abs(y) < yStep * 1e-9 ? 0.0 : y);
        }
        svg += formatted("<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\">%s</text>\n",
                         (kLeft + right) / 2, kHeight - 12, escaped(m_xLabel).c_str());
        svg += formatted("<text transform=\"translate(18 %.1f) rotate(-90)\" "
                         "text-anchor=\"middle\">%s</text>\n",
                         (kTop + bottom) / 2, escaped(m_yLabel).c_str());
        return svg;
    }

    std::string m_title;
    std::string m_xLabel;
    std::string m_yLabel;
    Range m_x;
    Range m_y;
    std::string m_marks;
    int m_legendEntries = 0;
};

// The samples [from, to) of `channel` as a line, each at its index less `origin`: the lowest and
// highest sample of each pixel column when there are more samples than columns, so that no peak
// is lost.
std::vector<std::pair<double, double>> envelope(const std::vector<float>& channel, std::size_t from,
                                                std::size_t to, std::size_t origin) {
    const auto columns = static_cast<std::size_t>(kWidth - kLeft - kRight);
    const std::size_t perColumn = std::max<std::size_t>(1, (to - from + columns - 1) / columns);
    std::vector<std::pair<double, double>> points;
    for (std::size_t start = from; start < to; start += perColumn) {
        const std::size_t end = std::min(to, start + perColumn);
        const auto [low, high] = std::minmax_element(channel.begin() + static_cast<long>(start),
                                                     channel.begin() + static_cast<long>(end));
        const double x = static_cast<double>(start) - static_cast<double>(origin);
        points.emplace_back(x, *low);
        if (perColumn > 1) {
            points.emplace_back(x, *high);
        }
    }
    return points;
}

// Where the input is loudest in [from, to), and how loud (full scale = 1); 0 when silent.
std::pair<std::size_t, double> loudest(const std::vector<float>& channel, std::size_t from,
                                       std::size_t to) {
    std::pair<std::size_t, double> peak{from, 0.0};
    for (std::size_t n = from; n < to; ++n) {
        if (const double level = std::abs(channel[n]); level > peak.second) {
            peak = {n, level};
        }
    }
    return peak;
}

// What the legend says of a measurement that gave no latency: what the input did hear.
std::string whyNoLatency(const MeasurementResult& result, double peak, double threshold) {
    const bool notThePulse =
        std::any_of(result.verdict.reasons.begin(), result.verdict.reasons.end(),
                    [](const VerdictReason& r) { return r.kind == VerdictReason::NotThePulse; });
    if (peak <= 0) {
        return "nothing came back: the input stayed silent";
    }
    const double peakDb = 20 * std::log10(peak);
    if (notThePulse) {
        return formatted("what crossed is not the pulse (peak %.1f dBFS)", peakDb);
    }
    if (result.method == MethodKind::Threshold && peak <= threshold) {
        return formatted("under the threshold: peak %.1f dBFS, %.1f dB below", peakDb,
                         20 * std::log10(threshold / peak));
    }
    return formatted("no loop found (peak %.1f dBFS)", peakDb);
}

// A mark across the plot at the latency, which its data-sample attribute holds too.
void latencyMark(Chart& chart, double latency, Range y, const char* colour, const char* cssClass,
                 const std::string& title) {
    chart.add(formatted("<line class=\"%s\" data-sample=\"%.10g\" x1=\"%.2f\" y1=\"%.2f\" "
                        "x2=\"%.2f\" y2=\"%.2f\" stroke=\"%s\" stroke-width=\"2\">"
                        "<title>%s</title></line>\n",
                        cssClass, latency, chart.px(latency), chart.py(y.lo), chart.px(latency),
                        chart.py(y.hi), colour, escaped(title).c_str()));
}

} // namespace

std::string onsetPlot(const MeasurementResult& result, const Recording& recording) {
    std::size_t input = 0;
    if (result.threshold) {
        input = static_cast<std::size_t>(result.threshold->input);
    } else if (result.correlation && result.correlation->input >= 0) {
        input = static_cast<std::size_t>(result.correlation->input);
    }
    const std::vector<float>* heard =
        input < recording.inputs.size() ? &recording.inputs[input] : nullptr;
    // The latency counts from the stimulus's first sample (after the correlation's lead-in), the
    // recording from the first switch: the axis counts as the latency does.
    std::size_t stimulusStart = 0;
    if (!recording.outputs.empty()) {
        const std::vector<float>& stimulus = recording.outputs.front();
        const auto end = stimulus.begin() + static_cast<long>(recording.length);
        stimulusStart = static_cast<std::size_t>(
            std::find_if(stimulus.begin(), end, [](float s) { return s != 0.0f; }) -
            stimulus.begin());
    }
    const double threshold = thresholdForSensitivity(result.sensitivity) / 2147483648.0;
    const auto [peakAt, peak] =
        heard ? loudest(*heard, stimulusStart, recording.length) : std::pair{stimulusStart, 0.0};
    const std::size_t buffer = static_cast<std::size_t>(std::max(recording.bufferSize, 1));
    const std::size_t before = std::max<std::size_t>(buffer / 2, 16);
    const std::size_t after =
        std::max(buffer + buffer / 2, static_cast<std::size_t>(recording.sampleRate * 0.02));
    // Around the arrival; with none, around what the input heard loudest, or the stimulus.
    std::size_t centre = peak > 0 ? peakAt : stimulusStart;
    if (result.latencySamples) {
        centre = stimulusStart + static_cast<std::size_t>(*result.latencySamples);
    }
    const std::size_t from = centre > before ? centre - before : 0;
    const std::size_t to = std::min(recording.length, centre + after);
    const double origin = static_cast<double>(stimulusStart);
    const Range level{-1.05, 1.05};
    const Range samples{static_cast<double>(from) - origin,
                        static_cast<double>(std::max(to, from + 1)) - origin};
    Chart chart(formatted("Input %zu around the onset: %.0f Hz, buffer %d", input + 1,
                          result.sampleRate, static_cast<int>(result.bufferSize)),
                "samples after the stimulus left (the latency)", "level (full scale = 1)", samples,
                level);
    if (heard && to > from) {
        chart.line(envelope(*heard, from, to, stimulusStart), kPalette[0]);
    }
    chart.legend("recorded input", Marker::Line, kPalette[0]);

    if (result.method == MethodKind::Threshold) {
        chart.line({{samples.lo, threshold}, {samples.hi, threshold}}, kPalette[4],
                   "class=\"threshold\" stroke-dasharray=\"6 4\"");
        chart.legend(formatted("threshold (%.3f)", threshold), Marker::DashedLine, kPalette[4]);
    }
    if (!result.latencySamples) {
        chart.legend(whyNoLatency(result, peak, threshold), Marker::Tick, "none");
    } else {
        const bool correlated = result.correlation.has_value();
        const std::string title =
            correlated ? formatted("correlation peak: %.2f samples", *result.latencySamples)
                       : formatted("onset: %.0f samples", *result.latencySamples);
        latencyMark(chart, *result.latencySamples, level, kPalette[1],
                    correlated ? "peak" : "onset", title);
        chart.legend(title, Marker::Tick, kPalette[1]);
    }
    return chart.document();
}

std::string sweepPlot(const Report& report) {
    const std::vector<LatencyFit> fits = fitPerRate(report.measurements);
    std::vector<double> rates;
    double largestSize = 1;
    double longest = 0;
    for (const MeasurementResult& cell : report.measurements) {
        if (std::find(rates.begin(), rates.end(), cell.sampleRate) == rates.end()) {
            rates.push_back(cell.sampleRate);
        }
        largestSize = std::max(largestSize, static_cast<double>(cell.bufferSize));
        const double reported =
            toMs(static_cast<double>(cell.reportedInputLatency + cell.reportedOutputLatency),
                 cell.sampleRate);
        longest = std::max({longest, cell.latencyMs().value_or(0), reported});
    }
    const Range sizes{0, largestSize * 1.05};
    Chart chart("Latency against buffer size: " + report.driver, "buffer size (samples)",
                "latency (ms)", sizes, {0, std::max(longest, 1.0) * 1.08});

    for (std::size_t r = 0; r < rates.size(); ++r) {
        const char* colour = kPalette[r % std::size(kPalette)];
        for (const MeasurementResult& cell : report.measurements) {
            if (cell.sampleRate != rates[r]) {
                continue;
            }
            const double reported =
                toMs(static_cast<double>(cell.reportedInputLatency + cell.reportedOutputLatency),
                     cell.sampleRate);
            chart.add(marker(Marker::Square, chart.px(cell.bufferSize), chart.py(reported), colour,
                             "reported"));
            if (const std::optional<double> ms = cell.latencyMs()) {
                chart.add(marker(Marker::Dot, chart.px(cell.bufferSize), chart.py(*ms), colour,
                                 "measured"));
            }
        }
        std::string legend = formatted("%.0f Hz", rates[r]);
        for (const LatencyFit& fit : fits) {
            if (fit.sampleRate == rates[r]) {
                const auto ms = [&fit](double size) {
                    return toMs(fit.fixedSamples + fit.perBuffer * size, fit.sampleRate);
                };
                chart.line({{sizes.lo, ms(sizes.lo)}, {sizes.hi, ms(sizes.hi)}}, colour,
                           "class=\"fit\" stroke-opacity=\"0.6\"");
                legend += formatted(": %.5g + %.4g B", fit.fixedSamples, fit.perBuffer);
            }
        }
        chart.legend(legend, Marker::Line, colour);
    }
    chart.legend("measured", Marker::Dot, "gray");
    chart.legend("reported in + out", Marker::Square, "gray");
    chart.legend("fit, in samples: a + b B", Marker::Line, "gray");
    return chart.document();
}

namespace {

// Where the pairs of a finding lie: each is outlined in the grid.
bool namedByFinding(const MatrixCell& cell, const std::vector<MatrixFinding>& findings) {
    return std::any_of(findings.begin(), findings.end(), [&cell](const MatrixFinding& found) {
        switch (found.kind) {
        case MatrixFinding::LatencyApart:
            return cell.output == found.output && cell.input == found.input;
        case MatrixFinding::SeveralOutputs:
            return cell.input == found.input &&
                   std::find(found.outputs.begin(), found.outputs.end(), cell.output) !=
                       found.outputs.end();
        case MatrixFinding::Swapped:
            return (cell.output == found.output && cell.input == found.input) ||
                   (cell.output == found.input && cell.input == found.output);
        case MatrixFinding::HeardNowhere:
            return cell.output == found.output;
        }
        return false;
    });
}

const char* cellColour(const MeasurementResult& result) {
    if (returnedNothing(result)) {
        return "#eeeeee";
    }
    switch (result.verdict.verdict) {
    case Verdict::Verified:
        return "#a1d99b";
    case Verdict::Doubtful:
        return "#fdd49e";
    case Verdict::NoResult:
        break;
    }
    return "#fc9272";
}

} // namespace

std::string matrixPlot(const Report& report) {
    constexpr double kCellWidth = 110;
    constexpr double kCellHeight = 48;
    constexpr double kLabelWidth = 170;
    constexpr double kHeader = 70;
    const std::vector<std::int32_t> inputs = matrixInputs(report.matrix);
    const std::vector<std::int32_t> outputs = matrixOutputs(report.matrix);
    const std::vector<MatrixFinding> findings = matrixFindings(report.matrix);
    const auto at = [](const std::vector<std::int32_t>& channels, std::int32_t channel) {
        return static_cast<double>(std::find(channels.begin(), channels.end(), channel) -
                                   channels.begin());
    };
    const double gridBottom = kHeader + kCellHeight * static_cast<double>(outputs.size());
    const double width =
        std::max(kLabelWidth + kCellWidth * static_cast<double>(inputs.size()) + 20, 640.0);
    const double height = gridBottom + 60 + 20 * static_cast<double>(findings.size());
    const char* method =
        report.matrix.empty() ? "" : methodName(report.matrix.front().result.method);

    std::string svg =
        formatted("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%.0f\" height=\"%.0f\" "
                  "viewBox=\"0 0 %.0f %.0f\" font-family=\"sans-serif\" font-size=\"12\">\n"
                  "<rect width=\"100%%\" height=\"100%%\" fill=\"white\"/>\n",
                  width, height, width, height);
    svg += "<text x=\"10\" y=\"22\" font-size=\"15\">" +
           escaped(formatted("Channel matrix (%s): ", method) + report.driver) + "</text>\n";
    svg += formatted("<text x=\"10\" y=\"%.0f\">outputs down, inputs across; latency in "
                     "samples</text>\n",
                     kHeader - 30);
    for (const std::int32_t input : inputs) {
        svg += formatted("<text class=\"input\" x=\"%.1f\" y=\"%.0f\" text-anchor=\"middle\">",
                         kLabelWidth + kCellWidth * (at(inputs, input) + 0.5), kHeader - 8) +
               escaped("in " + channelLabel(input, report.inputNames)) + "</text>\n";
    }
    for (const std::int32_t output : outputs) {
        svg += formatted("<text class=\"output\" x=\"10\" y=\"%.1f\">",
                         kHeader + kCellHeight * (at(outputs, output) + 0.5) + 4) +
               escaped("out " + channelLabel(output, report.outputNames)) + "</text>\n";
    }
    for (const MatrixCell& cell : report.matrix) {
        const MeasurementResult& result = cell.result;
        const double x = kLabelWidth + kCellWidth * at(inputs, cell.input);
        const double y = kHeader + kCellHeight * at(outputs, cell.output);
        const bool named = namedByFinding(cell, findings);
        const std::string latency = pairLatencyText(result);
        svg += formatted("<rect class=\"pair\" data-output=\"%d\" data-input=\"%d\" "
                         "data-verdict=\"%s\" x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" "
                         "height=\"%.1f\" fill=\"%s\" stroke=\"%s\" stroke-width=\"%d\"/>\n",
                         static_cast<int>(cell.output), static_cast<int>(cell.input),
                         verdictName(result.verdict.verdict), x + 1, y + 1, kCellWidth - 2,
                         kCellHeight - 2, cellColour(result), named ? "#d62728" : "white",
                         named ? 3 : 1);
        svg += formatted("<text class=\"latency\" x=\"%.1f\" y=\"%.1f\" "
                         "text-anchor=\"middle\" font-size=\"14\">%s</text>\n",
                         x + kCellWidth / 2, y + kCellHeight / 2, latency.c_str());
        if (result.latencySamples) {
            svg += formatted(
                "<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\" "
                "fill=\"#555555\">%.2f ms%s</text>\n",
                x + kCellWidth / 2, y + kCellHeight / 2 + 15, result.latencyMs().value_or(0),
                result.correlation && result.correlation->polarity < 0 ? ", inverted" : "");
        }
    }
    svg += formatted("<text x=\"10\" y=\"%.0f\">green: verified, amber: doubtful, red: no "
                     "result, grey: no path; outlined: named below</text>\n",
                     gridBottom + 25);
    for (std::size_t i = 0; i < findings.size(); ++i) {
        svg += formatted("<text class=\"finding\" x=\"10\" y=\"%.0f\">",
                         gridBottom + 50 + 20 * static_cast<double>(i)) +
               escaped(matrixFindingText(findings[i], report)) + "</text>\n";
    }
    return svg + "</svg>\n";
}
