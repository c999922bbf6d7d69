#include "InstrumentTestSupport.h"

#include "engine/KOTwoChannelInstrument.h"
#include "framework/KOTwoChannelInstrumentWrapper.h"
#include "platform/exceptions/InternalInconsistencyException.h"
#include "platform/notifications/NotificationCenter.h"

#include <gtest/gtest.h>

#include <stdexcept>

using koru::platform::InternalInconsistencyException;
using koru::platform::KeyedArchiver;
using koru::platform::KeyedUnarchiver;
using koru::platform::NotificationCenter;
using koru::test::FakeInstrumentDevice;
using koru::test::TestModel;

namespace {

std::unique_ptr<TestModel> decode(const QVariantMap& dictionary) {
    KeyedUnarchiver coder(dictionary);
    auto model = std::make_unique<TestModel>();
    model->initWithCoder(coder);
    return model;
}

class InstrumentWrapperTest : public ::testing::Test {
protected:
    FakeInstrumentDevice device{{"In 1", "In 2"}};
};

TEST_F(InstrumentWrapperTest, TitleIsEmptyTextWhenNoneIsGiven) {
    EXPECT_EQ(KOInstrumentWrapper::create<TestModel>(QString())->title(), "");
    EXPECT_FALSE(KOInstrumentWrapper::create<TestModel>(QString())->title().isNull());
    EXPECT_EQ(decode({{"identifier", "X"}})->title(), "");
}

TEST_F(InstrumentWrapperTest, ArchiveKeepsIdentityTitleAndNotesButNotPause) {
    auto model = KOInstrumentWrapper::create<TestModel>("Analyzer 1");
    model->setNotes("left mic");
    model->setPause(true);
    ASSERT_TRUE(model->pause());
    const QVariantMap archived = KeyedArchiver::encodeToDictionary(*model);
    EXPECT_EQ(archived.value("$class"), "TestModel");

    auto copy = decode(archived);
    EXPECT_EQ(copy->identifier(), model->identifier());
    EXPECT_EQ(copy->title(), "Analyzer 1");
    EXPECT_EQ(copy->notes(), "left mic");
    EXPECT_FALSE(copy->pause());
    // Same identifier, same hash, yet two objects.
    EXPECT_EQ(copy->hash(), model->hash());
    EXPECT_NE(copy.get(), model.get());

    auto plain = KOInstrumentWrapper::create<TestModel>("No notes");
    EXPECT_FALSE(KeyedArchiver::encodeToDictionary(*plain).contains("notes"));
}

TEST_F(InstrumentWrapperTest, ArchiveWithoutIdentifierIsRefused) {
    EXPECT_THROW(decode({{"title", "A"}}), std::invalid_argument);
    EXPECT_THROW(decode({{"title", "A"}, {"identifier", 12}}), std::invalid_argument);
}

struct ChannelChange {
    const char* what;
    bool readFirst;
    QStringList newNames;
    int announcements;
};

class ChannelCache : public InstrumentWrapperTest,
                     public ::testing::WithParamInterface<ChannelChange> {};

TEST_P(ChannelCache, ObserversHearOnlyOfRealChanges) {
    auto model = KOInstrumentWrapper::create<TestModel>("A");
    int heard = 0;
    QObject::connect(model.get(), &KOInstrumentWrapper::availableInputChannelsChanged,
                     [&] { ++heard; });
    if (GetParam().readFirst) {
        EXPECT_EQ(model->availableInputChannels(), (QStringList{"In 1", "In 2"}));
    }
    device.names = GetParam().newNames;
    NotificationCenter::defaultCenter().post("KORUNOT.reloadAudioProp");
    EXPECT_EQ(heard, GetParam().announcements);
    EXPECT_EQ(model->availableInputChannels(), GetParam().newNames);
}

INSTANTIATE_TEST_SUITE_P(Changes, ChannelCache,
                         ::testing::Values(ChannelChange{"same", true, {"In 1", "In 2"}, 0},
                                           ChannelChange{"renamed", true, {"In 1", "Mic"}, 1},
                                           ChannelChange{"fewer", true, {"In 1"}, 1},
                                           ChannelChange{"never_read", false, {"In 1", "In 2"}, 1}),
                         [](const auto& info) { return std::string(info.param.what); });

class PairProcessing : public KOTwoChannelInstrument {
public:
    void Process(const AudioBufferList*, std::uint32_t) override {}
};

class PairModel : public KOTwoChannelInstrumentWrapper {
public:
    QString archiveClassName() const override { return QStringLiteral("PairModel"); }
    KOTwoChannelInstrument* twoChannelInstrument() override {
        if (!mProcessing)
            mProcessing = std::make_unique<PairProcessing>();
        return mProcessing.get();
    }

private:
    std::unique_ptr<PairProcessing> mProcessing;
};

class BarePairModel : public KOTwoChannelInstrumentWrapper {
public:
    QString archiveClassName() const override { return QStringLiteral("BarePairModel"); }
};

TEST_F(InstrumentWrapperTest, TwoChannelModelArchivesItsPair) {
    auto model = KOInstrumentWrapper::create<PairModel>("Transfer 1");
    model->setInChannelA(2);
    model->setInChannelB(3);
    const QVariantMap archived = KeyedArchiver::encodeToDictionary(*model);
    EXPECT_EQ(archived.value("chA").toInt(), 2);

    KeyedUnarchiver coder(archived);
    PairModel copy;
    copy.initWithCoder(coder);
    EXPECT_EQ(copy.inChannelA(), 2);
    EXPECT_EQ(copy.inChannelB(), 3);

    KeyedUnarchiver bare({{"identifier", "P"}});
    PairModel defaults;
    defaults.initWithCoder(bare);
    EXPECT_EQ(defaults.inChannelA(), 0);
    EXPECT_EQ(defaults.inChannelB(), 0);
}

TEST_F(InstrumentWrapperTest, TwoChannelModelWithoutProcessingRefusesChannels) {
    auto model = KOInstrumentWrapper::create<BarePairModel>("Bare");
    try {
        model->setInChannelB(1);
        FAIL() << "no failure";
    } catch (const InternalInconsistencyException& error) {
        EXPECT_EQ(error.reason(), "instrument is NULL, setInChannelB");
    }
    EXPECT_THROW(model->inChannelA(), InternalInconsistencyException);
}

} // namespace
