#include "framework/KOToolbarItemAdditions.h"
#include "framework/KOWindowButtonAdditions.h"

#include <QMenu>
#include <QTest>
#include <QToolButton>
#include <QWidgetAction>

#include <gtest/gtest.h>

#include <memory>

TEST(KOToolbarItemAdditions, ItemCarriesOneBorderlessButtonActingOnItsTarget) {
    QObject parent;
    auto target = std::make_unique<QObject>();
    int clicks = 0;
    QToolButton* button = nullptr;
    QWidgetAction* item = KOToolbarItemAdditions::toolbarButtonItem(
        "KOToolbarItemIdentifier_Settings", "Settings", QIcon(), target.get(), [&] { ++clicks; },
        &button, &parent);
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(item->objectName(), "KOToolbarItemIdentifier_Settings");
    EXPECT_EQ(item->defaultWidget(), button);
    EXPECT_EQ(item->parent(), &parent);
    EXPECT_TRUE(item->text().isEmpty()) << "the item shows no label";
    EXPECT_EQ(button->toolTip(), "Settings");
    EXPECT_EQ(button->size(), QSize(27, 25));
    EXPECT_TRUE(button->autoRaise());

    button->click();
    EXPECT_EQ(clicks, 1);
    target.reset();
    button->click();
    EXPECT_EQ(clicks, 1) << "the action of a gone target ran";

    // Without the out-parameter the item is still complete.
    QWidgetAction* plain = KOToolbarItemAdditions::toolbarButtonItem(
        "KOToolbarItemIdentifier_Sticky", "sticky", QIcon(), nullptr, {}, nullptr, &parent);
    EXPECT_NE(qobject_cast<QToolButton*>(plain->defaultWidget()), nullptr);
}

TEST(KOWindowButtonAdditions, PopUpButtonOpensAnEmptyUntitledMenu) {
    std::unique_ptr<QToolButton> popUp(KOWindowButtonAdditions::windowIconPopUpButton());
    EXPECT_EQ(popUp->size(), QSize(32, 25));
    EXPECT_EQ(popUp->popupMode(), QToolButton::InstantPopup);
    ASSERT_NE(popUp->menu(), nullptr);
    EXPECT_TRUE(popUp->menu()->title().isEmpty());
    EXPECT_TRUE(popUp->menu()->actions().isEmpty());
    EXPECT_TRUE(popUp->text().isEmpty());
    std::unique_ptr<QToolButton> plain(KOWindowButtonAdditions::windowIconButton());
    EXPECT_EQ(plain->size(), QSize(27, 25));
    EXPECT_EQ(plain->menu(), nullptr);
}
