#include "engine/ui/KOAuxInWrapper.h"

#include "engine/EngineTestSupport.h"
#include "engine/ui/AudioSourceGenericView.h"

#include <QLabel>
#include <QLineEdit>
#include <QScrollArea>
#include <QSlider>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>
#include <memory>

using koru::test::ManualOutput;

namespace {

// A source with two parameters, as a player unit would list them.
class ParameterSource : public koru::AudioSource {
public:
    void setSampleRate(double) override {}
    void render(float* const* channels, std::uint32_t frames) noexcept override {
        for (std::uint32_t i = 0; i < frames; ++i) {
            channels[0][i] = channels[1][i] = 0.25f;
        }
    }
    std::vector<koru::AudioSourceParameter> parameterList() const override {
        return {{7, "Gain", 0.0f, 2.0f}, {3, "Offset", -10.0f, 10.0f}};
    }
    float parameter(std::uint32_t id) const override {
        const auto found = values.find(id);
        return found == values.end() ? 0.0f : found->second;
    }
    void setParameter(std::uint32_t id, float value) override { values[id] = value; }

    std::map<std::uint32_t, float> values{{7, 1.5f}, {3, -2.0f}};
};

class TestWrapper : public KOAuxInWrapper {
public:
    explicit TestWrapper(bool ownView = false) : mOwnView(ownView) {
        auto source = std::make_unique<ParameterSource>();
        mSource = source.get();
        auto output = std::make_unique<ManualOutput>(48000.0, true);
        mOutput = output.get();
        mGenerator =
            std::make_unique<koru::test::TestGenerator>(std::move(source), std::move(output));
        setGenerator(mGenerator.get());
    }
    KOAuxInput* auxInput() override { return mGenerator.get(); }
    QString identifier() const override { return QStringLiteral("TestWrapper"); }

    ParameterSource* mSource = nullptr;
    ManualOutput* mOutput = nullptr;
    std::unique_ptr<koru::test::TestGenerator> mGenerator;
    int viewsMade = 0;

protected:
    QWidget* createViewForAU(koru::AudioSource&) override {
        ++viewsMade;
        return mOwnView ? new QLabel(QStringLiteral("own view")) : nullptr;
    }

private:
    bool mOwnView;
};

} // namespace

TEST(KOAuxInWrapper, ShowingTheWindowTwicePlacesTheSourceViewOnce) {
    TestWrapper wrapper;
    EXPECT_FALSE(wrapper.auIsShown());
    wrapper.showWindow(nullptr);
    EXPECT_TRUE(wrapper.isWindowVisible());
    QWidget* placed = wrapper.scrollView()->widget();
    ASSERT_NE(placed, nullptr);
    wrapper.window()->hide();
    wrapper.showWindow(nullptr);
    EXPECT_EQ(wrapper.scrollView()->widget(), placed);
    EXPECT_EQ(wrapper.viewsMade, 1);

    // Without a view of its own the source gets the generic one, which fits in the window.
    auto* generic = qobject_cast<koru::AudioSourceGenericView*>(placed);
    ASSERT_NE(generic, nullptr);
    EXPECT_EQ(generic->rowCount(), 2);
    EXPECT_GE(wrapper.scrollView()->minimumWidth(), generic->sizeHint().width());
    EXPECT_GE(wrapper.window()->height(), wrapper.scrollView()->minimumHeight());
}

TEST(KOAuxInWrapper, ASourceViewOfItsOwnIsShownInsteadOfTheGenericOne) {
    TestWrapper wrapper(true);
    wrapper.showWindow(nullptr);
    auto* own = qobject_cast<QLabel*>(wrapper.scrollView()->widget());
    ASSERT_NE(own, nullptr);
    EXPECT_EQ(own->text(), QStringLiteral("own view"));
}

// The generic view shows each parameter over its range and sets it when its slider moves.
TEST(KOAuxInWrapper, TheGenericViewReadsAndSetsTheParameters) {
    ParameterSource source;
    koru::AudioSourceGenericView view(source);
    ASSERT_EQ(view.rowCount(), 2);
    EXPECT_EQ(view.sliderAt(0)->value(), 750); // 1.5 of 0 … 2
    EXPECT_EQ(view.valueLabelAt(0)->text(), QStringLiteral("1.50"));
    EXPECT_EQ(view.sliderAt(1)->value(), 400); // -2 of -10 … 10
    view.sliderAt(1)->setValue(1000);
    EXPECT_EQ(source.values[3], 10.0f);
    EXPECT_EQ(view.valueLabelAt(1)->text(), QStringLiteral("10.00"));
    EXPECT_EQ(source.values[7], 1.5f);

    source.values[7] = 0.5f;
    view.refresh();
    EXPECT_EQ(view.sliderAt(0)->value(), 250);
}

