#include "app/InstanceLock.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>
#include <QStringDecoder>
#include <QThread>

#include "core/base/Trace.h"

namespace {

// How long a start that has something to hand over keeps looking for the
// instance that holds the lock: long enough for one started at the same
// moment to reach its event loop.
constexpr int HandOverWaitMs = 15000;
constexpr int ConnectWaitMs = 1000;
constexpr int ReplyWaitMs = 15000;
constexpr int RetryPauseMs = 50;
constexpr qsizetype MaxMessageBytes = 1 << 20;
constexpr qsizetype MaxArguments = 4096;
constexpr char Ack[] = "ok\n";

QByteArray Tag() {
    QByteArray tag("vgl-hand-over-1");
    tag.append('\0');
    return tag;
}

QString LockPath(const QString& folder, uint32_t slot) {
    return QStringLiteral("%1/vgl-%2.lock").arg(folder).arg(slot);
}

QString SocketPath(const QString& folder, uint32_t slot) {
    return QStringLiteral("%1/vgl-%2.socket").arg(folder).arg(slot);
}

enum class Decoded { Incomplete, Complete, Malformed };

// Reads a whole message from `bytes`; anything that is not exactly one
// well-formed message (wrong tag, text that is not UTF-8, too many or too
// long arguments, bytes after the end) is malformed.
Decoded Decode(const QByteArray& bytes, QStringList& arguments) {
    const QByteArray tag = Tag();
    if (!bytes.startsWith(tag)) {
        return tag.startsWith(bytes) ? Decoded::Incomplete : Decoded::Malformed;
    }
    QStringList decoded;
    qsizetype start = tag.size();
    for (;;) {
        const qsizetype end = bytes.indexOf('\0', start);
        if (end < 0) {
            return bytes.size() > MaxMessageBytes ? Decoded::Malformed : Decoded::Incomplete;
        }
        if (end == start) break;
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        QString argument = utf8(QByteArrayView(bytes).sliced(start, end - start));
        if (utf8.hasError() || decoded.size() == MaxArguments) return Decoded::Malformed;
        decoded << argument;
        start = end + 1;
    }
    if (start + 1 != bytes.size() || bytes.size() > MaxMessageBytes) return Decoded::Malformed;
    arguments = decoded;
    return Decoded::Complete;
}

// Hands the message to the instance listening on `name`; true once it has
// confirmed. False when nobody listens (yet) or the instance did not answer.
bool Send(const QString& name, const QByteArray& message) {
    QLocalSocket socket;
    socket.connectToServer(name);
    if (!socket.waitForConnected(ConnectWaitMs)) return false;
    socket.write(message);
    while (socket.bytesToWrite() > 0) {
        if (!socket.waitForBytesWritten(ReplyWaitMs)) return false;
    }
    QByteArray reply;
    while (reply.size() < qsizetype(sizeof Ack - 1) && socket.waitForReadyRead(ReplyWaitMs)) {
        reply += socket.readAll();
    }
    return reply == Ack;
}

QString PrivateFolderProblem(const QString& folder) {
    struct stat info {};
    if (::stat(QFile::encodeName(folder).constData(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        return QStringLiteral(
                   "VGL cannot keep its instance lock in %1: the folder does not exist. Set "
                   "XDG_RUNTIME_DIR to a folder that only you can write.")
            .arg(folder);
    }
    if (info.st_uid != ::geteuid()) {
        return QStringLiteral(
                   "VGL will not keep its instance lock in %1: the folder belongs to another "
                   "user. Set XDG_RUNTIME_DIR to a folder that only you can write.")
            .arg(folder);
    }
    if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        return QStringLiteral(
                   "VGL will not keep its instance lock in %1: other users can write to the "
                   "folder. Set XDG_RUNTIME_DIR to a folder that only you can write.")
            .arg(folder);
    }
    return {};
}

}  // namespace

InstanceLock::InstanceLock(QObject* parent) : QObject(parent) {}

InstanceLock::~InstanceLock() = default;

QString InstanceLock::Folder(QString& problem) {
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    // Qt turns to a folder of its own when XDG_RUNTIME_DIR is not private;
    // the user asked for that folder, so say what is wrong with it instead.
    const QString configured = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!configured.isEmpty() && QDir(configured).canonicalPath() != QDir(folder).canonicalPath()) {
        folder = configured;
    }
    if (folder.isEmpty()) {
        problem = QStringLiteral(
            "VGL finds no private runtime folder for its instance lock. Set XDG_RUNTIME_DIR to "
            "a folder that only you can write.");
        return {};
    }
    problem = PrivateFolderProblem(folder);
    return problem.isEmpty() ? folder : QString();
}

