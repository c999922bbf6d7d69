#include "framework/KODrawModePopupButton.h"
#include "framework/KOFFTSizePopUpButton.h"
#include "framework/KOFFTWindowTypePopUpButton.h"
#include "framework/KOMenuAdditions.h"
#include "framework/KOPopUpButtonAdditions.h"
#include "platform/fourcc/FourCC.h"

#include <QAction>
#include <QComboBox>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>
#include <QWidget>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <vector>

using koru::platform::fourCC;

namespace {

struct Item {
    QString title;
    qint64 tag;
    bool operator==(const Item&) const = default;
};

std::vector<Item> itemsOf(const QMenu& menu) {
    std::vector<Item> items;
    for (const QAction* action : menu.actions())
        items.push_back({action->text(), KOMenuItemAdditions::tag(*action)});
    return items;
}

std::vector<Item> itemsOf(const QComboBox& popUp) {
    std::vector<Item> items;
    for (int i = 0; i < popUp.count(); ++i)
        items.push_back({popUp.itemText(i), popUp.itemData(i).toLongLong()});
    return items;
}

void PrintTo(const Item& item, std::ostream* os) {
    *os << item.title.toStdString() << "/" << item.tag;
}

struct MenuCase {
    const char* name;
    std::function<std::unique_ptr<QMenu>()> make;
    std::function<void(QComboBox&)> become;
    QString title;
    std::vector<Item> items;
};

const std::vector<MenuCase>& menuCases() {
    static const std::vector<MenuCase> cases = {
        {"fftSize",
         KOMenuAdditions::fftSizeMenu,
         KOPopUpButtonAdditions::becomeFFTSizeMenu,
         "FFT Size",
         {{"8192", 8192}, {"16384", 16384}, {"32768", 32768}, {"65536", 65536}}},
        {"windowType",
         KOMenuAdditions::fftWindowTypeMenu,
         KOPopUpButtonAdditions::becomeFFTWindowTypeMenu,
         "Window Type",
         {{"Hanning", 0x68616E6E},
          {"Hamming", fourCC("hamm")},
          {"Blackman", fourCC("blkm")},
          {"Sine", fourCC("sine")},
          {"Rectangle", fourCC("rect")}}},
        {"octave",
         KOMenuAdditions::octaveMenu,
         KOPopUpButtonAdditions::becomeOctaveMenu,
         "Octave",
         {{"1 Octave", 1},
          {"1/3 Octave", 3},
          {"1/6 Octave", 6},
          {"1/12 Octave", 12},
          {"1/24 Octave", 24}}},
        {"accumulation",
         KOMenuAdditions::accumulationModeMenu,
         KOPopUpButtonAdditions::becomeAccumulationModeMenu,
         "Accumulation Mode",
         {{"White Noise is flat", fourCC("whit")},
          {"Pink Noise is flat", fourCC("pink")},
          {"Peak", fourCC("peak")}}},
    };
    return cases;
}

} // namespace

TEST(KOMenuAdditions, ParameterMenusCarryTheirValuesAsTags) {
    for (const MenuCase& c : menuCases()) {
        const auto menu = c.make();
        EXPECT_EQ(menu->title(), c.title) << c.name;
        EXPECT_EQ(itemsOf(*menu), c.items) << c.name;
        for (const QAction* item : menu->actions()) {
            EXPECT_FALSE(KOMenuItemAdditions::hasAction(*item)) << c.name;
            EXPECT_TRUE(item->shortcut().isEmpty()) << c.name;
            EXPECT_FALSE(item->isChecked()) << c.name;
        }
    }
}

TEST(KOMenuAdditions, PopUpsBecomeTheParameterMenusWhateverTheyHeld) {
    for (const MenuCase& c : menuCases()) {
        QComboBox popUp;
        popUp.addItem("stale", 99);
        c.become(popUp);
        EXPECT_EQ(itemsOf(popUp), c.items) << c.name;
    }
    EXPECT_EQ(itemsOf(KOFFTSizePopUpButton()), menuCases()[0].items);
    EXPECT_EQ(itemsOf(KOFFTWindowTypePopUpButton()), menuCases()[1].items);
}

TEST(KOMenuAdditions, CheckItemWithTagMarksOnlyTheMatchingItem) {
    const auto menu = KOMenuAdditions::accumulationModeMenu();
    const auto checkedTitles = [&] {
        QStringList titles;
        for (const QAction* item : menu->actions()) {
            if (item->isChecked())
                titles << item->text();
        }
        return titles;
    };
    KOMenuAdditions::checkItemWithTag(*menu, fourCC("pink"));
    EXPECT_EQ(checkedTitles(), QStringList{"Pink Noise is flat"});
    KOMenuAdditions::checkItemWithTag(*menu, fourCC("peak"));
    EXPECT_EQ(checkedTitles(), QStringList{"Peak"});
    KOMenuAdditions::checkItemWithTag(*menu, fourCC("rect")); // no such item: all off
    EXPECT_TRUE(checkedTitles().isEmpty());
}

TEST(KOMenuAdditions, ItemsActionRunsWithTheChosenItemAndCanBeReplaced) {
    const auto menu = KOMenuAdditions::fftSizeMenu();
    QObject target;
    std::vector<qint64> first, second;
    KOMenuAdditions::setItemsAction(
        *menu, &target, [&](QAction* item) { first.push_back(KOMenuItemAdditions::tag(*item)); });
    menu->actions()[2]->trigger();
    EXPECT_EQ(first, std::vector<qint64>{32768});

    KOMenuAdditions::setItemsAction(
        *menu, &target, [&](QAction* item) { second.push_back(KOMenuItemAdditions::tag(*item)); });
    menu->actions()[0]->trigger();
    EXPECT_EQ(first.size(), 1u) << "the replaced action still ran";
    EXPECT_EQ(second, std::vector<qint64>{8192});
}

