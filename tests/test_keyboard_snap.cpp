#include "keyboard/frmkeyconfig.h"
#include "keyboard/keymap.h"
#include <QAbstractButton>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>
TEST(Snap, KeyConfig) {
    kivra::g_KeyMap[0x51] = kivra::KeyMapEntry{1, 3, {60, 64, 67}};
    kivra::frmKeyConfig f;
    f.show();
    f.chkKey()->setChecked(true);
    f.SetKey(0x51);
    f.grab().save("/tmp/kb-keyconfig.png");
}
