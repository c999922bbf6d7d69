#pragma once

#include "FakeExportSource.h"

#include "app/DateValueFormatter.h"

#include <chrono>
#include <memory>

namespace koru::test {

// A table shaped like the SPL log: the time of day (long time style) and three levels with their
// weighting as unit, five export ranges, one record per second from 2024-12-10 10:20:30 UTC.
inline std::shared_ptr<FakeExportSource> splLikeSource(int records = 20) {
    auto source = std::make_shared<FakeExportSource>();
    source->columns = {"Time", "SPL", "AVG", "LEQ"};
    source->units = {{"SPL", "dB(A)"}, {"AVG", "dB(A)"}, {"LEQ", "dB(A)"}};
    auto time = std::make_shared<DateValueFormatter>(QLocale(), DateValueFormatter::NoStyle,
                                                     DateValueFormatter::LongStyle);
    time->setTimeZone("UTC");
    source->formatters = {{"Time", time}};
    source->ranges = std::vector<ExportRange>{
        {"1sec", 1}, {"10sec", 10}, {"30sec", 30}, {"1min", 60}, {"10min", 600}};
    const ExportTime start = ExportTime{} + std::chrono::seconds(1733826030);
    for (int i = 0; i < records; ++i)
        source->addRow({start + std::chrono::seconds(i), 80.0 + i * 0.26, 81.04, 82.0 + i});
    return source;
}

} // namespace koru::test
