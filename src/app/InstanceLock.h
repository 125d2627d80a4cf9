#pragma once
// The instance limit across processes of one user. Each running instance
// holds one of a number of lock files (QLockFile: the lock of a process that
// has died is taken over) and listens on a local socket beside it. A later
// start that finds every lock held hands its arguments to a running
// instance over that socket instead of starting.
//
// Both live in the user's runtime folder (QStandardPaths::RuntimeLocation).
// A folder that belongs to another user, or that others may write to, is
// refused: whoever can write there could hold the lock or answer in our
// place.

#include <QObject>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <memory>

class QLocalServer;
class QLocalSocket;
class QLockFile;

class InstanceLock : public QObject {
    Q_OBJECT
public:
    enum class Outcome {
        Running,       // this process holds a lock: it is an instance
        HandedOver,    // a running instance took the arguments
        LimitReached,  // every lock held, nothing handed over
        UnsafeFolder,  // no private folder to keep the lock in; see Problem()
    };

    explicit InstanceLock(QObject* parent = nullptr);
    ~InstanceLock() override;

    // Takes one of `slotCount` locks. When all are held and `arguments` is not
    // empty, hands them to an instance holding one; two processes started at
    // the same moment find each other, since the loser keeps trying for a
    // few seconds while the winner starts listening.
    Outcome Acquire(uint32_t slotCount, const QStringList& arguments);

    const QString& Problem() const { return m_Problem; }
    QString ServerName() const;  // the socket this instance listens on; empty if none

    // The private runtime folder, or empty with the reason in `problem`.
    static QString Folder(QString& problem);

    // The wire form of a hand-over: a tag, then each argument in UTF-8 ended
    // by a NUL byte, then one more NUL.
    static QByteArray Encode(const QStringList& arguments);

signals:
    // A later start handed over its arguments.
    void HandOver(const QStringList& arguments);

private:
    bool TryLock(const QString& folder, uint32_t slot);
    void Listen(const QString& folder, uint32_t slot);
    void TakeConnections();
    void Receive(QLocalSocket& socket, QByteArray& buffer);

    std::unique_ptr<QLockFile> m_pLock;
    QLocalServer* m_pServer = nullptr;  // a child of this object
    QString m_Problem;
};
