#include "tests/platform/registry/CFaultVfs.h"

#include <cstddef>

namespace {

// One open file of the wrapping VFS: the wrapped file follows it in the same block.
struct FaultFile {
    sqlite3_file base;
    CFaultVfs* pOwner;
    sqlite3_file* pReal;
};

constexpr int kRealOffset = (sizeof(FaultFile) + 7) & ~7;

FaultFile* AsFault(sqlite3_file* f) {
    return reinterpret_cast<FaultFile*>(f);
}

sqlite3_file* Real(sqlite3_file* f) {
    return AsFault(f)->pReal;
}

bool Fails(sqlite3_file* f, CFaultVfs::ECall call) {
    return AsFault(f)->pOwner->ShouldFail(call);
}

int Close(sqlite3_file* f) {
    return Real(f)->pMethods->xClose(Real(f));
}

int Read(sqlite3_file* f, void* buf, int amount, sqlite3_int64 offset) {
    return Fails(f, CFaultVfs::kRead) ? SQLITE_IOERR_READ
                                      : Real(f)->pMethods->xRead(Real(f), buf, amount, offset);
}

int Write(sqlite3_file* f, const void* buf, int amount, sqlite3_int64 offset) {
    return Fails(f, CFaultVfs::kWrite) ? SQLITE_FULL
                                       : Real(f)->pMethods->xWrite(Real(f), buf, amount, offset);
}

int Truncate(sqlite3_file* f, sqlite3_int64 size) {
    return Fails(f, CFaultVfs::kTruncate) ? SQLITE_IOERR_TRUNCATE
                                          : Real(f)->pMethods->xTruncate(Real(f), size);
}

int Sync(sqlite3_file* f, int flags) {
    return Fails(f, CFaultVfs::kSync) ? SQLITE_IOERR_FSYNC
                                      : Real(f)->pMethods->xSync(Real(f), flags);
}

int FileSize(sqlite3_file* f, sqlite3_int64* size) {
    return Fails(f, CFaultVfs::kFileSize) ? SQLITE_IOERR_FSTAT
                                          : Real(f)->pMethods->xFileSize(Real(f), size);
}

int Lock(sqlite3_file* f, int level) {
    return Fails(f, CFaultVfs::kLock) ? SQLITE_IOERR_LOCK
                                      : Real(f)->pMethods->xLock(Real(f), level);
}

int Unlock(sqlite3_file* f, int level) {
    return Real(f)->pMethods->xUnlock(Real(f), level);
}

int CheckReservedLock(sqlite3_file* f, int* out) {
    return Real(f)->pMethods->xCheckReservedLock(Real(f), out);
}

int FileControl(sqlite3_file* f, int op, void* arg) {
    return Real(f)->pMethods->xFileControl(Real(f), op, arg);
}

int SectorSize(sqlite3_file* f) {
    return Real(f)->pMethods->xSectorSize(Real(f));
}

int DeviceCharacteristics(sqlite3_file* f) {
    return Real(f)->pMethods->xDeviceCharacteristics(Real(f));
}

int ShmMap(sqlite3_file* f, int page, int pageSize, int extend, void volatile** out) {
    return Fails(f, CFaultVfs::kShmMap)
               ? SQLITE_IOERR_SHMMAP
               : Real(f)->pMethods->xShmMap(Real(f), page, pageSize, extend, out);
}

int ShmLock(sqlite3_file* f, int offset, int n, int flags) {
    // Releases always go through: SQLite does not look at their result.
    if ((flags & SQLITE_SHM_LOCK) != 0 && Fails(f, CFaultVfs::kShmLock)) {
        return SQLITE_IOERR_SHMLOCK;
    }
    return Real(f)->pMethods->xShmLock(Real(f), offset, n, flags);
}

void ShmBarrier(sqlite3_file* f) {
    Real(f)->pMethods->xShmBarrier(Real(f));
}

int ShmUnmap(sqlite3_file* f, int deleteFlag) {
    return Real(f)->pMethods->xShmUnmap(Real(f), deleteFlag);
}

int Fetch(sqlite3_file* f, sqlite3_int64 offset, int amount, void** out) {
    return Real(f)->pMethods->xFetch(Real(f), offset, amount, out);
}

int Unfetch(sqlite3_file* f, sqlite3_int64 offset, void* p) {
    return Real(f)->pMethods->xUnfetch(Real(f), offset, p);
}

constexpr sqlite3_io_methods kMethods = {
    3,
    Close,
    Read,
    Write,
    Truncate,
    Sync,
    FileSize,
    Lock,
    Unlock,
    CheckReservedLock,
    FileControl,
    SectorSize,
    DeviceCharacteristics,
    ShmMap,
    ShmLock,
    ShmBarrier,
    ShmUnmap,
    Fetch,
    Unfetch,
};

CFaultVfs* Owner(sqlite3_vfs* vfs) {
    return static_cast<CFaultVfs*>(vfs->pAppData);
}

int Open(sqlite3_vfs* vfs, sqlite3_filename name, sqlite3_file* f, int flags, int* outFlags) {
    auto* file = AsFault(f);
    file->base.pMethods = nullptr;
    file->pOwner = Owner(vfs);
    file->pReal = reinterpret_cast<sqlite3_file*>(reinterpret_cast<char*>(f) + kRealOffset);
    if (file->pOwner->ShouldFail(CFaultVfs::kOpen)) {
        return SQLITE_CANTOPEN;
    }
    sqlite3_vfs* real = file->pOwner->Real();
    const int rc = real->xOpen(real, name, file->pReal, flags, outFlags);
    if (file->pReal->pMethods != nullptr) {
        file->base.pMethods = &kMethods;
    }
    return rc;
}

int Delete(sqlite3_vfs* vfs, const char* name, int syncDir) {
    if (Owner(vfs)->ShouldFail(CFaultVfs::kDelete)) {
        return SQLITE_IOERR_DELETE;
    }
    return Owner(vfs)->Real()->xDelete(Owner(vfs)->Real(), name, syncDir);
}

int Access(sqlite3_vfs* vfs, const char* name, int flags, int* out) {
    if (Owner(vfs)->ShouldFail(CFaultVfs::kAccess)) {
        return SQLITE_IOERR_ACCESS;
    }
    return Owner(vfs)->Real()->xAccess(Owner(vfs)->Real(), name, flags, out);
}

int FullPathname(sqlite3_vfs* vfs, const char* name, int n, char* out) {
    return Owner(vfs)->Real()->xFullPathname(Owner(vfs)->Real(), name, n, out);
}

void* DlOpen(sqlite3_vfs* vfs, const char* name) {
    return Owner(vfs)->Real()->xDlOpen(Owner(vfs)->Real(), name);
}

void DlError(sqlite3_vfs* vfs, int n, char* out) {
    Owner(vfs)->Real()->xDlError(Owner(vfs)->Real(), n, out);
}

void (*DlSym(sqlite3_vfs* vfs, void* handle, const char* symbol))(void) {
    return Owner(vfs)->Real()->xDlSym(Owner(vfs)->Real(), handle, symbol);
}

void DlClose(sqlite3_vfs* vfs, void* handle) {
    Owner(vfs)->Real()->xDlClose(Owner(vfs)->Real(), handle);
}

int Randomness(sqlite3_vfs* vfs, int n, char* out) {
    return Owner(vfs)->Real()->xRandomness(Owner(vfs)->Real(), n, out);
}

int Sleep(sqlite3_vfs* vfs, int micros) {
    return Owner(vfs)->Real()->xSleep(Owner(vfs)->Real(), micros);
}

int CurrentTime(sqlite3_vfs* vfs, double* out) {
    return Owner(vfs)->Real()->xCurrentTime(Owner(vfs)->Real(), out);
}

int GetLastError(sqlite3_vfs* vfs, int n, char* out) {
    return Owner(vfs)->Real()->xGetLastError(Owner(vfs)->Real(), n, out);
}

int CurrentTimeInt64(sqlite3_vfs* vfs, sqlite3_int64* out) {
    return Owner(vfs)->Real()->xCurrentTimeInt64(Owner(vfs)->Real(), out);
}

} // namespace

