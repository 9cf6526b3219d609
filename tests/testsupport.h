#pragma once
// Helpers shared by the suites: fake MIDI devices that are open, scripted dialogs, event pumping.

#include "app/dialogs.h"
#include "midi/backends/fake/fake_backend.h"

#include <QString>

#include <deque>
#include <optional>
#include <vector>

namespace kivra::test {

// Handles queued notifications (the driver's "opened", received input) as the event loop would.
void ProcessEvents();

// Installs fake backends for the rest of the test and resets the program-wide note state.
// With `open`, opens output device 0 and handles its "opened" notification.
struct FakeMidi {
    explicit FakeMidi(bool open = true, std::vector<std::string> outNames = {"Kivra Software Synth"},
                      std::vector<std::string> inNames = {});
    ~FakeMidi();
    FakeMidi(const FakeMidi&) = delete;
    FakeMidi& operator=(const FakeMidi&) = delete;

    FakeMidiOut* out;  // owned by the note routing
    FakeMidiIn* in;
    std::string SentHex() const { return out->SentHex(); }
    void ClearSent() { out->sent.clear(); }
};

// Dialogs that answer from a script and remember what they showed.
struct ScriptedDialogs : Dialogs {
    struct Shown {
        QString title, text;
        MessageIcon icon;
    };
    std::vector<Shown> shown;
    std::deque<bool> answers;                     // Ask: popped front; No when empty
    std::deque<std::optional<QString>> inputs;    // Input, OpenFileName, SaveFileName: popped front; cancel when empty

    ScriptedDialogs();
    ~ScriptedDialogs() override;
    void Message(const QString& title, const QString& text, MessageIcon icon) override;
    bool Ask(const QString& title, const QString& text) override;
    std::optional<QString> Input(const QString& title, const QString& prompt, const QString& initial,
                                 const QStringList& choices) override;
    std::optional<QString> OpenFileName(const QString& title, const QString& filter) override;
    std::optional<QString> SaveFileName(const QString& title, const QString& filter) override;

private:
    std::optional<QString> Next(const QString& title, const QString& text);
    Dialogs* previous_;
};

}  // namespace kivra::test
