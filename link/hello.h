#pragma once
// The hello a piano sends first to a relay that requires a room password: the same on both ends.

#include "link/wire.h"

#include <QCryptographicHash>
#include <QString>

namespace kivra {

// The digest names the relay, so that the bytes are of no use as another program's password hash.
inline std::array<std::uint32_t, kHelloMessages> RelayHello(const QString& password) {
    const QByteArray digest =
        QCryptographicHash::hash(QStringLiteral("kivra-relay room ").append(password).toUtf8(), QCryptographicHash::Sha256);
    return HelloMessages(std::span(reinterpret_cast<const std::uint8_t*>(digest.constData()),
                                   static_cast<std::size_t>(digest.size())));
}

}  // namespace kivra
