#pragma once
// Each window exists at most once. The piano window is created by Main; the others are created
// the first time anything shows them, owned by the piano window, and kept until shutdown.

class QWidget;

namespace kivra {

class frmPiano;
class frmMusicMaker;
class frmKeyConfig;
class frmDevices;
class frmLink;
class frmSound;

frmPiano* PianoWindow();  // null before Main and after Shutdown
frmMusicMaker& MusicMakerWindow();
frmKeyConfig& KeyConfigWindow();
frmDevices& DevicesWindow();
frmLink& LinkWindow();
frmSound& SoundWindow();

}  // namespace kivra