CFaultVfs::CFaultVfs() : m_pReal(sqlite3_vfs_find(nullptr)) {
    m_vfs.iVersion = 2;
    m_vfs.szOsFile = kRealOffset + m_pReal->szOsFile;
    m_vfs.mxPathname = m_pReal->mxPathname;
    m_vfs.zName = "orvane-fault";
    m_vfs.pAppData = this;
    m_vfs.xOpen = Open;
    m_vfs.xDelete = Delete;
    m_vfs.xAccess = Access;
    m_vfs.xFullPathname = FullPathname;
    m_vfs.xDlOpen = DlOpen;
    m_vfs.xDlError = DlError;
    m_vfs.xDlSym = DlSym;
    m_vfs.xDlClose = DlClose;
    m_vfs.xRandomness = Randomness;
    m_vfs.xSleep = Sleep;
    m_vfs.xCurrentTime = CurrentTime;
    m_vfs.xGetLastError = GetLastError;
    m_vfs.xCurrentTimeInt64 = CurrentTimeInt64;
    sqlite3_vfs_register(&m_vfs, 1);
}

CFaultVfs::~CFaultVfs() {
    sqlite3_vfs_unregister(&m_vfs);
    sqlite3_vfs_register(m_pReal, 1);
}

void CFaultVfs::Arm(int nth, EMode mode, unsigned kinds) {
    m_bArmed = true;
    m_bFired = false;
    m_mode = mode;
    m_kinds = kinds;
    m_nNth = nth;
    m_nCalls = 0;
}

void CFaultVfs::Disarm() {
    m_bArmed = false;
}

bool CFaultVfs::ShouldFail(ECall call) {
    if (!m_bArmed || (m_kinds & call) == 0) {
        return false;
    }
    ++m_nCalls;
    const bool fail = m_mode == EMode::Once ? m_nCalls == m_nNth : m_nCalls >= m_nNth;
    m_bFired = m_bFired || fail;
    return fail;
}
