#pragma once

#include "analysers/KOFFTInstrumentWrapperDelegate.h"
#include "app/KODataExporting.h"
#include "engine/KOFloatBuffer.h"
#include "framework/KOFFTDrawingData.h"
#include "framework/KOInstrumentWrapper.h"

#include <QColor>
#include <QString>
#include <QStringList>

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>

// The model of one FFT measurement drawn as up to three traces (a spectrum's instantaneous, peak
// and average; a transfer function's magnitude, phase and coherence): the FFT size, the three
// traces' drawing state, a visibility flag, the delegate that is told of changes, and the
// generic half of the CSV export, whose first column "f" is the bin frequency.
//
// Two-phase creation as for every model: construct, then initWithName (new) or initWithCoder
// (decoded); both call setFFTSize through the subclass's override.
//
// Threads: settings change on main; subclasses write their buffers on the collector thread under
// the model lock (lock()/modelLock()). The per-trace setters take the model lock around their
// write; the delegate is called after it is released. Lock order: model lock, then a trace's
// lock (the plot only tries trace locks and never waits for a model lock while holding one).
class KOFFTInstrumentWrapperBase : public KOInstrumentWrapper, public KODataExporting {
    Q_OBJECT
    Q_PROPERTY(bool show READ show WRITE setShow NOTIFY showChanged)
    Q_PROPERTY(QColor color1 READ color1 WRITE setColor1 NOTIFY traceAttributesChanged)
    Q_PROPERTY(QColor color2 READ color2 WRITE setColor2 NOTIFY traceAttributesChanged)
    Q_PROPERTY(QColor color3 READ color3 WRITE setColor3 NOTIFY traceAttributesChanged)
    Q_PROPERTY(bool drawTrace1 READ drawTrace1 WRITE setDrawTrace1 NOTIFY traceAttributesChanged)
    Q_PROPERTY(bool drawTrace2 READ drawTrace2 WRITE setDrawTrace2 NOTIFY traceAttributesChanged)
    Q_PROPERTY(bool drawTrace3 READ drawTrace3 WRITE setDrawTrace3 NOTIFY traceAttributesChanged)
    Q_PROPERTY(int drawModeTrace1 READ drawModeTrace1 WRITE setDrawModeTrace1 NOTIFY
                   traceAttributesChanged)
    Q_PROPERTY(int drawModeTrace2 READ drawModeTrace2 WRITE setDrawModeTrace2 NOTIFY
                   traceAttributesChanged)
    Q_PROPERTY(int drawModeTrace3 READ drawModeTrace3 WRITE setDrawModeTrace3 NOTIFY
                   traceAttributesChanged)
public:
    // Archive keys, in the order they are written (the misspelling is the stored name).
    static constexpr const char* kOctaveModeKey = "FFTInstrumentBase.OcatveMode";
    static constexpr const char* kWindowTypeKey = "FFTInstrumentBase.WindowType";
    static constexpr const char* kShowKey = "FFTInstrumentBase.Show";
    static constexpr const char* kFFTSizeKey = "FFTInstrumentBase.FFTSize";
    static constexpr const char* kDrawDataKey1 = "FFTInstrumentBase.FFTDrawData.1";
    static constexpr const char* kDrawDataKey2 = "FFTInstrumentBase.FFTDrawData.2";
    static constexpr const char* kDrawDataKey3 = "FFTInstrumentBase.FFTDrawData.3";

    static constexpr const char* kFrequencyHeader = "f";
    static constexpr const char* kFrequencyUnit = "Hz";
    static constexpr const char* kLevelUnit = "dB";
    static constexpr const char* kTraceIndexOutOfRange = "traceIndex out of range";
    static constexpr const char* kDrawingDataIsNull = "drawing data is NULL";

    static constexpr int kTraceCount = 3;
    static constexpr std::uint32_t kDefaultFFTSize = 16384;
    static constexpr int kDefaultOctaveMode = 3;
    // Where every new trace's line, area and bars start.
    static constexpr double kTraceOffset = -144.0;
    // What silence (or a damaged value) exports as, instead of -inf or NaN.
    static constexpr float kDecibelFloor = -144.0f;

    KOFFTInstrumentWrapperBase();
    ~KOFFTInstrumentWrapperBase() override;

    // Title, three fresh traces, octave resolution 3, setFFTSize(fftSize), shown.
    virtual void initWithName(const QString& title, std::uint32_t fftSize);
    // The default FFT size.
    void initWithName(const QString& title) override;
    // Applies the traces' dictionaries, then setFFTSize (16384 when 0 or absent), the window
    // type when present and non-zero, the octave resolution (3 when 0 or absent) and the show
    // flag (YES when absent).
    void initWithCoder(koru::platform::KeyedUnarchiver& coder) override;
    void encodeWithCoder(koru::platform::KeyedArchiver& coder) const override;

