<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de">
<context>
    <name>FileStream</name>
    <message>
        <source>the system gave no reason</source>
        <translation>das System nannte keinen Grund</translation>
    </message>
</context>
<context>
    <name>Instruments</name>
    <message>
        <source>(Pianos)</source>
        <translation>(Klaviere)</translation>
    </message>
    <message>
        <source>(Chromatic Percussion)</source>
        <translation>(Chromatische Perkussion)</translation>
    </message>
    <message>
        <source>(Organs)</source>
        <translation>(Orgeln)</translation>
    </message>
    <message>
        <source>(Guitars)</source>
        <translation>(Gitarren)</translation>
    </message>
    <message>
        <source>(Basses)</source>
        <translation>(Bässe)</translation>
    </message>
    <message>
        <source>(Strings)</source>
        <translation>(Streicher)</translation>
    </message>
    <message>
        <source>(Ensemble)</source>
        <translation>(Ensemble)</translation>
    </message>
</context>
<context>
    <name>KeyMaps</name>
    <message>
        <source>%1 at byte %2</source>
        <translation>%1 bei Byte %2</translation>
    </message>
    <message>
        <source>Not a key-map profile</source>
        <translation>Kein Tastenbelegungsprofil</translation>
    </message>
    <message>
        <source>Chunk header cut short</source>
        <translation>Chunk-Kopf abgeschnitten</translation>
    </message>
    <message>
        <source>Chunk size outside the file</source>
        <translation>Chunk-Größe reicht über die Datei hinaus</translation>
    </message>
    <message>
        <source>KAct chunk too short</source>
        <translation>KAct-Chunk zu kurz</translation>
    </message>
    <message>
        <source>KDat size outside 2..256</source>
        <translation>KDat-Größe außerhalb von 2..256</translation>
    </message>
    <message>
        <source>Cannot open %1</source>
        <translation>%1 kann nicht geöffnet werden</translation>
    </message>
    <message>
        <source>The file is %1 bytes long; a key-map profile is at most 1 MiB.</source>
        <translation>Die Datei ist %1 Byte groß; ein Tastenbelegungsprofil hat höchstens 1 MiB.</translation>
    </message>
    <message>
        <source>The file grew past 1 MiB while it was read; a key-map profile is at most 1 MiB.</source>
        <translation>Die Datei ist beim Lesen über 1 MiB gewachsen; ein Tastenbelegungsprofil hat höchstens 1 MiB.</translation>
    </message>
    <message>
        <source>Not a profile name: %1</source>
        <translation>Kein gültiger Profilname: %1</translation>
    </message>
</context>
<context>
    <name>MidiDevices</name>
    <message>
        <source>No output device could be opened: %1</source>
        <translation>Kein Ausgabegerät konnte geöffnet werden: %1</translation>
    </message>
    <message>
        <source>The output device &quot;%1&quot; could not be opened: %2</source>
        <translation>Das Ausgabegerät „%1“ konnte nicht geöffnet werden: %2</translation>
    </message>
    <message>
        <source>there is no such device now. Choose one in MIDI Devices.</source>
        <translation>dieses Gerät ist derzeit nicht vorhanden. Wählen Sie eines unter MIDI-Geräte.</translation>
    </message>
    <message>
        <source>the device refused to open.</source>
        <translation>das Gerät ließ sich nicht öffnen.</translation>
    </message>
    <message>
        <source>the ALSA sequencer (/dev/snd/seq) cannot be opened</source>
        <translation>der ALSA-Sequencer (/dev/snd/seq) lässt sich nicht öffnen</translation>
    </message>
    <message>
        <source>the port is gone</source>
        <translation>der Port ist nicht mehr vorhanden</translation>
    </message>
    <message>
        <source>the port refused to open</source>
        <translation>der Port ließ sich nicht öffnen</translation>
    </message>
    <message>
        <source>the program&apos;s own ports are not open</source>
        <translation>die eigenen Ports des Programms sind nicht geöffnet</translation>
    </message>
    <message>
        <source>MIDI Devices</source>
        <translation>MIDI-Geräte</translation>
    </message>
</context>
<context>
    <name>MidiFiles</name>
    <message>
        <source>%1

%2 could not be created: %3.</source>
        <translation>%1

