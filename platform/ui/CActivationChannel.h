// How a second copy of the program brings the first one's window forward: the first copy listens
// on a local socket of its user; a second copy connects, asks with the line "activate", waits
// for "ok" and ends. Anything else that arrives on the socket is dropped unanswered.
#pragma once

#include <QByteArray>
#include <QHash>
#include <QLocalServer>
#include <filesystem>
#include <functional>

class CActivationChannel {
public:
    static constexpr int kDefaultWaitMs = 2000;

    // Second copy: true when a running copy answered the request in time.
    static bool ActivateRunning(const std::filesystem::path& socketPath,
                                int nWaitMs = kDefaultWaitMs);

    // First copy, on the GUI thread: listens (replacing a stale socket, which the caller's
    // instance lock makes safe) and calls onActivate for every request.
    bool Listen(const std::filesystem::path& socketPath, std::function<void()> onActivate);

private:
    void OnConnection();

    std::function<void()> m_onActivate;
    QHash<const QObject*, QByteArray> m_pending; // what each peer has sent so far
    // Last, so that it goes first: its sockets' goodbyes still find the members above.
    QLocalServer m_server;
};
