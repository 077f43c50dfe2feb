#pragma once
// Reads a directory, journal or CSV file line by line in big blocks: a line
// holds at most `maxLineBytes` bytes before its line end, so a longer physical
// line comes back as several lines, cut after every `maxLineBytes` bytes (the
// way the terminal-side tools have always read them). CR LF and a lone LF end a
// line and are not returned, nor is a CR just before the end of the file, so no
// line ever carries its line end. Lines are the file's raw bytes in its code
// page (NUL bytes included).
//
// Every line the reader returns reads back as that one line when it is written
// with a line end: a line end right after `maxLineBytes` bytes ends that line
// (it is not an empty line of its own), and a UTF-8 byte-order mark at the
// start of the file does not count against the first line (it is returned with
// it; the caller knows what to make of it). So the longest line a directory
// file carries is kDirectoryLineBytes, wherever it stands in the file, and a
// cut piece of a longer line, saved as a line of its own, stays one line.
//
//   CDirectoryLineReader reader;
//   if (!reader.Open(path)) ...;
//   QByteArrayView line;
//   while (reader.ReadLine(&line)) ...;
//   if (reader.Failed()) ...;   // a read error, not the end of the file
//
// A reader opened with OpenKeeping never moves or reuses what it has read, so
// every line it returned stays where it is: a table can keep the file's bytes
// as its rows instead of copying each line out.

#include <QByteArray>
#include <QByteArrayView>
#include <QFile>
#include <QString>

#include <functional>

class CContentDigest;

class CDirectoryLineReader {
public:
    static constexpr int kDirectoryLineBytes = 1023;  // loading and upload: the longest line
    static constexpr int kCountLineBytes = 8191;      // line counting

    explicit CDirectoryLineReader(int maxLineBytes = kDirectoryLineBytes);
    CDirectoryLineReader(const CDirectoryLineReader&) = delete;
    CDirectoryLineReader& operator=(const CDirectoryLineReader&) = delete;

    // False when the path is empty, names a folder or cannot be opened.
    bool Open(const QString& path);
    // Hands out the memory a keeping reader reads into: at least `capacity`
    // bytes, alive as long as the caller keeps them; null when there is none.
    using BlockSource = std::function<char*(qsizetype capacity)>;
    // Opens as Open does, but reads into blocks from `newBlock` and keeps them:
    // a line's view stays valid as long as its block, and it lies in the block
    // handed out last before the line was returned. The first block is the size
    // of the file (with room for its end); one that grows meanwhile continues in
    // further blocks. No memory for a block is a read error.
    bool OpenKeeping(const QString& path, BlockSource newBlock);
    void Close();
    bool IsOpen() const { return m_open; }
    // Feeds every byte read from now on to `digest` (null: none), right after
    // its read, while the bytes are still in the cache. Close stops it.
    void DigestInto(CContentDigest* digest) { m_digest = digest; }

    // The next line; the view stays valid until the next call. False at the
    // end of the file or on a read error (see Failed).
    bool ReadLine(QByteArrayView* line);
    bool Failed() const { return m_failed; }
    // Whether the last line returned ended with a line end in the file (false
    // for a cut piece of a long line and for a last line without one).
    bool LastLineHadEnd() const { return m_lastHadEnd; }
    // Whether the last line returned holds a NUL byte (the bytes read are
    // searched once, not line by line).
    bool LastLineHasNul() const { return m_lastHasNul; }
    // Keeping: the bytes read into the current block (all of them are the
    // file's, the last line ends within them).
    qsizetype KeptBytes() const { return m_keeping ? m_end : 0; }

private:
    bool Fill();  // reads more bytes; false at the end of the file or on error
    bool NextBlock();  // keeping: moves the unread bytes into a fresh block
    void MovedTo(qsizetype pos, qsizetype end);  // the unread bytes moved to the start
    void FindNul();                    // the next NUL byte from m_pos on, if any
    void NoteNul(qsizetype length);    // whether the line at m_pos holds it

    QFile m_file;
    QByteArray m_buffer;
    char* m_data = nullptr;  // m_buffer's bytes, or the current kept block
    qsizetype m_capacity = 0;
    bool m_keeping = false;
    BlockSource m_newBlock;
    CContentDigest* m_digest = nullptr;
    qsizetype m_nextBlockBytes = 0;
    qsizetype m_pos = 0;
    qsizetype m_end = 0;
    int m_max;
    bool m_eof = false;
    bool m_failed = false;
    bool m_lastHadEnd = false;
    bool m_atStart = true;  // the next line is the file's first
    bool m_open = false;
    bool m_lastHasNul = false;
    qsizetype m_nul = -1;      // the first NUL byte from the last line on, -1 if none so far
    qsizetype m_nulScan = 0;   // the bytes searched for it end here
};
