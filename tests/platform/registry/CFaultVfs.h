// A SQLite VFS for failure-path tests: while it lives it is the default VFS and hands every call
// to the VFS that was the default before it, except the one call (or, persistent, every call
// from that one on) that a test armed it to fail. Calls are counted from Arm, in the order
// SQLite makes them, over the kinds the test asked for.
//
// Connections opened while it is registered use it: it must outlive them.
#pragma once

#include <sqlite3.h>

class CFaultVfs {
public:
    enum ECall : unsigned {
        kOpen = 1u << 0,
        kRead = 1u << 1,
        kWrite = 1u << 2,
        kSync = 1u << 3,
        kTruncate = 1u << 4,
        kFileSize = 1u << 5,
        kLock = 1u << 6,    // file locks taken (never releases)
        kShmMap = 1u << 7,  // mapping the -shm index
        kShmLock = 1u << 8, // -shm locks taken (never releases)
        kDelete = 1u << 9,
        kAccess = 1u << 10,
        kAll = (1u << 11) - 1,
    };
    enum class EMode { Once, FromThenOn };

    CFaultVfs();
    ~CFaultVfs();
    CFaultVfs(const CFaultVfs&) = delete;
    CFaultVfs& operator=(const CFaultVfs&) = delete;

    // Fails the nth call (1-based) of the given kinds from now on.
    void Arm(int nth, EMode mode = EMode::Once, unsigned kinds = kAll);
    void Disarm();
    // Whether an armed call has failed since Arm, and how many calls of the kinds were seen.
    bool Fired() const { return m_bFired; }
    int Calls() const { return m_nCalls; }

    // Answers true when this call is to fail (called by the wrapped methods).
    bool ShouldFail(ECall call);
    sqlite3_vfs* Real() const { return m_pReal; }

private:
    sqlite3_vfs m_vfs{};
    sqlite3_vfs* m_pReal = nullptr;
    bool m_bArmed = false;
    bool m_bFired = false;
    EMode m_mode = EMode::Once;
    unsigned m_kinds = 0;
    int m_nNth = 0;
    int m_nCalls = 0;
};
