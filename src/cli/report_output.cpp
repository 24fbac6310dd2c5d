#include "cli/report_output.h"

#include "cli/report/csv_report.h"
#include "cli/report/json_report.h"
#include "cli/report/output_file.h"
#include "cli/report/svg_plot.h"
#include "cli/report/text_report.h"
#include "cli/report/wav_writer.h"

#include <cstdio>

int writeReport(Run& run) {
    const Report& report = run.report;
    std::string text;
    switch (run.options.format) {
    case ReportFormat::Text:
        text = textReport(report);
        break;
    case ReportFormat::Json:
        text = jsonReport(report);
        break;
    case ReportFormat::Csv:
        text = csvReport(report);
        break;
    }
    // In a file of its own, what a driver prints to standard output cannot get into it.
    if (!run.options.outputFile.empty()) {
        if (const std::string why = writeTextWhole(run.options.outputFile, text); !why.empty()) {
            run.console.error(why);
            return kExitNotMeasured;
        }
    } else {
        std::fputs(text.c_str(), stdout);
        std::fflush(stdout);
    }
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
