#pragma once
// A disk that fills up when the test says so, for SQLite connections opened
// while the object lives. Once full, no file may grow: a write past a file's
// end fails as the operating system's would on a full disk (SQLite reports
// SQLITE_FULL, "database or disk is full"), while bytes already in a file can
// still be overwritten, as on a real disk. Works by making a thin layer over
// the library's own file layer the default one.

class CFullDisk {
public:
    CFullDisk();
    // Connections opened meanwhile keep the layer (it never goes away); the
    // disk is emptied again and later connections use the library's own.
    ~CFullDisk();

    void Fill();
    void Free();
    // Writes refused since the disk was last filled.
    int RefusedWrites() const;

private:
    // One disk at a time: the layer and its state are the process's.
    CFullDisk(const CFullDisk&) = delete;
    CFullDisk& operator=(const CFullDisk&) = delete;
};