%2 konnte nicht angelegt werden: %3.</translation>
    </message>
    <message>
        <source>Part of the song may have been written to %1.</source>
        <translation>Ein Teil des Songs wurde möglicherweise nach %1 geschrieben.</translation>
    </message>
    <message>
        <source>The file already at %1 was left as it was.</source>
        <translation>Die vorhandene Datei %1 blieb unverändert.</translation>
    </message>
    <message>
        <source>No file was created.</source>
        <translation>Es wurde keine Datei angelegt.</translation>
    </message>
    <message>
        <source>The MIDI file could not be written: %1.

%2</source>
        <translation>Die MIDI-Datei konnte nicht geschrieben werden: %1.

%2</translation>
    </message>
    <message>
        <source>There is not enough memory to write the song. No file was written.</source>
        <translation>Der Speicher reicht nicht, um den Song zu schreiben. Es wurde keine Datei geschrieben.</translation>
    </message>
    <message>
        <source>Export to MIDI</source>
        <translation>Als MIDI exportieren</translation>
    </message>
    <message>
        <source>MIDI sucessfully created!</source>
        <translation>MIDI-Datei erfolgreich erstellt!</translation>
    </message>
    <message>
        <source>Unable to open output file!</source>
        <translation>Die Ausgabedatei kann nicht geöffnet werden!</translation>
    </message>
    <message>
        <source>a variable-length number is longer than four bytes</source>
        <translation>eine Zahl variabler Länge ist länger als vier Bytes</translation>
    </message>
    <message>
        <source>an event lies too far from the start of its track</source>
        <translation>ein Ereignis liegt zu weit vom Anfang seiner Spur entfernt</translation>
    </message>
    <message>
        <source>it does not begin with &quot;MThd&quot;, so it is not a Standard MIDI File</source>
        <translation>sie beginnt nicht mit „MThd“ und ist daher keine Standard-MIDI-Datei</translation>
    </message>
    <message>
        <source>the file ends inside its header</source>
        <translation>die Datei endet mitten in ihrem Kopf</translation>
    </message>
    <message>
        <source>its header is %1 bytes long where a Standard MIDI File has 6</source>
        <translation>ihr Kopf ist %1 Bytes lang, bei einer Standard-MIDI-Datei sind es 6</translation>
    </message>
    <message>
        <source>it is a format %1 file; only formats 0 and 1 hold a single song</source>
        <translation>sie hat das Format %1; nur die Formate 0 und 1 enthalten einen einzelnen Song</translation>
    </message>
    <message>
        <source>it holds no tracks</source>
        <translation>sie enthält keine Spuren</translation>
    </message>
    <message>
        <source>it holds %1 tracks; a song has at most 32</source>
        <translation>sie enthält %1 Spuren; ein Song hat höchstens 32</translation>
    </message>
    <message>
        <source>its timing counts time-code frames instead of beats</source>
        <translation>ihre Zeitbasis zählt Timecode-Frames statt Schlägen</translation>
    </message>
    <message>
        <source>its timing says 0 ticks per beat</source>
        <translation>ihre Zeitbasis gibt 0 Ticks pro Schlag an</translation>
    </message>
    <message>
        <source>%1 of %2 notes moved to fit %3 %4 per beat, by at most %5 step.</source>
        <translation>%1 von %2 Noten auf %3 %4 pro Schlag verschoben, um höchstens %5 Schritt.</translation>
    </message>
    <message>
        <source>step</source>
        <translation>Schritt</translation>
    </message>
    <message>
        <source>steps</source>
        <translation>Schritte</translation>
    </message>
    <message>
        <source>%1 (at byte %2)</source>
        <translation>%1 (bei Byte %2)</translation>
    </message>
    <message>
        <source>the song would be %1 steps long, more than this program can hold</source>
        <translation>der Song wäre %1 Schritte lang, mehr als dieses Programm fassen kann</translation>
    </message>
    <message>
        <source>the file could not be opened: %1</source>
        <translation>die Datei konnte nicht geöffnet werden: %1</translation>
    </message>
    <message>
        <source>the file is empty, so it is not a Standard MIDI File</source>
        <translation>die Datei ist leer und daher keine Standard-MIDI-Datei</translation>
    </message>
    <message>
        <source>the file is %1 MiB long; songs larger than %2 MiB are not opened</source>
        <translation>die Datei ist %1 MiB groß; Songs über %2 MiB werden nicht geöffnet</translation>
    </message>
    <message>
        <source>the file could not be read: %1</source>
        <translation>die Datei konnte nicht gelesen werden: %1</translation>
    </message>
    <message>
        <source>there is not enough memory to open it</source>
        <translation>der Speicher reicht nicht, um sie zu öffnen</translation>
    </message>
    <message>
        <source>Import MIDI</source>
        <translation>MIDI importieren</translation>
    </message>
    <message>
        <source>Export Audio</source>
        <translation>Als Audio exportieren</translation>
    </message>
