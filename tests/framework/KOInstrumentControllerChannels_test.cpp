#include "framework/InstrumentAudioDevice.h"
#include "framework/KOInstrumentController.h"
#include "framework/KOMenuAdditions.h"
#include "framework/KOPopUpButtonAdditions.h"
#include "framework/KeyboardModifierSource.h"
#include "platform/fourcc/FourCC.h"

#include <QAction>
#include <QComboBox>
#include <QMainWindow>
#include <QMenu>
#include <QVBoxLayout>

#include <gtest/gtest.h>

using koru::framework::InstrumentAudioDevice;
using koru::framework::KeyboardModifierSource;
using koru::platform::fourCC;

namespace {

// The audio device as the instruments see it: named channels and their menu.
class FakeAudioDevice : public InstrumentAudioDevice {
public:
    std::uint32_t inputDeviceObjectID() const override { return 7; }
    QString currentAudioDeviceName() const override { return "Fake"; }
    QString currentAudioDeviceUID() const override { return "virtual:Fake"; }
    QStringList channelNamesArray() const override { return names; }
    std::uint32_t totalNumberChannels() const override { return std::uint32_t(names.size()); }
    std::unique_ptr<QMenu> inputChannelMenu() const override {
        auto menu = std::make_unique<QMenu>("Input Channel");
        for (qsizetype i = 0; i < names.size(); ++i)
            KOMenuAdditions::addItemWithTitle(*menu, names[i], qint64(i))->setCheckable(true);
        return menu;
    }
    QStringList names;
};

QStringList channelNames(const char* prefix, int count) {
    QStringList names;
    for (int i = 0; i < count; ++i)
        names << QStringLiteral("(%1) %2").arg(i + 1).arg(prefix);
    return names;
}

// Builds a window whose outlets are the channel pop-ups the test asks for.
class ChannelInstrument : public KOInstrumentController {
public:
    ChannelInstrument(bool twoChannels, bool withMenu)
        : mTwoChannels(twoChannels), mWithMenu(withMenu) {}

    qint64 inputChannel() const override { return input; }
    void setInputChannel(qint64 channel) override { input = channel; }
    qint64 inChannelA() const override { return a; }
    void setInChannelA(qint64 channel) override { a = channel; }
    qint64 inChannelB() const override { return b; }
    void setInChannelB(qint64 channel) override { b = channel; }

    QMenu* subMenu(std::uint32_t tag) {
        QAction* item = KOMenuAdditions::itemWithTag(*instrumentMenu(), tag);
        return item ? item->menu() : nullptr;
    }

    qint64 input = 0, a = 0, b = 1;

protected:
    std::unique_ptr<QMainWindow> buildWindow(const QString&) override {
        auto window = std::make_unique<QMainWindow>();
        auto* content = new QWidget(window.get());
        auto* layout = new QVBoxLayout(content);
        window->setCentralWidget(content);
        if (mTwoChannels) {
            setMChAMenu(new QComboBox(content));
            setMChBMenu(new QComboBox(content));
            layout->addWidget(mChAMenu());
            layout->addWidget(mChBMenu());
        } else {
            setMInputMenu(new QComboBox(content));
            layout->addWidget(mInputMenu());
        }
        if (mWithMenu)
            mInstrumentMenu = std::make_unique<QMenu>("Instrument");
        return window;
    }

private:
    bool mTwoChannels;
    bool mWithMenu;
};

QStringList titles(const QMenu* menu) {
    QStringList list;
    if (!menu)
        return {"<no menu>"};
    for (const QAction* item : menu->actions())
        list << item->text();
    return list;
}

QStringList titles(const QComboBox* popUp) {
    QStringList list;
    for (int i = 0; i < popUp->count(); ++i)
        list << popUp->itemText(i);
    return list;
}

QStringList checkedTitles(const QMenu* menu) {
    QStringList list;
    for (const QAction* item : menu->actions()) {
        if (item->isChecked())
            list << item->text();
    }
    return list;
}

class ChannelSelection : public ::testing::Test {
protected:
    ChannelSelection() {
        device.names = channelNames("In", 4);
        InstrumentAudioDevice::setShared(&device);
        KeyboardModifierSource::setProvider([this] { return held; });
    }
    ~ChannelSelection() override {
        KeyboardModifierSource::setProvider({});
        InstrumentAudioDevice::setShared(nullptr);
    }
    std::unique_ptr<ChannelInstrument> make(bool twoChannels, bool withMenu = true) {
        auto instrument = KOInstrumentController::create<ChannelInstrument>("Test", nullptr,
                                                                            twoChannels, withMenu);
        instrument->audioPropertiesChanged();
        return instrument;
    }

