#pragma once

#include <QString>
#include <QVariantMap>

#include <memory>
#include <optional>

class KOFFTDrawingData;
class KOFloatBuffer;
class KOTransferResults;

// The engine's numeric types as property-list dictionaries and back, and property-list files in
// the application-support folder. Sessions, instrument archives and the SPL log store hold these
// layouts, so the keys and encodings below are a file format:
//   float buffer   "d" (data: the elements as little-endian 32-bit IEEE floats, element 0 first),
//                  "l" (unsigned element count), "dbc" (decibel flag);
//   transfer       "Data.Magnitude", "Data.Phase", "Data.Coherence" (float-buffer dictionaries);
//   drawing data   "DrawingData.Color" (colour dictionary), ".DrawingMode" (int32), ".Offset"
//                  (float32), ".Visible", ".Invert", ".ShowDetails" (booleans).
// A dictionary that does not hold a usable buffer raises koru::platform::FrameworkException
// named kUnableToCopyFloatBuffer or kUnableToCopyTransferResults, always before anything is
// written, so the destination keeps its values.
class KORUDictionaryAdditions {
public:
    static constexpr const char* kUnableToCopyFloatBuffer = "Unable to copy KOFloatBuffer";
    static constexpr const char* kUnableToCopyTransferResults = "Unable to copy KOTransferResults";

    static constexpr const char* kDataKey = "d";
    static constexpr const char* kLengthKey = "l";
    static constexpr const char* kDecibelKey = "dbc";
    static constexpr const char* kMagnitudeKey = "Data.Magnitude";
    static constexpr const char* kPhaseKey = "Data.Phase";
    static constexpr const char* kCoherenceKey = "Data.Coherence";
    static constexpr const char* kColorKey = "DrawingData.Color";
    static constexpr const char* kDrawingModeKey = "DrawingData.DrawingMode";
    static constexpr const char* kOffsetKey = "DrawingData.Offset";
    static constexpr const char* kVisibleKey = "DrawingData.Visible";
    static constexpr const char* kInvertKey = "DrawingData.Invert";
    static constexpr const char* kShowDetailsKey = "DrawingData.ShowDetails";

    static QVariantMap dictionaryFromFloatBuffer(const KOFloatBuffer& buffer);
    // Results without buffers give an empty dictionary.
    static QVariantMap dictionaryWithTransferResult(const KOTransferResults& results);
    // The caller holds whatever guards the drawing data.
    static QVariantMap dictionaryWithDrawingData(const KOFFTDrawingData& data);

    // A new buffer of "l" elements from "d" with the flag from "dbc" (missing "dbc" reads NO).
    // Raises for a missing or mistyped "l" or "d", for "l" 0 (buffers are never empty) and for a
    // "d" shorter than "l" elements.
    static std::unique_ptr<KOFloatBuffer> floatBuffer(const QVariantMap& dictionary);
    // Overwrites the buffer's elements and decibel flag. Raises, leaving the buffer untouched,
    // when its length differs from "l" (reason "Length in Dictionary is <l>, given buffer
    // is<length> long") or the dictionary is unusable as for floatBuffer().
    static void copyToFloatBuffer(const QVariantMap& dictionary, KOFloatBuffer& buffer);
    // Overwrites magnitude, phase and coherence. Every entry is checked before the first is
    // copied: a magnitude length that differs raises kUnableToCopyTransferResults, a phase or
    // coherence length that differs kUnableToCopyFloatBuffer, both with the reason above; a
    // missing entry, or results without buffers, raise kUnableToCopyTransferResults.
    static void copyToTransferResults(const QVariantMap& dictionary, KOTransferResults& results);
    // Sets colour (through the trace lock), draw mode, offset and the three flags. A missing or
    // unreadable number reads as 0, 0.0 or NO; a missing colour gives a fresh trace colour.
    static void copyToDrawingData(const QVariantMap& dictionary, KOFFTDrawingData& data);

    // The dictionary stored in the named property-list file of the application-support folder;
    // none when the file is missing, unreadable or holds no dictionary. Never changes the file.
    static std::optional<QVariantMap> dictionaryFromFileInSupportDirectory(const QString& name);
    // Writes the dictionary as an XML property list to the named file of the application-support
    // folder through a temporary file renamed over the old one, so a failed write leaves the old
    // file whole. A failure is logged; the answer says whether the file was written.
    static bool writeToFileInAppSupportDirectory(const QVariantMap& dictionary,
                                                 const QString& name);
};