TEST(KOMenuAdditions, ActionOfAGoneTargetDoesNotRun) {
    auto menu = std::make_unique<QMenu>();
    int calls = 0;
    {
        QObject target;
        KOMenuAdditions::addItemWithTitle(
            *menu, "Item", &target, [&](QAction*) { ++calls; }, QKeySequence("Ctrl+K"), 7);
        menu->actions()[0]->trigger();
    }
    menu->actions()[0]->trigger();
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(menu->actions()[0]->shortcut(), QKeySequence("Ctrl+K"));
}

TEST(KOMenuAdditions, SubmenuItemsAreTaggedAndTheirMenusReplaced) {
    QMenu menu;
    auto first = std::make_unique<QMenu>("Input A");
    KOMenuAdditions::addItemWithTitle(*first, "one", 0);
    QPointer<QMenu> firstPointer = first.get();
    QAction* item = KOMenuAdditions::addSubmenu(menu, std::move(first), fourCC("in_a"));
    EXPECT_EQ(item->text(), "Input A");
    EXPECT_EQ(KOMenuAdditions::itemWithTag(menu, fourCC("in_a")), item);
    EXPECT_EQ(KOMenuAdditions::itemWithTag(menu, fourCC("in_b")), nullptr);
    EXPECT_EQ(item->menu(), firstPointer.data());

    auto fresh = std::make_unique<QMenu>("Input A");
    QMenu* freshPointer = fresh.get();
    KOMenuAdditions::replaceSubmenu(*item, std::move(fresh));
    EXPECT_EQ(item->menu(), freshPointer);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(firstPointer.isNull()) << "the replaced submenu is never freed";
}

namespace {

// A shown, active window holding the pop-up, so window shortcuts reach it.
class ShownPopUp : public ::testing::Test {
protected:
    template <typename PopUp> PopUp* install() {
        auto* popUp = new PopUp(&window);
        layout->addWidget(popUp);
        window.show();
        window.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&window));
        return popUp;
    }
    QWidget window;
    QVBoxLayout* layout = new QVBoxLayout(&window);
};

} // namespace

TEST_F(ShownPopUp, OctaveShortcutsAnswerShiftDigitAsTheKeyboardSendsIt) {
    struct Case {
        Qt::Key key;
        int expectedIndex;
    };
    // Shift+3 arrives as '#' from a US keyboard; a remapped or synthesised one may say '3'.
    const Case cases[] = {
        {Qt::Key_NumberSign, 2}, {Qt::Key_3, 2}, {Qt::Key_Exclam, 0}, {Qt::Key_5, 4}};
    auto* popUp = install<QComboBox>();
    KOPopUpButtonAdditions::becomeOctaveMenu(*popUp);
    KOPopUpButtonAdditions::createShortcutsForOctaveMenu(*popUp);
    QSignalSpy chosen(popUp, &QComboBox::activated);
    for (const Case& c : cases) {
        popUp->setCurrentIndex(1);
        chosen.clear();
        QTest::keyClick(&window, c.key, Qt::ShiftModifier);
        EXPECT_EQ(popUp->currentIndex(), c.expectedIndex) << c.key;
        ASSERT_EQ(chosen.count(), 1) << c.key;
        EXPECT_EQ(chosen.at(0).at(0).toInt(), c.expectedIndex);
    }
    EXPECT_EQ(KOPopUpButtonAdditions::selectedTag(*popUp), 24);
    QTest::keyClick(&window, Qt::Key_NumberSign, Qt::ShiftModifier);
    EXPECT_EQ(KOPopUpButtonAdditions::selectedTag(*popUp), 6);
}

TEST_F(ShownPopUp, DrawModeShortcutsSurviveBeingCreatedTwice) {
    auto* popUp = install<KODrawModePopupButton>();
    popUp->createShortcuts();
    popUp->createShortcuts();
    EXPECT_EQ(itemsOf(*popUp),
              (std::vector<Item>{{"Cont", 0}, {"Fill", 1}, {"Oct.", 2}, {"Pk Bar", 3}}));
    // Left-over duplicates would make every key ambiguous, and Qt then fires none.
    struct Case {
        Qt::Key key;
        qint64 mode;
    };
    for (const Case& c :
         {Case{Qt::Key_O, 2}, Case{Qt::Key_P, 3}, Case{Qt::Key_C, 0}, Case{Qt::Key_F, 1}}) {
        QTest::keyClick(&window, c.key, Qt::AltModifier);
        EXPECT_EQ(KOPopUpButtonAdditions::selectedTag(*popUp), c.mode) << c.key;
    }
    // Rebuilding without shortcuts takes the old ones away.
    popUp->awakeFromNib();
    popUp->setCurrentIndex(0);
    QTest::keyClick(&window, Qt::Key_P, Qt::AltModifier);
    EXPECT_EQ(popUp->currentIndex(), 0);
}

TEST(KOPopUpButtonAdditions, SelectItemWithTagLeavesTheSelectionForAnUnknownTag) {
    KOFFTWindowTypePopUpButton popUp;
    EXPECT_TRUE(KOPopUpButtonAdditions::selectItemWithTag(popUp, fourCC("blkm")));
    EXPECT_EQ(popUp.currentText(), "Blackman");
    EXPECT_FALSE(KOPopUpButtonAdditions::selectItemWithTag(popUp, 4096));
    EXPECT_EQ(popUp.currentText(), "Blackman");
    QComboBox empty;
    EXPECT_EQ(KOPopUpButtonAdditions::selectedTag(empty), 0);
}
