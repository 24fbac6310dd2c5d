#include "cli/report_output.h"

#include "cli/report/csv_report.h"
#include "cli/report/json_report.h"
#include "cli/report/output_file.h"
#include "cli/report/svg_plot.h"
#include "cli/report/text_report.h"
#include "cli/report/wav_writer.h"

#include <cstdio>

int writeReport(Run& run, const DriverHooks& hooks) {
    const Report& report = run.report;
    switch (run.options.format) {
    case ReportFormat::Text:
        std::fputs(textReport(report).c_str(), stdout);
        break;
    case ReportFormat::Json:
        std::fputs(jsonReport(report).c_str(), stdout);
        break;
    case ReportFormat::Csv:
        std::fputs(csvReport(report).c_str(), stdout);
        break;
    }
    // The driver's own account (JACK's xruns) follows a text report of what it measured.
    if (run.options.format == ReportFormat::Text && hooks.afterResult &&
        !report.measurements.empty() && report.measurements.back().latencySamples) {
        hooks.afterResult(run.session.driver());
    }
    std::fflush(stdout);
    if (report.measurements.empty() && report.matrix.empty()) {
        return kExitMeasured;
    }

    std::string why;
    const Recording& recording = run.session.measurement().recording();
    if (!run.options.wavFile.empty()) {
        why = writeWhole(run.options.wavFile, [&recording](const std::filesystem::path& file) {
            return writeWav(file, recording);
        });
    }
    if (!run.options.plotFile.empty() && why.empty()) {
        why = writeTextWhole(run.options.plotFile,
                             report.kind == RunKind::Matrix ? matrixPlot(report)
                             : report.kind == RunKind::Sweep
                                 ? sweepPlot(report)
                                 : onsetPlot(report.measurements.back(), recording));
    }
    if (!why.empty()) {
        run.console.error(why);
        return kExitNotMeasured;
    }
    return kExitMeasured;
}
