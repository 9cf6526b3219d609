#pragma once
// One Kivra per user: the running one listens on a local socket named for the user, and a later
// start hands it the file it was asked to open instead of opening the devices a second time.
// Message: the file's URL (file:///..., percent-encoded, so any path fits on one line) and a
// newline; an empty line only asks the running Kivra to come to the front. UI thread only.

#include <QObject>

#include <functional>

class QLocalServer;

namespace kivra {

// Hands `file` (absolute; empty: none) to a Kivra already running for this user. False when none
// answers, as when none runs or the last one crashed.
bool HandToRunningKivra(const QString& file);

// Listens while it lives; each start handed over calls `received` with its file (empty: none).
// A socket left by a crashed Kivra is removed: this is only made after HandToRunningKivra failed.
class RunningKivra : public QObject {
public:
    RunningKivra(QObject* parent, std::function<void(const QString& file)> received);

private:
    QLocalServer* server_;
    std::function<void(const QString&)> received_;
};

}  // namespace kivra