</context>
<context>
    <name>Program</name>
    <message>
        <source>Kivra was ended before the song was saved. It was kept as %1.

Open it in the Music Maker?</source>
        <translation>Kivra wurde beendet, bevor der Song gespeichert war. Er wurde als %1 aufbewahrt.

Im Music Maker öffnen?</translation>
    </message>
</context>
<context>
    <name>Render</name>
    <message>
        <source>No General MIDI SoundFont was found to render %1 with. Install the package %2, or choose a SoundFont in the Sound window.</source>
        <translation>Es wurde keine General-MIDI-SoundFont gefunden, um %1 zu rendern. Installieren Sie das Paket %2 oder wählen Sie im Klang-Fenster eine SoundFont.</translation>
    </message>
    <message>
        <source>%1 was not written: %2.</source>
        <translation>%1 wurde nicht geschrieben: %2.</translation>
    </message>
    <message>
        <source>%1 could not be created: %2.</source>
        <translation>%1 konnte nicht angelegt werden: %2.</translation>
    </message>
    <message>
        <source>%1 could not be written: %2.</source>
        <translation>%1 konnte nicht geschrieben werden: %2.</translation>
    </message>
    <message>
        <source>kivra: %1: the audio file&apos;s name must end in .wav or .flac
</source>
        <translation>kivra: %1: Der Name der Audiodatei muss auf .wav oder .flac enden
</translation>
    </message>
    <message>
        <source>kivra: %1 was not read: %2
</source>
        <translation>kivra: %1 wurde nicht gelesen: %2
</translation>
    </message>
</context>
<context>
    <name>SoftSynth</name>
    <message>
        <source>FluidSynth could not start</source>
        <translation>FluidSynth konnte nicht starten</translation>
    </message>
    <message>
        <source>the SoundFont %1 could not be loaded</source>
        <translation>die SoundFont %1 konnte nicht geladen werden</translation>
    </message>
    <message>
        <source>not available</source>
        <translation>nicht verfügbar</translation>
    </message>
    <message>
        <source>no sound output could be opened (%1)</source>
        <translation>keine Tonausgabe konnte geöffnet werden (%1)</translation>
    </message>
    <message>
        <source>no General MIDI SoundFont was found; looked for %1. Install the package %2, or any package that provides sf2-soundfont-gm.</source>
        <translation>keine General-MIDI-SoundFont gefunden; gesucht wurde %1. Installieren Sie das Paket %2 oder ein anderes Paket, das sf2-soundfont-gm bereitstellt.</translation>
    </message>
    <message>
        <source>the sounds are still loading; try again in a moment</source>
        <translation>die Klänge werden noch geladen; versuchen Sie es gleich noch einmal</translation>
    </message>
    <message>
        <source>not built into FluidSynth</source>
        <translation>nicht in FluidSynth eingebaut</translation>
    </message>
    <message>
        <source>no JACK server is running</source>
        <translation>kein JACK-Server läuft</translation>
    </message>