    FakeAudioDevice device;
    Qt::KeyboardModifiers held = Qt::NoModifier;
};

} // namespace

TEST_F(ChannelSelection, TwoChannelMenuHasTheDevicesChannelsOnce) {
    auto instrument = make(true);
    QMenu* menu = instrument->instrumentMenu();
    instrument->instrumentMenu(); // asked again: no second set of submenus
    EXPECT_EQ(titles(menu), (QStringList{"Input A", "Input B"}));
    EXPECT_EQ(titles(instrument->subMenu(fourCC("in_a"))), device.names);
    EXPECT_EQ(titles(instrument->subMenu(fourCC("in_b"))), device.names);
    EXPECT_EQ(instrument->subMenu(fourCC("inpt")), nullptr);
    EXPECT_EQ(titles(instrument->mChAMenu()), device.names);
    EXPECT_EQ(instrument->mChAMenu()->currentIndex(), 0);
    EXPECT_EQ(instrument->mChBMenu()->currentIndex(), 1);
}

TEST_F(ChannelSelection, MenuChoicesSetTheChannelsAndTheOtherOneFollowsWithAModifier) {
    struct Case {
        const char* name;
        std::uint32_t submenu;
        int item;
        Qt::KeyboardModifiers modifiers;
        qint64 expectedA, expectedB;
    };
    const Case cases[] = {
        {"A alone", fourCC("in_a"), 2, Qt::NoModifier, 2, 1},
        {"A with Alt wraps B to 0", fourCC("in_a"), 3, Qt::AltModifier, 3, 0},
        {"A with Shift", fourCC("in_a"), 1, Qt::ShiftModifier, 1, 2},
        {"B with Ctrl", fourCC("in_b"), 2, Qt::ControlModifier, 3, 2},
        {"B alone", fourCC("in_b"), 0, Qt::NoModifier, 0, 0},
        {"Meta is no follow key", fourCC("in_a"), 2, Qt::MetaModifier, 2, 1},
    };
    for (const Case& c : cases) {
        auto instrument = make(true);
        held = c.modifiers;
        instrument->subMenu(c.submenu)->actions().at(c.item)->trigger();
        EXPECT_EQ(instrument->a, c.expectedA) << c.name;
        EXPECT_EQ(instrument->b, c.expectedB) << c.name;
        // The pop-ups show the choice as well.
        EXPECT_EQ(KOPopUpButtonAdditions::selectedTag(*instrument->mChAMenu()), c.expectedA)
            << c.name;
        EXPECT_EQ(KOPopUpButtonAdditions::selectedTag(*instrument->mChBMenu()), c.expectedB)
            << c.name;
    }
}

TEST_F(ChannelSelection, InvalidChannelIndexChangesNothing) {
    auto instrument = make(true);
    held = Qt::AltModifier;
    for (const qint64 tag : {qint64(-1), qint64(4), qint64(1) << 40}) {
        instrument->changeInChannelA(tag);
        instrument->changeInChannelB(tag);
        EXPECT_EQ(instrument->a, 0) << tag;
        EXPECT_EQ(instrument->b, 1) << tag;
    }
    device.names.clear();
    instrument->changeInChannelA(0);
    EXPECT_EQ(instrument->a, 0) << "no channel at all";
}

