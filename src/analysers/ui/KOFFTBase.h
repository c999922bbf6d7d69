#pragma once

#include "analysers/KOFFTInstrumentWrapperDelegate.h"
#include "analysers/ui/KOFFTInstViewBase.h"
#include "analysers/ui/ViewBoundsLink.h"
#include "framework/KODrawModePopupButton.h"
#include "framework/KOLogarithmicInstrumentViewDelegate.h"
#include "framework/KOMultipleTracesInstrumentController.h"

#include <QPointer>

#include <memory>

class KOFFTInstrumentWrapperBase;
class QAction;
class QComboBox;
class QMenu;

// The window controller both FFT plot windows (spectrum, transfer function) stand on: a list of
// FFT models drawn in one plot, the FFT-size, window and octave-resolution menus, the per-trace
// visibility toggle, the export sheet, the plot's bounds linked with other windows, and the
// plot's settings saved under "FFTBase.View.Settings" and "fftbase.octaveresolution".
//
// Menu items name the model they act on by its identifier (their represented object); an item
// without one acts on the selected model.
//
// A model's buffers are freed when its FFT size changes, and the collector thread draws them:
// sizes change under the data-collection lock, so no collection and no rebuild of the plot runs
// meanwhile.
class KOFFTBase : public KOMultipleTracesInstrumentController,
                  public KOFFTInstrumentWrapperDelegate,
                  public KOLogarithmicInstrumentViewDelegate {
    Q_OBJECT
public:
    using FFTModel = std::shared_ptr<KOFFTInstrumentWrapperBase>;

    static constexpr const char* kViewSettingsKey = "FFTBase.View.Settings";
    static constexpr const char* kOctaveResolutionKey = "fftbase.octaveresolution";
    static constexpr const char* kRepresentedObjectProperty = "representedObject";
    static constexpr int kDefaultOctaveResolution = 3;
    static constexpr double kControlPanelWidth = 220.0;
    static constexpr double kControlPanelMinimumHeight = 65.0;

    KOFFTBase();
    ~KOFFTBase() override;

    // The models and the table, awakeFromNib, then the plot's delegate, the control panel, the
    // octave resolution ("fftbase.octaveresolution"; 0, absent or damaged: 3, outside 1..24:
    // clamped) and, given a dictionary, the plot's saved settings.
    void initWithWindowNibName(const QString& nibName, const QVariantMap* dictionary) override;
    QVariantMap dictionaryRepresentation() const override;
    void audioPropertiesChanged() override;

    KOFFTInstViewBase* fftView() const { return mFFTView; }
    KODrawModePopupButton* drawModeTrace1PopUpButton() const { return mDrawModeTrace1; }
    QComboBox* fftSizePopUpButton() const { return mFFTSizePopUpButton; }
    QComboBox* windowTypePopUpButton() const { return mWindowTypePopUpButton; }
    QComboBox* resolutionMenu() const { return mResolutionMenu; }

    // The list's FFT models (others are passed over), in table order.
    std::vector<FFTModel> fftModels() const;
    FFTModel selectedFFTModel() const;
    // The model an item names, else (no name) the selected model; null when the named model has
    // left the list.
    FFTModel targetModel(const QAction* item) const;
    // Names `model` as the item's represented object.
    static void setRepresentedObject(QAction& item, const KOInstrumentWrapper& model);

    int octaveResolution() const;
    void setOctaveResolution(int resolution);
    void changeOctaveResolution(QAction* item);

    // Copies of the shared FFT Size, Window Type and Octave menus acting on this window.
    std::unique_ptr<QMenu> fftSizeMenu();
    std::unique_ptr<QMenu> windowTypeMenu();
    std::unique_ptr<QMenu> octaveMenu();
    void setFFTSizeMenuAction(QAction* item);
    void setWindowTypeMenuAction(QAction* item);
    // Tags 0, 1, 2 toggle trace 1, 2, 3 of the target model; other tags toggle nothing.
    void setDraws(QAction* item);
    // Under the data-collection lock.
    void setFFTSizeOfModel(KOFFTInstrumentWrapperBase& model, std::uint32_t size);

    // Removes the selected model unless it is the only one or every model is selected.
    void removeSelectedAnalyzer();
    void deleteSelection() { removeSelectedAnalyzer(); }

    void openDataExporterSheet(QAction* item);
    void showExportSheetForWrapper(const FFTModel& model);

    // KOFFTInstrumentWrapperDelegate: every change marks the plot for redisplay; the settings'
    // pop-ups follow the selected model. Main thread.
    double currentSampleRate() override { return KOInstrumentController::currentSampleRate(); }
    void wrapperDidChangeFFTSize(KOFFTInstrumentWrapperBase* wrapper, std::uint32_t size) override;
    void wrapperDidChangeWindowType(KOFFTInstrumentWrapperBase* wrapper,
                                    std::uint32_t windowType) override;
    void wrapperDidChangeColorAttributes(KOFFTInstrumentWrapperBase* wrapper) override;
    void wrapperDidChangeDrawingAttributes(KOFFTInstrumentWrapperBase* wrapper) override;
    bool shouldPatchToNextConsecutiveChannel(KOFFTInstrumentWrapperBase*) override { return false; }

    // Linking of the plot's bounds.
    void viewDidChangeFrequencyBounds(float lower, float upper) override;
    void viewDidChangeMagnitudeBounds(float lower, float upper) override;
    void changeParameterWithName(const QString& name, const QVariant& value) override;
    void postParameters() override;
    koru::analysers::ViewBoundsLink& boundsLink() const { return *mBoundsLink; }

    // Adds the model to the list with this window as its delegate; null is ignored.
    void addFFTModel(FFTModel model);
    // Takes the model out of the list; it no longer reports to this window.
    void removeFFTModel(const KOInstrumentWrapper* model);

protected:
    // The FFT size, window and drawing-mode pop-ups both window kinds carry, once the panel exists.
    void connectSharedPopUps();
    // The window's own set-up once the window and the models exist, before the plot's delegate
    // and saved settings are in place.
    virtual void awakeFromNib() {}
    void redisplayView();

    // Outlets, connected by buildWindow.
    void setFFTView(KOFFTInstViewBase* view) { mFFTView = view; }
    void setDrawModeTrace1PopUpButton(KODrawModePopupButton* popUp) { mDrawModeTrace1 = popUp; }
    void setFFTSizePopUpButton(QComboBox* popUp) { mFFTSizePopUpButton = popUp; }
    void setWindowTypePopUpButton(QComboBox* popUp) { mWindowTypePopUpButton = popUp; }
    void setResolutionMenu(QComboBox* popUp) { mResolutionMenu = popUp; }

private:
    void buildControlPanel();
    void selectionChanged();

    QPointer<KOFFTInstViewBase> mFFTView;
    QPointer<KODrawModePopupButton> mDrawModeTrace1;
    QPointer<QComboBox> mResolutionMenu;
    QPointer<QComboBox> mFFTSizePopUpButton;
    QPointer<QComboBox> mWindowTypePopUpButton;
    std::unique_ptr<koru::analysers::ViewBoundsLink> mBoundsLink;
};