</context>
<context>
    <name>kivra::LinkClient</name>
    <message>
        <source>No server address was entered.</source>
        <translation>Es wurde keine Serveradresse eingegeben.</translation>
    </message>
    <message>
        <source>The address &quot;%1&quot; is missing its closing &quot;]&quot;.</source>
        <translation>Der Adresse „%1“ fehlt die schließende „]“.</translation>
    </message>
    <message>
        <source>The address &quot;%1&quot; is not valid.</source>
        <translation>Die Adresse „%1“ ist ungültig.</translation>
    </message>
    <message>
        <source>The address &quot;%1&quot; names no server.</source>
        <translation>Die Adresse „%1“ nennt keinen Server.</translation>
    </message>
    <message>
        <source>&quot;%1&quot; is not a port: a port is a number from 1 to 65535.</source>
        <translation>„%1“ ist kein Port: Ein Port ist eine Zahl von 1 bis 65535.</translation>
    </message>
    <message>
        <source>The server is full.</source>
        <translation>Der Server ist voll.</translation>
    </message>
    <message>
        <source>The server closed the connection.</source>
        <translation>Der Server hat die Verbindung beendet.</translation>
    </message>
    <message>
        <source>The connection to the server was lost: %1.</source>
        <translation>Die Verbindung zum Server ist abgebrochen: %1.</translation>
    </message>
    <message>
        <source>The server &quot;%1&quot; could not be found.</source>
        <translation>Der Server „%1“ wurde nicht gefunden.</translation>
    </message>
    <message>
        <source>The server at %1 refused the connection.</source>
        <translation>Der Server unter %1 hat die Verbindung abgelehnt.</translation>
    </message>
    <message>
        <source>Could not connect to %1: %2.</source>
        <translation>Keine Verbindung zu %1 möglich: %2.</translation>
    </message>
    <message>
        <source>%1 seconds</source>
        <translation>%1 Sekunden</translation>
    </message>
    <message>
        <source>%1 milliseconds</source>
        <translation>%1 Millisekunden</translation>
    </message>
    <message>
        <source>The server at %1:%2 did not answer within %3.</source>
        <translation>Der Server unter %1:%2 hat nicht innerhalb von %3 geantwortet.</translation>
    </message>
    <message>
        <source>The server refused the room password, or is full.</source>
        <translation>Der Server hat das Raumpasswort abgelehnt oder ist voll.</translation>
    </message>
</context>
<context>
    <name>kivra::PianoKey</name>
    <message>
        <source>%1, key</source>
        <translation>%1, Taste</translation>
    </message>
</context>
<context>
    <name>kivra::StepList</name>
    <message>
        <source>No track</source>
        <translation>Keine Spur</translation>
    </message>
    <message>
        <source>Steps of track %1</source>
        <translation>Schritte von Spur %1</translation>
    </message>
</context>
<context>
    <name>kivra::frmDevices</name>
    <message>
        <source>Kivra - MIDI Devices</source>
        <translation>Kivra - MIDI-Geräte</translation>
    </message>
    <message>
        <source>Output Device</source>
        <translation>Ausgabegerät</translation>
    </message>
    <message>
        <source>Input Device</source>
        <translation>Eingabegerät</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>Pass pedals and controllers</source>
        <translation>Pedale und Controller weiterleiten</translation>
    </message>
    <message>
        <source>(None)</source>
        <translation>(Keines)</translation>
    </message>
</context>
<context>
    <name>kivra::frmKeyConfig</name>
    <message>
        <source>Save Profile</source>
        <translation>Profil speichern</translation>
    </message>
    <message>
        <source>Load Profile</source>
        <translation>Profil laden</translation>
    </message>
    <message>
        <source>Kivra - Key Configuration</source>
        <translation>Kivra - Tastenbelegung</translation>
    </message>
    <message>
        <source>Key</source>
        <translation>Taste</translation>
    </message>
    <message>
        <source>(Press Key)</source>
        <translation>(Taste?)</translation>
    </message>
    <message>
        <source>Profile</source>
        <translation>Profil</translation>
    </message>
    <message>
        <source>Save</source>
        <translation>Speichern</translation>
    </message>
    <message>
        <source>Load</source>
        <translation>Laden</translation>
    </message>
    <message>
        <source>Action</source>
        <translation>Aktion</translation>
    </message>
    <message>
        <source>None</source>
        <translation>Keine</translation>
    </message>
    <message>
        <source>Play Note(s) Relative To Base Octave</source>
        <translation>Note(n) relativ zur Grundoktave</translation>
    </message>
    <message>
        <source>Play Specific Note(s)</source>
        <translation>Feste Note(n) spielen</translation>
    </message>
    <message>
        <source>Insert Space In Music Maker</source>
        <translation>Leerschritt im Music Maker</translation>
    </message>
    <message>
        <source>Insert Break in Music Maker</source>
        <translation>Pause im Music Maker</translation>
    </message>
    <message>
        <source>Delete Note in Music Maker</source>
        <translation>Note im Music Maker löschen</translation>
    </message>
    <message>
        <source>Sustain Pedal</source>
        <translation>Haltepedal</translation>
    </message>
    <message>
        <source>Notes</source>
        <translation>Noten</translation>
    </message>
    <message>
        <source>Enter a name for this profile:</source>
        <translation>Geben Sie einen Namen für dieses Profil ein:</translation>
    </message>
    <message>
        <source>Profile Saved!</source>
        <translation>Profil gespeichert!</translation>
    </message>
    <message>
        <source>An error occured while saving the profile!</source>
        <translation>Beim Speichern des Profils ist ein Fehler aufgetreten!</translation>
    </message>
    <message>
        <source>Enter the name of the profile to load:</source>
        <translation>Geben Sie den Namen des zu ladenden Profils ein:</translation>
    </message>
    <message>
        <source>An error occured while loading the profile!

