#pragma once
// The keyboard hook: an application-wide event filter that sees every key press and release
// before the focused widget. While the piano window is the active window it hands mapped keys
// to the key actions and withholds them from every widget; while the key configuration window is
// active and waiting for a key it captures every press. Works inside modal loops too.
// Called on the UI thread only.

class QWidget;

namespace kivra {

class frmKeyConfig;

// Installs the filter on the application; `piano` is the top-level piano window (null: only the
// key configuration window's capture works). Installing again replaces the piano window.
void InstallKeyboardHook(QWidget* piano);
// Removes the filter; keys held through it are released first.
void RemoveKeyboardHook();

// True when `form` is the application's active window; never creates a window.
bool IsFormActive(const QWidget* form);

// The key configuration window registers itself while it exists, so the hook can reach it
// without creating it.
void SetKeyConfigTarget(frmKeyConfig* form);

}  // namespace kivra
