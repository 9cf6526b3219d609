#include "testsupport.h"

#include "midi/midiio.h"

#include <QCoreApplication>

namespace kivra::test {

void ProcessEvents() {
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
}

FakeMidi::FakeMidi(bool open, std::vector<std::string> outNames, std::vector<std::string> inNames) {
    auto o = std::make_unique<FakeMidiOut>(std::move(outNames));
    auto i = std::make_unique<FakeMidiIn>(std::move(inNames));
    out = o.get();
    in = i.get();
    ResetNoteState();
    SetMidiBackends(std::move(o), std::move(i));
    if (open) {
        OpenMIDIOut(0);
        ProcessEvents();
    }
}

FakeMidi::~FakeMidi() {
    ReleaseMidi();
    ResetNoteState();
}

ScriptedDialogs::ScriptedDialogs() : previous_(&UserDialogs()) { SetUserDialogs(this); }
ScriptedDialogs::~ScriptedDialogs() { SetUserDialogs(previous_); }

void ScriptedDialogs::Message(const QString& title, const QString& text, MessageIcon icon) {
    shown.push_back({title, text, icon});
}

bool ScriptedDialogs::Ask(const QString& title, const QString& text) {
    shown.push_back({title, text, MessageIcon::Question});
    if (answers.empty()) return false;
    const bool a = answers.front();
    answers.pop_front();
    return a;
}

SaveChoice ScriptedDialogs::AskSave(const QString& title, const QString& text) {
    shown.push_back({title, text, MessageIcon::Question});
    if (saveChoices.empty()) return SaveChoice::Cancel;
    const SaveChoice c = saveChoices.front();
    saveChoices.pop_front();
    return c;
}

std::optional<QString> ScriptedDialogs::Next(const QString& title, const QString& text) {
    shown.push_back({title, text, MessageIcon::Question});
    if (inputs.empty()) return std::nullopt;
    const bool given = inputs.front().has_value();
    const QString value = given ? *inputs.front() : QString();
    inputs.pop_front();
    if (!given) return std::nullopt;
    return value;
}

std::optional<QString> ScriptedDialogs::Input(const QString& title, const QString& prompt, const QString&,
                                              const QStringList&) {
    return Next(title, prompt);
}
std::optional<QString> ScriptedDialogs::OpenFileName(const QString& title, const QString& filter) {
    return Next(title, filter);
}
std::optional<QString> ScriptedDialogs::SaveFileName(const QString& title, const QString& filter,
                                                     const QString& proposed) {
    this->proposed << proposed;
    return Next(title, filter);
}

}  // namespace kivra::test