QByteArray InstanceLock::Encode(const QStringList& arguments) {
    QByteArray message = Tag();
    for (const QString& argument : arguments) {
        if (argument.isEmpty()) continue;  // an empty field ends the message
        message += argument.toUtf8();
        message.append('\0');
    }
    message.append('\0');
    return message;
}

InstanceLock::Outcome InstanceLock::Acquire(uint32_t slotCount, const QStringList& arguments) {
    const QString folder = Folder(m_Problem);
    if (folder.isEmpty()) return Outcome::UnsafeFolder;
    const QByteArray message = Encode(arguments);
    const QDeadlineTimer deadline(HandOverWaitMs);
    for (;;) {
        for (uint32_t slot = 0; slot < slotCount; ++slot) {
            if (TryLock(folder, slot)) {
                Listen(folder, slot);
                return Outcome::Running;
            }
            if (!m_Problem.isEmpty()) return Outcome::UnsafeFolder;
        }
        if (arguments.isEmpty()) return Outcome::LimitReached;
        for (uint32_t slot = 0; slot < slotCount; ++slot) {
            if (Send(SocketPath(folder, slot), message)) return Outcome::HandedOver;
        }
        if (deadline.hasExpired()) return Outcome::LimitReached;
        QThread::msleep(RetryPauseMs);
    }
}

// A lock whose process has ended is stale and taken over at once; its age
// never makes it stale, since an instance holds it for as long as it runs.
bool InstanceLock::TryLock(const QString& folder, uint32_t slot) {
    auto lock = std::make_unique<QLockFile>(LockPath(folder, slot));
    lock->setStaleLockTime(0);
    if (lock->tryLock(0)) {
        m_pLock = std::move(lock);
        return true;
    }
    if (lock->error() != QLockFile::LockFailedError) {
        m_Problem = QStringLiteral("VGL cannot create its instance lock in %1.").arg(folder);
    }
    return false;
}

void InstanceLock::Listen(const QString& folder, uint32_t slot) {
    const QString name = SocketPath(folder, slot);
    // Whoever left a socket there held this lock and has ended.
    QLocalServer::removeServer(name);
    m_pServer = new QLocalServer(this);
    m_pServer->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_pServer, &QLocalServer::newConnection, this, &InstanceLock::TakeConnections);
    if (!m_pServer->listen(name)) {
        GW_TRACE("the hand-over socket could not listen");
        delete m_pServer;
        m_pServer = nullptr;
    }
}

QString InstanceLock::ServerName() const {
    return m_pServer ? m_pServer->fullServerName() : QString();
}

void InstanceLock::TakeConnections() {
    while (QLocalSocket* socket = m_pServer->nextPendingConnection()) {
        auto buffer = std::make_shared<QByteArray>();
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this,
                [this, socket, buffer] { Receive(*socket, *buffer); });
    }
}

void InstanceLock::Receive(QLocalSocket& socket, QByteArray& buffer) {
    buffer += socket.readAll();
    QStringList arguments;
    switch (Decode(buffer, arguments)) {
        case Decoded::Incomplete:
            return;
        case Decoded::Malformed:
            GW_TRACE("a malformed hand-over message was ignored");
            socket.disconnect(this);
            socket.abort();
            socket.deleteLater();
            return;
        case Decoded::Complete:
            socket.disconnect(this);
            socket.write(Ack);
            socket.disconnectFromServer();
            emit HandOver(arguments);
            return;
    }
}
