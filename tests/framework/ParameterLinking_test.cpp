#include "InstrumentTestSupport.h"

#include "platform/notifications/NotificationCenter.h"
#include "utility/ui/KOInfoPanel.h"

#include <QLabel>

#include <gtest/gtest.h>

using koru::platform::NotificationCenter;
using koru::test::FakeInstrumentDevice;
using koru::test::TestInstrumentController;

namespace {

const QStringList analyser{"Frequency", "Magnitude"};
const QStringList transfer{"Frequency", "Gain"};

class ParameterLinkingTest : public ::testing::Test {
protected:
    std::unique_ptr<TestInstrumentController> make(const QString& name, QStringList linkable,
                                                   QSize size = {400, 300}) {
        auto c = KOInstrumentController::create<TestInstrumentController>("test", nullptr);
        c->setName(name);
        c->linkable = std::move(linkable);
        c->instrumentWindow()->resize(size);
        return c;
    }
    static QVariantMap range(double lo, double hi) { return {{"f.lo", lo}, {"f.hi", hi}}; }
    static QStringList namesOf(const TestInstrumentController& c) {
        QStringList names;
        for (const auto& [name, value] : c.received)
            names.append(name);
        return names;
    }
    static void unlink(const QString& identifier) {
        NotificationCenter::defaultCenter().post("ParameterUnlink", nullptr, {},
                                                 {{"identifier", identifier}});
    }

    FakeInstrumentDevice device{{"In 1"}};
};

TEST_F(ParameterLinkingTest, LinkedAnalysersFollowEachOtherOncePerLinkWithoutEcho) {
    auto other = make("Spectrum A", analyser);
    auto mover = make("Spectrum B", analyser);
    other->frequency = range(20, 20000);

    ASSERT_TRUE(KOInstrumentController::tryLinkInstruments(*mover, *other, Qt::NoModifier));
    EXPECT_EQ(other->linkedParametersDictionary().size(), 2);
    EXPECT_EQ(mover->linkedParametersDictionary().size(), 2);
    EXPECT_EQ(mover->linkedParametersDictionary().first().toMap().value("identifier"),
              other->identifier());
    EXPECT_EQ(KOInfoPanel::sharedInfoPanel().firstLine()->text(), "linked Spectrum A");
    EXPECT_EQ(KOInfoPanel::sharedInfoPanel().secondLine()->text(), "with Spectrum B");
    // The mover takes over the other's range.
    EXPECT_EQ(mover->frequency, range(20, 20000));
    EXPECT_TRUE(other->received.empty()) << "a follower posted back what it applied";

    mover->received.clear();
    other->postParameterChange("Frequency", range(100, 1000));
    ASSERT_EQ(mover->received.size(), 2u);
    EXPECT_EQ(mover->received[0].second, range(100, 1000));
    EXPECT_EQ(mover->received[1].second, range(100, 1000));
    EXPECT_TRUE(other->received.empty());

    // The follower's own change travels the other way.
    mover->postParameterChange("Frequency", range(50, 500));
    EXPECT_EQ(other->frequency, range(50, 500));
    EXPECT_FALSE(KOInstrumentController::tryLinkInstruments(*mover, *other, Qt::NoModifier));
    EXPECT_EQ(other->linkedParametersDictionary().size(), 2);
}

TEST_F(ParameterLinkingTest, AnalyserAndTransferShareOnlyFrequencyButAllNamesArrive) {
    auto analyserWindow = make("Spectrum", analyser);
    auto transferWindow = make("Transfer", transfer);
    ASSERT_TRUE(KOInstrumentController::tryLinkInstruments(*transferWindow, *analyserWindow, {}));
    EXPECT_EQ(transferWindow->linkedParametersDictionary().size(), 1);
    transferWindow->received.clear();
    analyserWindow->postParameterChange("Magnitude", QVariantMap{{"mag.lo", -90.0}});
    EXPECT_EQ(namesOf(*transferWindow), QStringList{"Magnitude"});
}

struct NoLinkCase {
    const char* what;
    QSize moverSize;
    QStringList moverParameters;
    Qt::KeyboardModifiers modifiers;
};

class NoLink : public ParameterLinkingTest, public ::testing::WithParamInterface<NoLinkCase> {};

TEST_P(NoLink, NothingIsLinked) {
    auto other = make("A", analyser);
    auto mover = make("B", GetParam().moverParameters, GetParam().moverSize);
    EXPECT_FALSE(KOInstrumentController::tryLinkInstruments(*mover, *other, GetParam().modifiers));
    EXPECT_TRUE(other->linkedParametersDictionary().isEmpty());
    EXPECT_TRUE(mover->linkedParametersDictionary().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NoLink,
    ::testing::Values(NoLinkCase{"ctrl", {400, 300}, analyser, Qt::ControlModifier},
                      NoLinkCase{"size", {401, 299}, analyser, Qt::NoModifier},
                      NoLinkCase{"common", {400, 300}, {"Gain"}, Qt::NoModifier},
                      NoLinkCase{"unlinkable", {400, 300}, {}, Qt::NoModifier}),
    [](const auto& info) { return std::string(info.param.what); });

TEST_F(ParameterLinkingTest, EqualHeightIsEnough) {
    auto other = make("A", analyser, {400, 300});
    auto mover = make("B", analyser, {250, 300});
    EXPECT_TRUE(KOInstrumentController::tryLinkInstruments(*mover, *other, Qt::ShiftModifier));
}

TEST_F(ParameterLinkingTest, UnlinkDropsTheMoversAndItsPeersLinksOnly) {
    auto x = make("X", analyser);
    auto y = make("Y", analyser);
    auto z = make("Z", analyser);
    ASSERT_TRUE(KOInstrumentController::tryLinkInstruments(*y, *x, {}));
    ASSERT_TRUE(KOInstrumentController::tryLinkInstruments(*z, *y, {}));
    ASSERT_EQ(y->linkedParametersDictionary().size(), 4);

    unlink(x->identifier());
    EXPECT_TRUE(x->linkedParametersDictionary().isEmpty());
    EXPECT_TRUE(y->linkedParametersDictionary().isEmpty());
    EXPECT_EQ(z->linkedParametersDictionary().size(), 2);

    unlink("someone else");
    EXPECT_EQ(z->linkedParametersDictionary().size(), 2);
}

class ThrowingInstrument : public TestInstrumentController {
public:
    void changeParameterWithName(const QString& name, const QVariant& value) override {
        TestInstrumentController::changeParameterWithName(name, value);
        throw std::runtime_error("refused");
    }
};

TEST_F(ParameterLinkingTest, MalformedOrFailingChangesAreSwallowed) {
    auto poster = make("P", analyser);
    auto follower = KOInstrumentController::create<ThrowingInstrument>("test", nullptr);
    follower->linkable = analyser;
    follower->instrumentWindow()->resize(400, 300);
    poster->instrumentWindow()->resize(400, 300);
    ASSERT_TRUE(KOInstrumentController::tryLinkInstruments(*follower, *poster, {}));
    follower->received.clear();

    NotificationCenter::defaultCenter().post("KORUNot.ParameterChange", poster.get());
    NotificationCenter::defaultCenter().post("KORUNot.ParameterChange", nullptr, {},
                                             {{"parameter", "Frequency"}});
    EXPECT_TRUE(follower->received.empty());

    // The first link throws, which ends this notification; the flag is clear afterwards.
    EXPECT_NO_THROW(poster->postParameterChange("Frequency", range(1, 2)));
    EXPECT_EQ(follower->received.size(), 1u);
    EXPECT_FALSE(follower->isApplyingLinkedParameter());
}

} // namespace