TEST_F(ChannelSelection, OpeningTheMenuChecksTheCurrentChannels) {
    auto instrument = make(true);
    instrument->a = 2;
    instrument->b = 3;
    emit instrument->instrumentMenu()->aboutToShow();
    EXPECT_EQ(checkedTitles(instrument->subMenu(fourCC("in_a"))), QStringList{"(3) In"});
    EXPECT_EQ(checkedTitles(instrument->subMenu(fourCC("in_b"))), QStringList{"(4) In"});
    instrument->a = 0;
    emit instrument->instrumentMenu()->aboutToShow();
    EXPECT_EQ(checkedTitles(instrument->subMenu(fourCC("in_a"))), QStringList{"(1) In"});
}

TEST_F(ChannelSelection, DeviceChangeRefillsSubmenusAndPopUps) {
    auto instrument = make(true);
    instrument->a = 4;
    instrument->b = 5;
    device.names = channelNames("Other", 6);
    instrument->audioPropertiesChanged();
    EXPECT_EQ(titles(instrument->instrumentMenu()), (QStringList{"Input A", "Input B"}));
    EXPECT_EQ(titles(instrument->subMenu(fourCC("in_a"))), device.names);
    EXPECT_EQ(titles(instrument->subMenu(fourCC("in_b"))), device.names);
    EXPECT_EQ(titles(instrument->mChAMenu()), device.names);
    EXPECT_EQ(titles(instrument->mChBMenu()), device.names);
    EXPECT_EQ(instrument->mChAMenu()->currentText(), "(5) Other");
    EXPECT_EQ(instrument->mChBMenu()->currentText(), "(6) Other");
    // The fresh submenus still act on this instrument.
    instrument->subMenu(fourCC("in_b"))->actions().at(4)->trigger();
    EXPECT_EQ(instrument->b, 4);
}

TEST_F(ChannelSelection, PopUpChoiceGoesToTheSetter) {
    auto instrument = make(true);
    instrument->audioPropertiesChanged(); // bound twice: still one change per choice
    held = Qt::AltModifier;
    QComboBox* popUp = instrument->mChBMenu();
    popUp->setCurrentIndex(3);
    emit popUp->activated(3);
    EXPECT_EQ(instrument->b, 3);
    EXPECT_EQ(instrument->a, 0) << "a pop-up is a plain binding; no follower";
}

TEST_F(ChannelSelection, OneChannelInstrumentUsesItsInputMenu) {
    auto instrument = make(false);
    EXPECT_EQ(titles(instrument->instrumentMenu()), QStringList{"Input Channel"});
    EXPECT_EQ(instrument->subMenu(fourCC("in_a")), nullptr);
    instrument->subMenu(fourCC("inpt"))->actions().at(2)->trigger();
    EXPECT_EQ(instrument->input, 2);
    EXPECT_EQ(instrument->mInputMenu()->currentIndex(), 2);

    instrument->changeInputChannel(9);
    EXPECT_EQ(instrument->input, 2);

    instrument->input = 1;
    emit instrument->instrumentMenu()->aboutToShow();
    EXPECT_EQ(checkedTitles(instrument->subMenu(fourCC("inpt"))), QStringList{"(2) In"});

    device.names = channelNames("Mic", 2);
    instrument->audioPropertiesChanged();
    EXPECT_EQ(titles(instrument->subMenu(fourCC("inpt"))), device.names);
    EXPECT_EQ(titles(instrument->mInputMenu()), device.names);
    EXPECT_EQ(instrument->mInputMenu()->currentIndex(), 1);
}

TEST_F(ChannelSelection, WithoutInstrumentMenuThePopUpStillWorks) {
    auto instrument = make(false, false);
    EXPECT_EQ(instrument->instrumentMenu(), nullptr);
    QComboBox* popUp = instrument->mInputMenu();
    EXPECT_EQ(titles(popUp), device.names);
    emit popUp->activated(3);
    EXPECT_EQ(instrument->input, 3);
}
