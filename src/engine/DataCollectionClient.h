#pragma once

namespace koru {

// What the collector thread asks of an open instrument: turn the audio thread's newest results
// into drawing data. Instrument controllers implement it and register with
// KODataCollectorThread while their window is open.
class DataCollectionClient {
public:
    virtual ~DataCollectionClient() = default;

    // Collector thread, once per pass. Exceptions are caught and logged by the collector.
    virtual void dataCollection() = 0;
};

} // namespace koru