</source>
        <translation>Beim Laden des Profils ist ein Fehler aufgetreten!

</translation>
    </message>
    <message>
        <source>The profile &quot;%1&quot; is damaged at byte %2. The part before it holds %3 %4.

Replace the key map with it?</source>
        <translation>Das Profil „%1“ ist bei Byte %2 beschädigt. Der Teil davor enthält %3 %4.

Die Tastenbelegung damit ersetzen?</translation>
    </message>
    <message>
        <source>key</source>
        <translation>Taste</translation>
    </message>
    <message>
        <source>keys</source>
        <translation>Tasten</translation>
    </message>
</context>
<context>
    <name>kivra::frmLink</name>
    <message>
        <source>Connect</source>
        <translation>Verbinden</translation>
    </message>
    <message>
        <source>Quit</source>
        <translation>Beenden</translation>
    </message>
    <message>
        <source>Please enter the server address:</source>
        <translation>Bitte geben Sie die Serveradresse ein:</translation>
    </message>
    <message>
        <source>Connecting...</source>
        <translation>Verbinde...</translation>
    </message>
    <message>
        <source>Disconnect</source>
        <translation>Trennen</translation>
    </message>
    <message>
        <source>Band Play</source>
        <translation>Bandspiel</translation>
    </message>
    <message>
        <source>Password</source>
        <translation>Passwort</translation>
    </message>
    <message>
        <source>Room password</source>
        <translation>Raumpasswort</translation>
    </message>
    <message>
        <source>The room password of a relay that requires one, sent on connecting</source>
        <translation>Das Raumpasswort für einen Relay-Server, der eines verlangt; wird beim Verbinden gesendet</translation>
    </message>
</context>
<context>
    <name>kivra::frmMusicMaker</name>
    <message>
        <source>Kivra - Music Maker</source>
        <translation>Kivra - Music Maker</translation>
    </message>
    <message>
        <source>Song Options</source>
        <translation>Song-Optionen</translation>
    </message>
    <message>
        <source>Number of Tracks: %1</source>
        <translation>Anzahl Spuren: %1</translation>
    </message>
    <message>
        <source>Tempo: %1 BPM</source>
        <translation>Tempo: %1 BPM</translation>
    </message>
    <message>
        <source>Notes Per Beat: %1</source>
        <translation>Noten pro Schlag: %1</translation>
    </message>
    <message>
        <source>Track Options</source>
        <translation>Spur-Optionen</translation>
    </message>
    <message>
        <source>Output Channel: %1</source>
        <translation>Ausgabekanal: %1</translation>
    </message>
    <message>
        <source>Record</source>
        <translation>Aufnahme</translation>
    </message>
    <message>
        <source>Play</source>
        <translation>Start</translation>
    </message>
    <message>
        <source>Loop</source>
        <translation>Loop</translation>
    </message>
    <message>
        <source>&amp;File</source>
        <translation>&amp;Datei</translation>
    </message>
    <message>
        <source>&amp;New</source>
        <translation>&amp;Neu</translation>
    </message>
    <message>
        <source>&amp;Edit</source>
        <translation>&amp;Bearbeiten</translation>
    </message>
    <message>
        <source>Undo</source>
        <translation>Rückgängig</translation>
    </message>
    <message>
        <source>Redo</source>
        <translation>Wiederholen</translation>
    </message>
    <message>
        <source>Cut</source>
        <translation>Ausschneiden</translation>
    </message>
    <message>
        <source>Copy</source>
        <translation>Kopieren</translation>
    </message>
    <message>
        <source>Paste</source>
        <translation>Einfügen</translation>
    </message>
    <message>
        <source>Delete</source>
        <translation>Löschen</translation>
    </message>
    <message>
        <source>Insert Step</source>
        <translation>Schritt einfügen</translation>
    </message>
    <message>
        <source>Track %1</source>
        <translation>Spur %1</translation>
    </message>
    <message>
        <source>New Song</source>
        <translation>Neuer Song</translation>
    </message>
    <message>
        <source>Start a new song? The current song will be lost.</source>
        <translation>Einen neuen Song beginnen? Der aktuelle Song geht verloren.</translation>
    </message>
    <message>
        <source>Standard MIDI Files (*.mid);;All Files (*)</source>
        <translation>Standard-MIDI-Dateien (*.mid);;Alle Dateien (*)</translation>
    </message>
    <message>
        <source>The file was not opened: %1.

