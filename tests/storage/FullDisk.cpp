#include "tests/storage/FullDisk.h"

#include <sqlite3.h>

#include <atomic>
#include <cstddef>

namespace {

std::atomic<bool> g_full{false};
std::atomic<int> g_refused{0};
sqlite3_vfs* g_base = nullptr;

struct ShimFile {
    sqlite3_file base;
    sqlite3_file* real;
};

sqlite3_file* Real(sqlite3_file* f) { return reinterpret_cast<ShimFile*>(f)->real; }

int Close(sqlite3_file* f) { return Real(f)->pMethods ? Real(f)->pMethods->xClose(Real(f)) : SQLITE_OK; }
int Read(sqlite3_file* f, void* p, int n, sqlite3_int64 o) { return Real(f)->pMethods->xRead(Real(f), p, n, o); }
int Write(sqlite3_file* f, const void* p, int n, sqlite3_int64 o) {
    if (g_full) {
        sqlite3_int64 size = 0;
        const int rc = Real(f)->pMethods->xFileSize(Real(f), &size);
        if (rc != SQLITE_OK) return rc;
        if (o + n > size) {
            ++g_refused;
            return SQLITE_FULL;
        }
    }
    return Real(f)->pMethods->xWrite(Real(f), p, n, o);
}
int Truncate(sqlite3_file* f, sqlite3_int64 size) { return Real(f)->pMethods->xTruncate(Real(f), size); }
int Sync(sqlite3_file* f, int flags) { return Real(f)->pMethods->xSync(Real(f), flags); }
int FileSize(sqlite3_file* f, sqlite3_int64* size) { return Real(f)->pMethods->xFileSize(Real(f), size); }
int Lock(sqlite3_file* f, int level) { return Real(f)->pMethods->xLock(Real(f), level); }
int Unlock(sqlite3_file* f, int level) { return Real(f)->pMethods->xUnlock(Real(f), level); }
int CheckReservedLock(sqlite3_file* f, int* out) { return Real(f)->pMethods->xCheckReservedLock(Real(f), out); }
int FileControl(sqlite3_file* f, int op, void* arg) { return Real(f)->pMethods->xFileControl(Real(f), op, arg); }
int SectorSize(sqlite3_file* f) { return Real(f)->pMethods->xSectorSize(Real(f)); }
int DeviceCharacteristics(sqlite3_file* f) { return Real(f)->pMethods->xDeviceCharacteristics(Real(f)); }
int ShmMap(sqlite3_file* f, int region, int size, int extend, void volatile** p) {
    return Real(f)->pMethods->xShmMap(Real(f), region, size, extend, p);
}
int ShmLock(sqlite3_file* f, int offset, int n, int flags) {
    return Real(f)->pMethods->xShmLock(Real(f), offset, n, flags);
}
void ShmBarrier(sqlite3_file* f) { Real(f)->pMethods->xShmBarrier(Real(f)); }
int ShmUnmap(sqlite3_file* f, int deleteFlag) { return Real(f)->pMethods->xShmUnmap(Real(f), deleteFlag); }

// Version 2: the shared-memory calls of WAL; memory mapping (version 3) is
// not offered, so every write comes through Write.
const sqlite3_io_methods kMethods = {
    2,        Close,      Read,        Write,       Truncate,       Sync,          FileSize,
    Lock,     Unlock,     CheckReservedLock,        FileControl,    SectorSize,    DeviceCharacteristics,
    ShmMap,   ShmLock,    ShmBarrier,  ShmUnmap,    nullptr,        nullptr,
};

constexpr int kShimSize = (sizeof(ShimFile) + 15) & ~15;

int Open(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* f, int flags, int* outFlags) {
    auto* shim = reinterpret_cast<ShimFile*>(f);
    shim->base.pMethods = nullptr;
    shim->real = reinterpret_cast<sqlite3_file*>(reinterpret_cast<char*>(f) + kShimSize);
    const int rc = g_base->xOpen(g_base, name, shim->real, flags, outFlags);
    if (rc == SQLITE_OK) shim->base.pMethods = &kMethods;
    else if (shim->real->pMethods) shim->real->pMethods->xClose(shim->real);
    return rc;
}

int Delete(sqlite3_vfs*, const char* name, int syncDir) { return g_base->xDelete(g_base, name, syncDir); }
int Access(sqlite3_vfs*, const char* name, int flags, int* out) { return g_base->xAccess(g_base, name, flags, out); }
int FullPathname(sqlite3_vfs*, const char* name, int n, char* out) {
    return g_base->xFullPathname(g_base, name, n, out);
}
void* DlOpen(sqlite3_vfs*, const char* name) { return g_base->xDlOpen(g_base, name); }
void DlError(sqlite3_vfs*, int n, char* out) { g_base->xDlError(g_base, n, out); }
void (*DlSym(sqlite3_vfs*, void* h, const char* sym))(void) { return g_base->xDlSym(g_base, h, sym); }
void DlClose(sqlite3_vfs*, void* h) { g_base->xDlClose(g_base, h); }
int Randomness(sqlite3_vfs*, int n, char* out) { return g_base->xRandomness(g_base, n, out); }
int Sleep(sqlite3_vfs*, int us) { return g_base->xSleep(g_base, us); }
int CurrentTime(sqlite3_vfs*, double* t) { return g_base->xCurrentTime(g_base, t); }
int GetLastError(sqlite3_vfs*, int n, char* out) { return g_base->xGetLastError(g_base, n, out); }
int CurrentTimeInt64(sqlite3_vfs*, sqlite3_int64* t) { return g_base->xCurrentTimeInt64(g_base, t); }

sqlite3_vfs g_shim;

}  // namespace

CFullDisk::CFullDisk() {
    sqlite3_initialize();
    if (!g_base) {
        g_base = sqlite3_vfs_find(nullptr);
        // Every call goes to the library's own layer; files opened through
        // this one get the shim above.
        g_shim = sqlite3_vfs{.iVersion = 2, .szOsFile = kShimSize + g_base->szOsFile, .mxPathname = g_base->mxPathname,
                             .pNext = nullptr, .zName = "kx_full_disk", .pAppData = nullptr, .xOpen = Open,
                             .xDelete = Delete, .xAccess = Access, .xFullPathname = FullPathname, .xDlOpen = DlOpen,
                             .xDlError = DlError, .xDlSym = DlSym, .xDlClose = DlClose, .xRandomness = Randomness,
                             .xSleep = Sleep, .xCurrentTime = CurrentTime, .xGetLastError = GetLastError,
                             .xCurrentTimeInt64 = CurrentTimeInt64, .xSetSystemCall = nullptr,
                             .xGetSystemCall = nullptr, .xNextSystemCall = nullptr};
    }
    sqlite3_vfs_register(&g_shim, 1);
    Free();
}

CFullDisk::~CFullDisk() {
    Free();
    sqlite3_vfs_register(g_base, 1);
}

void CFullDisk::Fill() {
    g_refused = 0;
    g_full = true;
}

void CFullDisk::Free() { g_full = false; }

int CFullDisk::RefusedWrites() const { return g_refused; }
