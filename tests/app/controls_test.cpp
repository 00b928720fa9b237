// The tests reach a window's controls by their objectNames: each window's
// own, of the type asked, never those of a window it owns; a missing one
// stops the caller with its name.
#include "app/scripterrornotice.h"
#include "app/updatepictures.h"
#include "app/updatewindow.h"
#include "app/upgradewindow.h"
#include "tests/support/controls.h"

#include <QLabel>
#include <QPushButton>
#include <gtest/gtest.h>

namespace {

TEST(Controls, FoundByNameAndTypeInTheirOwnWindowOnly)
{
    TUpdateWindow window;
    // the upgrade window and its notice are windows of their own, owned by
    // the update window, with controls named like the update window's
    auto* upgrade = new TUpgradeWindow(&window);
    auto* notice = new TScriptErrorNotice(upgrade);
    EXPECT_EQ(Control<QLabel>(window, "Label1")->text(), "Sistema Keldarin");
    EXPECT_EQ(Control<QPushButton>(window, "Button3")->text(), "&Sair");
    EXPECT_EQ(Control<QPushButton>(*notice, "Button3")->text(), "&Cont..");
    EXPECT_EQ(Control<QLabel>(*upgrade, "Label1")->text(), "Verificando Scripts");
    EXPECT_NE(Control<TGauge>(window, "Gauge1"), nullptr);
    EXPECT_EQ(FindControl<QLabel>(&window, "Button1"), nullptr); // a button, not a label
    EXPECT_EQ(FindControl<QWidget>(&window, "pb1"), nullptr);    // the upgrade window's
    EXPECT_EQ(FindControl<QLabel>(nullptr, "Label1"), nullptr);
}

TEST(ControlsDeathTest, AMissingControlStopsTheCallerWithItsName)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    TScriptErrorNotice notice;
    EXPECT_DEATH(Control<QLabel>(notice, "lblstatus"), "The window \"Form2\" has no control \"lblstatus\"");
}

} // namespace