The song was left as it was.</source>
        <translation>Die Datei wurde nicht geöffnet: %1.

Der Song blieb unverändert.</translation>
    </message>
    <message>
        <source>Save changes to the song?</source>
        <translation>Änderungen am Song speichern?</translation>
    </message>
    <message>
        <source>%1 (edited).mid</source>
        <translation>%1 (bearbeitet).mid</translation>
    </message>
    <message>
        <source>%1 (edited %2).mid</source>
        <translation>%1 (bearbeitet %2).mid</translation>
    </message>
    <message>
        <source>&amp;Open...</source>
        <translation>Ö&amp;ffnen...</translation>
    </message>
    <message>
        <source>&amp;Save...</source>
        <translation>&amp;Speichern...</translation>
    </message>
    <message>
        <source>E&amp;xport to MIDI...</source>
        <translation>Als MIDI e&amp;xportieren...</translation>
    </message>
    <message>
        <source>&amp;Import MIDI...</source>
        <translation>MIDI &amp;importieren...</translation>
    </message>
    <message>
        <source>Previous tracks</source>
        <translation>Vorherige Spuren</translation>
    </message>
    <message>
        <source>Next tracks</source>
        <translation>Nächste Spuren</translation>
    </message>
    <message>
        <source>Number of Tracks</source>
        <translation>Anzahl Spuren</translation>
    </message>
    <message>
        <source>Tempo</source>
        <translation>Tempo</translation>
    </message>
    <message>
        <source>Notes Per Beat</source>
        <translation>Noten pro Schlag</translation>
    </message>
    <message>
        <source>Output Channel</source>
        <translation>Ausgabekanal</translation>
    </message>
    <message>
        <source>Rendering the song to %1...</source>
        <translation>Song wird nach %1 gerendert...</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>The song was written to %1.</source>
        <translation>Der Song wurde nach %1 geschrieben.</translation>
    </message>
    <message>
        <source>Export &amp;Audio...</source>
        <translation>Als &amp;Audio exportieren...</translation>
    </message>
</context>
<context>
    <name>kivra::frmPiano</name>
    <message>
        <source>Kivra - No sound output</source>
        <translation>Kivra - Keine Tonausgabe</translation>
    </message>
    <message>
        <source>Kivra - Loading sounds</source>
        <translation>Kivra - Klänge werden geladen</translation>
    </message>
    <message>
        <source>The SoundFont is loading; keys held now sound once it has.</source>
        <translation>Die SoundFont wird geladen; jetzt gehaltene Tasten erklingen, sobald sie bereit ist.</translation>
    </message>
    <message>
        <source>Instrument</source>
        <translation>Instrument</translation>
    </message>
    <message>
        <source>Key Config</source>
        <translation>Belegung</translation>
    </message>
    <message>
        <source>MIDI Devices</source>
        <translation>MIDI-Geräte</translation>
    </message>
    <message>
        <source>Drum Mode</source>
        <translation>Schlagzeug</translation>
    </message>
    <message>
        <source>Music Maker</source>
        <translation>Music Maker</translation>
    </message>
    <message>
        <source>Base Octave</source>
        <translation>Grundoktave</translation>
    </message>
    <message>
        <source>&amp;Options</source>
        <translation>&amp;Optionen</translation>
    </message>
    <message>
        <source>&amp;Sound...</source>
        <translation>&amp;Klang...</translation>
    </message>
    <message>
        <source>&amp;Help</source>
        <translation>&amp;Hilfe</translation>
    </message>
    <message>
        <source>&amp;About...</source>
        <translation>Ü&amp;ber...</translation>
    </message>
    <message>
        <source>Octave: %1</source>
        <translation>Oktave: %1</translation>
    </message>
    <message>
        <source>About Kivra</source>
        <translation>Über Kivra</translation>
    </message>
    <message>
        <source>Piano</source>
        <translation>Klavier</translation>
    </message>
