#include "utility/VEKeyValueObserver.h"

#include <gtest/gtest.h>

#include <QVariantMap>

#include <memory>
#include <string>
#include <vector>

namespace {

class Meter : public QObject {
    Q_OBJECT
    Q_PROPERTY(double peak READ peak WRITE setPeak NOTIFY peakChanged)
public:
    double peak() const { return m_peak; }
    void setPeak(double peak) {
        m_peak = peak;
        emit peakChanged();
    }
signals:
    void peakChanged();

private:
    double m_peak = 0.0;
};

class Model : public QObject {
    Q_OBJECT
    Q_PROPERTY(double level READ level WRITE setLevel NOTIFY levelChanged)
    Q_PROPERTY(Meter* meter READ meter WRITE setMeter NOTIFY meterChanged)
    Q_PROPERTY(int fixed READ fixed CONSTANT)
public:
    double level() const { return m_level; }
    void setLevel(double level) {
        m_level = level;
        emit levelChanged();
    }
    Meter* meter() const { return m_meter; }
    void setMeter(Meter* meter) {
        m_meter = meter;
        emit meterChanged();
    }
    int fixed() const { return 7; }
signals:
    void levelChanged();
    void meterChanged();

private:
    double m_level = 0.0;
    Meter* m_meter = nullptr;
};

struct Call {
    std::string method;
    QVariantMap change;
};

class Target : public QObject {
    Q_OBJECT
public:
    std::vector<Call> calls;
public slots:
    void levelChanged(const QVariantMap& change) { calls.push_back({"levelChanged", change}); }
    void meterPeakChanged(const QVariantMap& change) {
        calls.push_back({"meterPeakChanged", change});
    }
    void fixedChanged(const QVariantMap& change) { calls.push_back({"fixedChanged", change}); }
};

QVariantMap change(const QVariant& newValue, const QVariant& oldValue) {
    return {{"kind", 1}, {"new", newValue}, {"old", oldValue}};
}

TEST(VEKeyValueObserverTest, SelectorNamesCapitaliseEveryLaterComponent) {
    const struct {
        const char* keyPath;
        const char* selector;
    } cases[] = {{"volume", "volumeChanged"},
                 {"settings.gain", "settingsGainChanged"},
                 {"meter.peak", "meterPeakChanged"},
                 {"a.b.cDe", "aBCDeChanged"},
                 {"trailing.", "trailingChanged"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.keyPath);
        EXPECT_EQ(VEKeyValueObserver::selectorNameForKeyPath(c.keyPath), QByteArray(c.selector));
    }
}

TEST(VEKeyValueObserverTest, KeyPathsReachTheirOwnMethodsOnceAtRegistrationThenOnEachChange) {
    Model model;
    Meter meter;
    meter.setPeak(-6.0);
    model.setMeter(&meter);
    model.setLevel(1.5);
    Target target;
    const auto observers =
        VEKeyValueObserver::observeKeyPaths({"level", "meter.peak"}, &model, &target);
    ASSERT_EQ(observers.size(), 2U);
    ASSERT_EQ(target.calls.size(), 2U);
    EXPECT_EQ(target.calls[0].method, "levelChanged");
    EXPECT_EQ(target.calls[0].change, (QVariantMap{{"kind", 1}, {"new", 1.5}}));
    EXPECT_EQ(target.calls[1].method, "meterPeakChanged");
    EXPECT_EQ(target.calls[1].change, (QVariantMap{{"kind", 1}, {"new", -6.0}}));

    target.calls.clear();
    model.setLevel(2.5);
    meter.setPeak(-3.0);
    ASSERT_EQ(target.calls.size(), 2U);
    EXPECT_EQ(target.calls[0].method, "levelChanged");
    EXPECT_EQ(target.calls[0].change, change(2.5, 1.5));
    EXPECT_EQ(target.calls[1].method, "meterPeakChanged");
    EXPECT_EQ(target.calls[1].change, change(-3.0, -6.0));
}

TEST(VEKeyValueObserverTest, FollowsAReplacedObjectOnThePath) {
    Model model;
    Meter first;
    Meter second;
    first.setPeak(-1.0);
    second.setPeak(-20.0);
    model.setMeter(&first);
    Target target;
    const auto observer =
        VEKeyValueObserver::observeObject(&model, "meter.peak", &target, "meterPeakChanged",
                                          VEKeyValueObserver::New | VEKeyValueObserver::Old);
    ASSERT_NE(observer, nullptr);
    EXPECT_TRUE(target.calls.empty()) << "no initial call without the option";

    model.setMeter(&second); // the value at the end of the path changes with it
    model.setMeter(nullptr);
    model.setMeter(&second);
    first.setPeak(-2.0); // no longer on the path
    second.setPeak(-10.0);
    ASSERT_EQ(target.calls.size(), 4U);
    EXPECT_EQ(target.calls[0].change, change(-20.0, -1.0));
    EXPECT_EQ(target.calls[1].change, change(QVariant(), -20.0)) << "the path leads nowhere";
    EXPECT_EQ(target.calls[2].change, change(-20.0, QVariant()));
    EXPECT_EQ(target.calls[3].change, change(-10.0, -20.0));
}

TEST(VEKeyValueObserverTest, OptionsChooseWhatTheChangeHolds) {
    const struct {
        const char* name;
        unsigned options;
        std::size_t calls; // after registration and one change
        QVariantMap last;
    } cases[] = {
        {"none", 0, 1, {{"kind", 1}}},
        {"new", VEKeyValueObserver::New, 1, {{"kind", 1}, {"new", 4.0}}},
        {"old", VEKeyValueObserver::Old, 1, {{"kind", 1}, {"old", 3.0}}},
        {"initial",
         VEKeyValueObserver::Initial | VEKeyValueObserver::New,
         2,
         {{"kind", 1}, {"new", 4.0}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Model model;
        model.setLevel(3.0);
        Target target;
        const auto observer =
            VEKeyValueObserver::observeObject(&model, "level", &target, "levelChanged", c.options);
        model.setLevel(4.0);
        ASSERT_EQ(target.calls.size(), c.calls);
        EXPECT_EQ(target.calls.back().change, c.last);
    }
}

TEST(VEKeyValueObserverTest, NothingIsCalledOnceTheObserverTargetOrObjectIsGone) {
    Target target;
    {
        SCOPED_TRACE("observer destroyed");
        Model model;
        auto observer = VEKeyValueObserver::observeObject(&model, "level", &target, "levelChanged",
                                                          VEKeyValueObserver::New);
        observer.reset();
        model.setLevel(1.0);
        EXPECT_TRUE(target.calls.empty());
    }
    {
        SCOPED_TRACE("target destroyed");
        Model model;
        auto gone = std::make_unique<Target>();
        const auto observer = VEKeyValueObserver::observeObject(
            &model, "level", gone.get(), "levelChanged", VEKeyValueObserver::New);
        gone.reset();
        model.setLevel(1.0);
        EXPECT_EQ(observer->target(), nullptr);
        EXPECT_FALSE(observer->didChange({}));
    }
    {
        SCOPED_TRACE("observed object destroyed first");
        auto model = std::make_unique<Model>();
        const auto observer = VEKeyValueObserver::observeObject(
            model.get(), "level", &target, "levelChanged", VEKeyValueObserver::New);
        model.reset();
        EXPECT_EQ(observer->observedObject(), nullptr);
        EXPECT_FALSE(observer->currentValue().isValid());
    } // the observer goes last without touching the object
    EXPECT_TRUE(target.calls.empty());
}

TEST(VEKeyValueObserverTest, NullObjectGivesNoObserverAndOddPathsGiveNoValue) {
    Target target;
    EXPECT_EQ(VEKeyValueObserver::observeObject(nullptr, "level", &target, "levelChanged"),
              nullptr);
    EXPECT_TRUE(VEKeyValueObserver::observeKeyPaths({"level"}, nullptr, &target).empty());

    Model model;
    for (const char* path : {"missing", "level.more", "meter.peak", "meter.missing"}) {
        SCOPED_TRACE(path);
        const VEKeyValueObserver observer(&model, path, &target, "levelChanged", 0);
        EXPECT_FALSE(observer.currentValue().isValid());
    }
    // A constant property is read, though no change is ever reported.
    const auto observer =
        VEKeyValueObserver::observeObject(&model, "fixed", &target, "fixedChanged");
    ASSERT_EQ(target.calls.size(), 1U);
    EXPECT_EQ(target.calls[0].change.value("new"), QVariant(7));
}

TEST(VEKeyValueObserverTest, ObservesAnotherObjectOrPathWhenTold) {
    Model a;
    Model b;
    a.setLevel(1.0);
    b.setLevel(9.0);
    Target target;
    auto observer = VEKeyValueObserver::observeObject(
        &a, "level", &target, "levelChanged", VEKeyValueObserver::New | VEKeyValueObserver::Old);
    observer->setObservedObject(&b);
    a.setLevel(2.0);
    b.setLevel(8.0);
    ASSERT_EQ(target.calls.size(), 1U);
    EXPECT_EQ(target.calls[0].change, change(8.0, 9.0));
}

} // namespace

#include "VEKeyValueObserver_test.moc"
