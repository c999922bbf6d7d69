#pragma once

#include "utility/BundleInfo.h"
#include "utility/HttpFetch.h"
#include "utility/VETextAttributes.h"

#include <QPointF>
#include <QString>
#include <QStringList>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>

class QPainter;

// String operations every subsystem calls: identifiers, the program's identity, short duration
// and frequency labels, file-name cleaning, digests and text drawing.
class VEString {
public:
    using BundleInfo = koru::utility::BundleInfo;

    // A new random UUID, 36 upper-case characters in groups 8-4-4-4-12.
    static QString uuidString();

    static QString stringWithBundleIdentifier(const BundleInfo& info = BundleInfo::mainBundle());
    static QString stringWithBundleName(const BundleInfo& info = BundleInfo::mainBundle());
    static QString stringWithBundleVersion(const BundleInfo& info = BundleInfo::mainBundle());
    static QString stringWithBundleShortVersion(const BundleInfo& info = BundleInfo::mainBundle());
    static QString stringWithBundleCopyright(const BundleInfo& info = BundleInfo::mainBundle());
    // Linux offers no hardware serial to an ordinary user, and the machine id is no serial.
    static std::optional<QString> stringWithSystemSerialNumber() { return std::nullopt; }

    // "45sec", "2min 05sec", "1h 00min 05sec": leading and trailing zero units left out.
    static QString stringFromSecondsWithoutLead(std::uint32_t seconds);
    // "440", "1k", "1k25", "12k50".
    static QString stringFromFrequency(float hertz);
    static QString hexStringFromBytes(const void* bytes, std::size_t length);
    // One blocking GET of an http address (4 s to connect and per read, a size limit, the
    // User-Agent "KORU <version>"): the body as text, or an error saying why not. A status
    // outside 2xx is a failure, never a page to show.
    static koru::utility::HttpText
    stringFromHttpResponse(const QUrl& url, const koru::utility::HttpFetchOptions& options = {});

    static QString trim(const QString& text);
    static QString fileSystemFriendlyString(const QString& text);
    static QString sha1String(const QString& text);

    // The pieces between "\n" characters; a final "\n" gives a last, empty piece, and an empty
    // text one empty piece. A "\r" before the "\n" stays with its piece.
    static QStringList lines(const QString& text);
    static void eachLine(const QString& text, const std::function<void(const QString&)>& block);
    // Each UTF-16 code unit in order (a character outside the BMP comes as its two halves).
    static void eachCharacter(const QString& text, const std::function<void(char16_t)>& block);

    // Drawing works on the text's line box in the painter's (y-down) coordinates: `point` is the
    // left end of the box's bottom edge before alignment, as the plots lay out their labels.
    static void drawCenteredAtPoint(QPainter& painter, const QString& text, QPointF point,
                                    const VETextAttributes& attributes);
    // Centred, but kept inside [minX, maxX]; a text wider than that starts at minX.
    static void drawCenteredAtPoint(QPainter& painter, const QString& text, QPointF point,
                                    const VETextAttributes& attributes, double minX, double maxX);
    // Ends at the point.
    static void drawRightAlignedAtPoint(QPainter& painter, const QString& text, QPointF point,
                                        const VETextAttributes& attributes);
    // Where the drawing operations put the left edge of the text.
    static double centeredLeft(double x, double width, double minX, double maxX);
    static double textWidth(const QString& text, const VETextAttributes& attributes);

private:
    static void drawAt(QPainter& painter, const QString& text, QPointF leftBottom,
                       const VETextAttributes& attributes);
};