</context>
<context>
    <name>kivra::frmSound</name>
    <message>
        <source>Kivra - Sound</source>
        <translation>Kivra - Klang</translation>
    </message>
    <message>
        <source>Reverb</source>
        <translation>Hall</translation>
    </message>
    <message>
        <source>Chorus</source>
        <translation>Chorus</translation>
    </message>
    <message>
        <source>Choose...</source>
        <translation>Wählen...</translation>
    </message>
    <message>
        <source>Touch velocity</source>
        <translation>Anschlagdynamik</translation>
    </message>
    <message>
        <source>Panic</source>
        <translation>Panik</translation>
    </message>
    <message>
        <source>Silences every note on every channel of the output</source>
        <translation>Schaltet alle Noten auf allen Kanälen der Ausgabe stumm</translation>
    </message>
    <message>
        <source>Volume</source>
        <translation>Lautstärke</translation>
    </message>
    <message>
        <source>Effects</source>
        <translation>Effekte</translation>
    </message>
    <message>
        <source>SoundFont</source>
        <translation>SoundFont</translation>
    </message>
    <message>
        <source>Velocity</source>
        <translation>Anschlagstärke</translation>
    </message>
    <message>
        <source>Audio</source>
        <translation>Audio</translation>
    </message>
    <message>
        <source>The system&apos;s General MIDI SoundFont</source>
        <translation>Die General-MIDI-SoundFont des Systems</translation>
    </message>
    <message>
        <source>The output device makes its own sound: only the built-in synthesizer has these effects and SoundFonts.</source>
        <translation>Das Ausgabegerät erzeugt seinen Klang selbst: Nur der eingebaute Synthesizer hat diese Effekte und SoundFonts.</translation>
    </message>
    <message>
        <source>External device</source>
        <translation>Externes Gerät</translation>
    </message>
    <message>
        <source>Latency %1 ms, driver: %2</source>
        <translation>Latenz %1 ms, Treiber: %2</translation>
    </message>
    <message>
        <source>(not started)</source>
        <translation>(nicht gestartet)</translation>
    </message>
    <message>
        <source>Sound</source>
        <translation>Klang</translation>
    </message>
    <message>
        <source>SoundFonts (*.sf2 *.sf3);;All files (*)</source>
        <translation>SoundFonts (*.sf2 *.sf3);;Alle Dateien (*)</translation>
    </message>
    <message>
        <source>%1; the SoundFont in use stays.</source>
        <translation>%1; die bisherige SoundFont bleibt.</translation>
    </message>
    <message>
        <source>Reverb amount</source>
        <translation>Hallanteil</translation>
    </message>
</context>
<context>
    <name>main</name>
    <message>
        <source>Virtual piano and step sequencer.</source>
        <translation>Virtuelles Klavier und Step-Sequencer.</translation>
    </message>
    <message>
        <source>A Standard MIDI File to open in the Music Maker; handed to the Kivra already running, if there is one.</source>
        <translation>Eine Standard-MIDI-Datei, die im Music Maker geöffnet wird; geht an das bereits laufende Kivra, falls es eines gibt.</translation>
    </message>
    <message>
        <source>Render the song of a Standard MIDI File to a sound file (.wav or .flac) with the Sound settings, without a display: kivra --render song.mid song.wav</source>
        <translation>Rendert den Song einer Standard-MIDI-Datei mit den Klang-Einstellungen in eine Audiodatei (.wav oder .flac), ohne Bildschirm: kivra --render song.mid song.wav</translation>
    </message>
    <message>
        <source>kivra: --render takes a MIDI file and a sound file, e.g. kivra --render song.mid song.wav
</source>
        <translation>kivra: --render erwartet eine MIDI-Datei und eine Audiodatei, z. B. kivra --render song.mid song.wav
</translation>
    </message>
    <message>
        <source>kivra: there is no display to show the piano on (neither DISPLAY nor WAYLAND_DISPLAY is set). kivra --render works without one.
</source>
        <translation>kivra: Es gibt keinen Bildschirm, auf dem das Klavier erscheinen kann (weder DISPLAY noch WAYLAND_DISPLAY ist gesetzt). kivra --render geht auch ohne.
</translation>
    </message>
</context>
</TS>
