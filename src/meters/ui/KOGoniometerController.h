#pragma once

#include "framework/KOInstrumentController.h"
#include "meters/KOGoniometerInstrument.h"

#include <atomic>
#include <memory>

class KOGoniometerView;
class QCheckBox;

// The goniometer window: channels A and B, the picture and its correlation meter, which the
// overlay's check box and the menu show or hide. Saved with the base keys plus "chA" and "chB".
class KOGoniometerController : public KOInstrumentController {
    Q_OBJECT
public:
    static constexpr const char* kNibName = "goniometer";
    static constexpr qint64 kShowCorrelationTag = 119;

    KOGoniometerController();
    ~KOGoniometerController() override;

    void initWithWindowNibName(const QString& nibName, const QVariantMap* dictionary) override;
    QVariantMap dictionaryRepresentation() const override;
    void dataCollection() override;

    QMenu* instrumentMenu() override;
    bool showCorrelation() const;
    void setShowCorrelation(bool show);
    void toggleCorrelation() { setShowCorrelation(!showCorrelation()); }

    qint64 inChannelA() const override;
    void setInChannelA(qint64 channel) override;
    qint64 inChannelB() const override;
    void setInChannelB(qint64 channel) override;

    KOGoniometerView* view() const { return mView; }
    KOGoniometerInstrument* instrument() const { return mInstrument.get(); }

protected:
    std::unique_ptr<QMainWindow> buildWindow(const QString& nibName) override;

private:
    std::unique_ptr<KOGoniometerInstrument> mInstrument;
    KOGoniometerView* mView = nullptr; // owned by the window
    QCheckBox* mShowCorrelationButton = nullptr;
    KOGoniometerInstrument::Block mBlock; // collector
    static std::atomic<unsigned> sCount;
};
