#include "spl/KOSplDocuments.h"

#include "spl/KOSPLLog.h"
#include "utility/KOString.h"
#include "utility/VEDate.h"
#include "utility/VEString.h"

#include <QDateTime>
#include <QXmlStreamWriter>

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <ctime>
#include <limits>

namespace {

// XML 1.0 has no way to write most control characters, not even escaped.
QString xmlText(const QString& text) {
    const auto allowed = [](char32_t c) {
        return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
               (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
    };
    const QList<uint> codes = text.toUcs4();
    if (std::all_of(codes.begin(), codes.end(), [&](uint c) { return allowed(char32_t(c)); }))
        return text;
    QString kept;
    for (uint c : codes) {
        if (allowed(char32_t(c)))
            kept.append(QString::fromUcs4(reinterpret_cast<const char32_t*>(&c), 1));
    }
    return kept;
}

// printf's "%.Nf" (ties to even on the exact binary value), with a point in every locale.
QString fixed(double value, int decimals) {
    return QString::fromStdString(fmt::format("{:.{}f}", value, decimals));
}

QString level(float value) {
    return fixed(double(value), 1);
}

class Document {
public:
    Document() : mXml(&mBytes) {
        mXml.setAutoFormatting(false);
        mXml.writeStartDocument(QStringLiteral("1.0"), true);
    }
    void start(const QString& name) { mXml.writeStartElement(name); }
    void attribute(const QString& name, const QString& value) {
        mXml.writeAttribute(name, xmlText(value));
    }
    void end() { mXml.writeEndElement(); }
    void node(const QString& name, const QString& value, const QString& unit = QString()) {
        start(name);
        if (!unit.isNull())
            attribute(QStringLiteral("unit"), unit);
        text(value);
        end();
    }
    void text(const QString& value) { mXml.writeCharacters(xmlText(value)); }
    // Every element is closed by then; no line break after the root.
    QByteArray finish() { return mBytes; }

private:
    QByteArray mBytes;
    QXmlStreamWriter mXml;
};

const KOSplOpenInstrument* instrumentNamed(const std::vector<KOSplOpenInstrument>& instruments,
                                           const QString& name) {
    const auto found = std::find_if(instruments.begin(), instruments.end(),
                                    [&name](const auto& each) { return each.name == name; });
    return found == instruments.end() ? nullptr : &*found;
}

} // namespace

namespace KOSplDocuments {

QString stringFromTimeinterval(double seconds) {
    if (seconds == 0.0)
        seconds = VEDate::timeIntervalSinceReferenceDate(QDateTime::currentDateTime());
    if (!std::isfinite(seconds))
        return {};
    const auto since1970 =
        std::time_t(std::floor(seconds)) + std::time_t(VEDate::kReferenceDateUnixSeconds);
    std::tm local{};
    if (!localtime_r(&since1970, &local))
        return {};
    char text[64];
    const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    return QString::fromLatin1(text, qsizetype(length));
}

std::int64_t integerValue(const QString& text) {
    qsizetype i = 0;
    while (i < text.size() && text.at(i).isSpace())
        ++i;
    bool negative = false;
    if (i < text.size() && (text.at(i) == u'+' || text.at(i) == u'-')) {
        negative = text.at(i) == u'-';
        ++i;
    }
    // Accumulated as a negative number: its range reaches one further.
    std::int64_t value = 0;
    constexpr std::int64_t lowest = std::numeric_limits<std::int64_t>::min();
    for (; i < text.size() && text.at(i) >= u'0' && text.at(i) <= u'9'; ++i) {
        const int digit = text.at(i).unicode() - u'0';
        if (value < (lowest + digit) / 10) {
            value = lowest;
            while (i < text.size() && text.at(i) >= u'0' && text.at(i) <= u'9')
                ++i;
            break;
        }
        value = value * 10 - digit;
    }
    if (negative)
        return value;
    return value == lowest ? std::numeric_limits<std::int64_t>::max() : -value;
}

std::optional<QByteArray> meterDocument(const std::vector<KOSplOpenInstrument>& instruments,
                                        const QString& name, double now) {
    const KOSplOpenInstrument* instrument = instrumentNamed(instruments, name);
    if (!instrument || !instrument->meter)
        return std::nullopt;
    const KOSplMeterSnapshot& m = *instrument->meter;
    const QString unit =
        QStringLiteral("dB(%1)").arg(KOString::shortStringWithWeightingType(m.weighting));
    Document document;
    document.start(QStringLiteral("root"));
    document.attribute(QStringLiteral("id"), instrument->identifier);
    document.attribute(QStringLiteral("name"), instrument->name);
    document.attribute(QStringLiteral("time"), stringFromTimeinterval(now));
    document.node(QStringLiteral("spl"), level(m.spl), unit);
    document.node(QStringLiteral("avg"), level(m.avg), unit);
    document.node(QStringLiteral("leq"), level(m.leq), unit);
    document.node(QStringLiteral("weighting"), KOString::stringWithWeightingType(m.weighting));
    document.node(QStringLiteral("speed"), KOString::stringWithSplnstrumentSpeed(m.speed));
    document.node(QStringLiteral("avgtime"), fixed(m.avgTime, 0));
    document.node(QStringLiteral("leqDuration"),
                  m.leqDuration > 0.0 ? fixed(m.leqDuration, 0) : QStringLiteral("-1"));
    const double running = std::isfinite(m.leqRunningSeconds)
                               ? std::clamp(std::trunc(m.leqRunningSeconds), 0.0, 4294967295.0)
                               : 0.0;
    document.node(QStringLiteral("leqRunningSince"),
                  VEString::stringFromSecondsWithoutLead(std::uint32_t(running)));
    document.end();
    return document.finish();
}

QByteArray meterListDocument(const std::vector<KOSplOpenInstrument>& instruments, double now) {
    Document document;
    document.start(QStringLiteral("splinstruments"));
    document.attribute(QStringLiteral("time"), stringFromTimeinterval(now));
    for (const KOSplOpenInstrument& instrument : instruments) {
        if (!instrument.meter)
            continue;
        document.start(QStringLiteral("instrument"));
        document.attribute(QStringLiteral("id"), instrument.identifier);
        document.text(instrument.name);
        document.end();
    }
    document.end();
    return document.finish();
}

std::optional<QByteArray> logDocument(const std::vector<KOSplOpenInstrument>& instruments,
                                      const QMap<QString, QString>& parameters, double now) {
    const auto name = parameters.constFind(QStringLiteral("instrumentName"));
    if (name == parameters.constEnd())
        return std::nullopt;
    const KOSplOpenInstrument* instrument = instrumentNamed(instruments, *name);
    if (!instrument || !instrument->meter)
        return std::nullopt;
    const std::shared_ptr<KOSPLLog>& log = instrument->meter->log;
    const std::uint64_t count = log ? log->length() : 0;
    const auto number = [&parameters](const char* key) {
        return std::uint64_t(integerValue(parameters.value(QString::fromLatin1(key))));
    };
    const std::uint64_t start = number("start");
    std::uint64_t end = number("end");
    if (end == 0)
        end = count;
    if (end < start)
        return std::nullopt;
    std::uint64_t resolution = number("resolution");
    if (resolution == 0)
        resolution = 60;
    const std::uint64_t length = end - start;
    const bool walk = log && end <= count && length > 0;
    if (walk && length / resolution + (length % resolution != 0) > kMaxLogElements)
        return std::nullopt;

    const QString unit = QStringLiteral("db(%1)").arg(
        KOString::shortStringWithWeightingType(log ? log->weight() : instrument->meter->weighting));
    Document document;
    document.start(QStringLiteral("root"));
    document.attribute(QStringLiteral("id"), instrument->identifier);
    document.attribute(QStringLiteral("name"), instrument->name);
    document.attribute(QStringLiteral("time"), stringFromTimeinterval(now));
    if (walk) {
        std::uint64_t index = 0;
        std::uint64_t relativeTime = 0;
        log->enumerateDataInRange(start, length, resolution, [&](const KOSPLRecord& group) {
            document.start(QStringLiteral("log"));
            document.attribute(QStringLiteral("index"), QString::number(index++));
            document.attribute(QStringLiteral("relativeTime"), QString::number(relativeTime));
            document.attribute(QStringLiteral("timestamp"), stringFromTimeinterval(group.time));
            relativeTime += resolution;
            document.node(QStringLiteral("spl"), level(group.spl), unit);
            document.node(QStringLiteral("avg"), level(group.avg), unit);
            document.node(QStringLiteral("leq"), level(group.leq), unit);
            document.end();
        });
    }
    document.end();
    return document.finish();
}

} // namespace KOSplDocuments
