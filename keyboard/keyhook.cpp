#include "keyboard/keyhook.h"

#include "keyboard/frmkeyconfig.h"
#include "keyboard/keyactions.h"
#include "keyboard/keymap.h"

#include <QPushButton>
#include <QApplication>
#include <QKeyEvent>
#include <QPointer>
#include <QWidget>

#include <memory>
#include <unordered_map>

namespace kivra {

namespace {

QPointer<frmKeyConfig> g_keyConfig;

class KeyFilter : public QObject {
public:
    QPointer<QWidget> piano;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        switch (event->type()) {
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
            return OnKey(static_cast<QKeyEvent*>(event));
        case QEvent::ShortcutOverride:
            return OnShortcutOverride(static_cast<QKeyEvent*>(event));
        case QEvent::WindowDeactivate:
            // Releases after this go to another window: let go of everything held now.
            if (piano && watched == piano.data()) ReleaseHeldKeys();
            return false;
        default:
            return false;
        }
    }

private:
    int VirtualKey(const QKeyEvent* e, bool press) {
        const std::uint32_t scan = e->nativeScanCode();
        if (!press && scan != 0) {
            // A release after Shift was let go reports another key: match it to its press.
            const auto it = pressedByScan_.find(scan);
            if (it != pressedByScan_.end()) {
                const int vk = it->second;
                if (!e->isAutoRepeat()) pressedByScan_.erase(it);
                return vk;
            }
        }
        const int vk = VirtualKeyFromQt(e->key(), e->modifiers().testFlag(Qt::KeypadModifier), scan);
        if (press && scan != 0 && vk != 0) pressedByScan_[scan] = vk;
        return vk;
    }

    bool OnKey(QKeyEvent* e) {
        const bool press = e->type() == QEvent::KeyPress;
        const int vk = VirtualKey(e, press);
        bool consumed = false;
        if (vk != 0 && piano && IsFormActive(piano)) {
            // X11 auto-repeat sends a release before each repeated press: the key is still held.
            if (!press && e->isAutoRepeat())
                consumed = Consumes(vk);
            else
                consumed = KeyAction(vk, press);
        }
        if (press && g_keyConfig && IsFormActive(g_keyConfig) && g_keyConfig->chkKey()->isChecked()) {
            consumed = true;
            if (vk != 0) g_keyConfig->SetKey(vk);
        }
        return consumed;
    }

    // A key the window will withhold must not trigger a shortcut or mnemonic either.
    bool OnShortcutOverride(QKeyEvent* e) {
        const int vk = VirtualKeyFromQt(e->key(), e->modifiers().testFlag(Qt::KeypadModifier), e->nativeScanCode());
        bool withheld = vk != 0 && piano && IsFormActive(piano) && Consumes(vk);
        withheld = withheld || (g_keyConfig && IsFormActive(g_keyConfig) && g_keyConfig->chkKey()->isChecked());
        if (withheld) e->accept();
        return withheld;
    }

    static bool Consumes(int vk) {
        const std::uint8_t action = g_KeyMap[static_cast<std::size_t>(vk)].Action;
        return action >= kActionPlayRelative && action <= kActionDeleteNote;
    }

    std::unordered_map<std::uint32_t, int> pressedByScan_;
};

std::unique_ptr<KeyFilter> g_filter;

}  // namespace

void InstallKeyboardHook(QWidget* piano) {
    if (!g_filter) {
        g_filter = std::make_unique<KeyFilter>();
        QCoreApplication::instance()->installEventFilter(g_filter.get());
    }
    g_filter->piano = piano;
}

void RemoveKeyboardHook() {
    if (!g_filter) return;
    ReleaseHeldKeys();
    if (QCoreApplication::instance()) QCoreApplication::instance()->removeEventFilter(g_filter.get());
    g_filter.reset();
}

bool IsFormActive(const QWidget* form) { return form && QApplication::activeWindow() == form; }

void SetKeyConfigTarget(frmKeyConfig* form) { g_keyConfig = form; }

}  // namespace kivra