TEST(KOAuxInWrapper, ARestoredWindowIsShownOnlyWhenItWasVisible) {
    const QString key = QString::fromLatin1(KOAuxInWrapper::kWindowIsVisibleKey);
    struct Case {
        const char* what;
        QVariant stored;
        bool shown;
    };
    const Case cases[] = {
        {"missing", QVariant(), false},    {"char 0", QVariant(0), false},
        {"false", QVariant(false), false}, {"char 1", QVariant(1), true},
        {"true", QVariant(true), true},
    };
    for (const Case& c : cases) {
        TestWrapper wrapper;
        QVariantMap dictionary{{QStringLiteral("KOType"), QStringLiteral("TestWrapper")}};
        if (c.stored.isValid()) {
            dictionary.insert(key, c.stored);
        }
        wrapper.initWithDictionary(dictionary);
        EXPECT_EQ(wrapper.isWindowVisible(), c.shown) << c.what;
        EXPECT_EQ(wrapper.auIsShown(), c.shown) << c.what;
        EXPECT_EQ(wrapper.dictionaryRepresentation().value(key).toInt(), c.shown ? 1 : 0) << c.what;
    }
}

TEST(KOAuxInWrapper, TheDictionaryNamesTheClassAndListsTheParametersInOrder) {
    TestWrapper wrapper;
    const QVariantMap dictionary = wrapper.dictionaryRepresentation();
    EXPECT_EQ(dictionary.value(QStringLiteral("KOType")).toString(), QStringLiteral("TestWrapper"));
    EXPECT_EQ(dictionary.value(QStringLiteral("Window.IsVisible")).toInt(), 0);

    const QVariantMap parameters =
        KOAuxInWrapper::parameterDictionaryForAudioUnit(*wrapper.mSource);
    const QVariantList ids =
        parameters.value(QStringLiteral("AuxInput.GeneratorAU.ParameterID")).toList();
    const QVariantList values =
        parameters.value(QStringLiteral("AuxInput.GeneratorAU.ParameterValue")).toList();
    ASSERT_EQ(ids.size(), 2);
    ASSERT_EQ(values.size(), 2);
    EXPECT_EQ(ids[0].toUInt(), 7u);
    EXPECT_EQ(values[0].toDouble(), 1.5);
    EXPECT_EQ(ids[1].toUInt(), 3u);
    EXPECT_EQ(values[1].toDouble(), -2.0);

    koru::test::SineSource bare(1000.0); // lists no parameters: two empty arrays
    const QVariantMap none = KOAuxInWrapper::parameterDictionaryForAudioUnit(bare);
    EXPECT_TRUE(none.value(QStringLiteral("AuxInput.GeneratorAU.ParameterID")).toList().isEmpty());
    EXPECT_TRUE(none.contains(QStringLiteral("AuxInput.GeneratorAU.ParameterValue")));
}

// Position v gives the speakers v³; the field shows the gain in decibels, the slider follows a
// number given in code, and the engine still gets the full-scale source.
TEST(KOAuxInWrapper, TheOutputVolumeIsTheCubeOfTheSliderPosition) {
    struct Case {
        double position;
        float gain;
        const char* shown;
        int slider;
    };
    const Case cases[] = {
        {0.5, 0.125f, "-18.1 dB", 500},
        {1.0, 1.0f, "0.0 dB", 1000},
        {0.0, 0.0f, "-inf dB", 0},
        {0.1, 0.001f, "-60.0 dB", 100},
        {1.5, 1.0f, "0.0 dB", 1000},
        {-1.0, 0.0f, "-inf dB", 0},
        {std::numeric_limits<double>::quiet_NaN(), 0.0f, "-inf dB", 0},
    };
    for (const Case& c : cases) {
        TestWrapper wrapper;
        wrapper.setOutputVolume(c.position);
        EXPECT_NEAR(wrapper.mGenerator->Volume(), c.gain, 1e-7) << c.position;
        EXPECT_EQ(wrapper.volumeTextField()->text(), QString::fromLatin1(c.shown)) << c.position;
        EXPECT_EQ(wrapper.volumeSlider()->value(), c.slider) << c.position;
    }

    TestWrapper wrapper;
    wrapper.setOutputVolume(1.0);
    wrapper.volumeSlider()->setValue(500); // the user drags
    EXPECT_FLOAT_EQ(wrapper.mGenerator->Volume(), 0.125f);
    EXPECT_EQ(wrapper.volumeTextField()->text(), QStringLiteral("-18.1 dB"));

    wrapper.volumeSlider()->setValue(0);
    wrapper.mGenerator->Start();
    EXPECT_EQ(wrapper.mOutput->pull().channel(0)[10], 0.0f); // nothing heard
    koru::test::BufferListStorage engine(2, 1024);
    wrapper.mGenerator->Render(engine.list(), 0, 1024);
    EXPECT_EQ(engine.channel(0)[10], 0.25f);
}
