#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

class KOSPLLog;

// What the remote SPL server's documents need of one SPL meter, copied at one moment so that a
// document can be built on any thread while the meter goes on measuring.
struct KOSplMeterSnapshot {
    std::uint32_t weighting = 0; // 'a_wt', 'b_wt', 'c_wt'
    std::uint32_t speed = 0;     // 'slow', 'fast'
    float spl = 0.0f;
    float avg = 0.0f;
    float leq = 0.0f;
    double avgTime = 0.0;           // seconds
    double leqDuration = 0.0;       // seconds; -1 when the LEQ runs without reset
    double leqRunningSeconds = 0.0; // since the last LEQ reset
    // The log the meter records (or recorded last); none when it never logged. Shared: the log
    // stays readable while the meter starts another.
    std::shared_ptr<KOSPLLog> log;
};

// Implemented by an SPL meter: its snapshot, taken on the main thread.
class KOSplMeterSource {
public:
    virtual ~KOSplMeterSource() = default;
    virtual KOSplMeterSnapshot splMeterSnapshot() const = 0;
};

// One open instrument as the documents see it, in window order; `meter` only for an SPL meter.
struct KOSplOpenInstrument {
    QString name;
    QString identifier;
    std::optional<KOSplMeterSnapshot> meter;
};

// The three XML documents of the remote SPL server, built from a copy of the open instruments:
// pure functions, callable on any thread (a log walk takes the log's own lock).
//
// Every document is UTF-8 with the declaration <?xml version="1.0" encoding="UTF-8"
// standalone="yes"?>, without indentation; times are local "%Y-%m-%dT%H:%M:%S", levels one
// decimal with a point whatever the locale. Text that XML 1.0 cannot hold (control characters in
// a user's meter name) is left out rather than making the document unreadable.
namespace KOSplDocuments {

// A log document larger than this many "log" elements is refused (a day of one-second records
// at resolution 1 still fits): a week at resolution 1 would be 100+ MB in one reply.
inline constexpr std::uint64_t kMaxLogElements = 86400;

// Seconds since 2001-01-01 UTC as local "%Y-%m-%dT%H:%M:%S"; exactly 0 means now.
QString stringFromTimeinterval(double secondsSinceReferenceDate);

// The meter document of the first open instrument named `name`; none when there is none or
// it is not an SPL meter. `now` is the building time (seconds since 2001-01-01 UTC).
std::optional<QByteArray> meterDocument(const std::vector<KOSplOpenInstrument>& instruments,
                                        const QString& name, double now);
// The list of the open SPL meters, in window order; always a document.
QByteArray meterListDocument(const std::vector<KOSplOpenInstrument>& instruments, double now);
// A stretch of a meter's log: "instrumentName", "start", "end" (0: the log's length) and
// "resolution" (0: 60) records per element, read as integers the lenient way (leading white
// space and sign, digits up to the first other character; anything else is 0). None when the
// meter is missing or not an SPL meter, when end < start (as unsigned numbers), or when the
// document would exceed kMaxLogElements. A range reaching past the records gives no elements.
std::optional<QByteArray> logDocument(const std::vector<KOSplOpenInstrument>& instruments,
                                      const QMap<QString, QString>& parameters, double now);

// The lenient integer reading of the log parameters (saturating at the 64-bit limits).
std::int64_t integerValue(const QString& text);

} // namespace KOSplDocuments