    // ---- settings (subclasses override the first four) ----
    virtual void setFFTSize(std::uint32_t size);
    virtual std::uint32_t FFTSize() const;
    // 'hann' here.
    virtual std::uint32_t windowType() const;
    // Logs and tells the delegate the (possibly unchanged) windowType().
    virtual void setWindowType(std::uint32_t type);
    // Bands per octave, 1..24 (clamped), carried by trace 1's axis.
    void setOctaveMode(int mode);
    int octaveMode() const;
    // 'whit', 'pink' or 'peak', for all three traces; read from trace 1.
    void setAccumulationMode(std::uint32_t mode);
    std::uint32_t accumulationMode() const;

    // ---- per trace (index 0..2; anything else throws InternalInconsistencyException
    // "traceIndex out of range") ----
    void setColor(const QColor& color, int traceIndex);
    QColor colorForTrace(int traceIndex) const;
    // 0 "Cont", 1 "Fill", 2 "Oct.", 3 "Pk Bar"; no delegate call.
    void setDrawingMode(std::uint32_t mode, int traceIndex);
    std::uint32_t drawingModeForTrace(int traceIndex) const;
    void setDraws(bool draws, int traceIndex);
    bool drawsTraceNumber(int traceIndex) const;
    // The trace itself (owned by the model, lives as long as it).
    KOFFTDrawingData* drawingDataForTrace(int traceIndex) const;

    QColor color1() const { return colorForTrace(0); }
    QColor color2() const { return colorForTrace(1); }
    QColor color3() const { return colorForTrace(2); }
    void setColor1(const QColor& color) { setColor(color, 0); }
    void setColor2(const QColor& color) { setColor(color, 1); }
    void setColor3(const QColor& color) { setColor(color, 2); }
    bool drawTrace1() const { return drawsTraceNumber(0); }
    bool drawTrace2() const { return drawsTraceNumber(1); }
    bool drawTrace3() const { return drawsTraceNumber(2); }
    void setDrawTrace1(bool draws) { setDraws(draws, 0); }
    void setDrawTrace2(bool draws) { setDraws(draws, 1); }
    void setDrawTrace3(bool draws) { setDraws(draws, 2); }
    int drawModeTrace1() const { return int(drawingModeForTrace(0)); }
    int drawModeTrace2() const { return int(drawingModeForTrace(1)); }
    int drawModeTrace3() const { return int(drawingModeForTrace(2)); }
    void setDrawModeTrace1(int mode) { setDrawingMode(std::uint32_t(mode), 0); }
    void setDrawModeTrace2(int mode) { setDrawingMode(std::uint32_t(mode), 1); }
    void setDrawModeTrace3(int mode) { setDrawingMode(std::uint32_t(mode), 2); }

    bool show() const { return mShow.load(std::memory_order_relaxed); }
    void setShow(bool show);

    // Not owned; the owner clears it before it goes away.
    KOFFTInstrumentWrapperDelegate* delegate() const { return mDelegate.load(); }
    void setDelegate(KOFFTInstrumentWrapperDelegate* delegate) { mDelegate.store(delegate); }

    // ---- export: "f" and up to three columns of the prepared copies ----
    bool canExportData() const override { return true; }
    // Nothing to export in this base; subclasses prepare their copies with setExportData.
    bool prepareDataForExporting(KODataExporter& exporter) override;
    QStringList headers() const override { return {}; }
    // Rows 0 .. length/2 - 1: "f" = float(double(float(i) / float(length)) * rate), then value i
    // of each copy (0 beyond its length), every cell a 32-bit float.
    void enumerateRows(const RowVisitor& visitor) override;
    void exportFinished(KODataExporter& exporter) override;
    std::shared_ptr<koru::ValueFormatter> formatterForHeader(const QString& key) override;
    // "Hz" for "f", "dB" for every other column.
    std::optional<QString> unitForHeader(const QString& key) const override;
    std::optional<std::uint64_t> exportRowCount() const override;

    // Replaces NaN and infinities by the decibel floor, so an export never holds them.
    static void replaceNonFiniteByFloor(KOFloatBuffer& buffer);

signals:
    void showChanged(bool show);
    // Colour, visibility or drawing mode of a trace.
    void traceAttributesChanged();

protected:
    // Hands the export its copies (columns 2 to 4) and the rate of its "f" column; the length
    // is the first copy's.
    void setExportData(std::array<std::unique_ptr<KOFloatBuffer>, 3> copies, double sampleRate);
    // The delegate's rate, 0 without a delegate.
    double delegateSampleRate() const;
    void notifyFFTSizeChanged();
    void notifyWindowTypeChanged();
    // Stores mFFTSize only (the subclass holds its lock).
    void storeFFTSize(std::uint32_t size) { mFFTSize.store(size, std::memory_order_relaxed); }

private:
    KOFFTDrawingData& trace(int traceIndex) const;

    std::atomic<std::uint32_t> mFFTSize{0};
    std::array<std::unique_ptr<KOFFTDrawingData>, kTraceCount> mDrawingData;
    std::atomic<bool> mShow{true};
    std::atomic<KOFFTInstrumentWrapperDelegate*> mDelegate{nullptr};
    std::array<std::unique_ptr<KOFloatBuffer>, kTraceCount> mExportData;
    std::uint64_t mExportLength = 0;
    double mExportSampleRate = 0.0;
};
