#include "keyboard/keyhook.h"

#include "keyboard/frmkeyconfig.h"
#include "keyboard/keyactions.h"
#include "keyboard/keymap.h"
#include "midi/midiio.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

#include <cstdlib>
#include <memory>
#include <optional>
#include <unordered_map>

#if KIVRA_X11_LAYOUT
#include <xcb/xcb.h>
#include <xkbcommon/xkbcommon.h>
#endif

namespace kivra {

namespace {

QPointer<frmKeyConfig> g_keyConfig;

// X11 auto-repeat delivers a release and a press of the held key with one timestamp, and Qt does
// not always flag them: a release waits this long (milliseconds) for such a press before it counts.
constexpr int kRepeatPairMs = 25;

// What each key types in the first group of the X server's keyboard map, so that key names follow
// the user's layout; all 0 on other platforms.
KeyboardLayout PlatformLayout() {
    KeyboardLayout layout{};
#if KIVRA_X11_LAYOUT
    const auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
    if (!connection) return layout;
    const xcb_setup_t* setup = xcb_get_setup(connection);
    const auto count = static_cast<std::uint8_t>(setup->max_keycode - setup->min_keycode + 1);
    const std::unique_ptr<xcb_get_keyboard_mapping_reply_t, decltype(&std::free)> reply(
        xcb_get_keyboard_mapping_reply(connection, xcb_get_keyboard_mapping(connection, setup->min_keycode, count), nullptr),
        &std::free);
    if (!reply || reply->keysyms_per_keycode == 0) return layout;
    const xcb_keysym_t* keysyms = xcb_get_keyboard_mapping_keysyms(reply.get());
    for (int i = 0; i < count; ++i)
        layout[static_cast<std::size_t>(setup->min_keycode + i)] = xkb_keysym_to_utf32(keysyms[i * reply->keysyms_per_keycode]);
#endif
    return layout;
}

class KeyFilter : public QObject {
public:
    QPointer<QWidget> piano;

    KeyFilter() {
        repeatTimer_.setSingleShot(true);
        repeatTimer_.setInterval(kRepeatPairMs);
        connect(&repeatTimer_, &QTimer::timeout, this, [this] { FlushRelease(); });
    }

    // A release still waiting for its repeat press happens now.
    void FlushRelease() {
        repeatTimer_.stop();
        if (const auto pending = std::exchange(pending_, std::nullopt)) KeyAction(pending->vk, false);
    }

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
            if (piano && watched == piano.data()) {
                FlushRelease();
                ReleaseHeldKeys();
            }
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
        if (pending_) {
            // The press that pairs with the waiting release makes both an auto-repeat: the key
            // is still held, and what follows is a repeated press as other platforms send it.
            if (press && vk == pending_->vk && e->timestamp() == pending_->timestamp) {
                repeatTimer_.stop();
                pending_.reset();
            } else {
                FlushRelease();  // any other event comes after the release
            }
        }
        bool consumed = false;
        if (vk != 0 && piano && IsFormActive(piano)) {
            // A release that Qt knows to be an auto-repeat: the key is still held.
            if (!press && e->isAutoRepeat()) {
                consumed = Consumes(vk);
            } else if (!press && e->timestamp() != 0 && Consumes(vk)) {
                pending_ = PendingRelease{vk, e->timestamp()};
                repeatTimer_.start();
                consumed = true;
            } else {
                consumed = KeyAction(vk, press);
            }
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
        return action >= kActionPlayRelative && action <= kActionSustainPedal;
    }

    struct PendingRelease {
        int vk;
        quint64 timestamp;  // milliseconds, the window system's clock
    };
    std::unordered_map<std::uint32_t, int> pressedByScan_;
    std::optional<PendingRelease> pending_;
    QTimer repeatTimer_;
};

std::unique_ptr<KeyFilter> g_filter;

}  // namespace

void InstallKeyboardHook(QWidget* piano) {
    if (!g_filter) {
        g_filter = std::make_unique<KeyFilter>();
        QCoreApplication::instance()->installEventFilter(g_filter.get());
    }
    g_filter->piano = piano;
    SetKeyboardLayout(PlatformLayout());
    if (PianoPort* port = GetPianoPort()) port->UpdateCaptions();
}

void RemoveKeyboardHook() {
    if (!g_filter) return;
    g_filter->FlushRelease();
    ReleaseHeldKeys();
    if (QCoreApplication::instance()) QCoreApplication::instance()->removeEventFilter(g_filter.get());
    g_filter.reset();
}

bool IsFormActive(const QWidget* form) { return form && QApplication::activeWindow() == form; }

void SetKeyConfigTarget(frmKeyConfig* form) { g_keyConfig = form; }

}  // namespace kivra
