#pragma once

// The root reader: on a system whose administrator launcher offers piped runs
// (Linux, through pkexec), one small perl program started as root behind one
// password dialog opens the device and hands the open descriptor over to the
// program, which then reads it exactly as the direct scan reads a device it
// opened itself (directscan.h), and the reader ends. Opening is the only
// thing root does: no byte of the device passes through another process, so
// the administrator scan runs at the direct scan's speed.
//
// Where the descriptor can't be handed over (no way to call sendmsg from the
// interpreter), the reader stays and serves positioned reads over its
// standard input and output instead: it fills the scan's read-ahead ring,
// which is memory shared with the program (an anonymous memory file it gets
// as its standard error), and sends other ranges through its standard output.
// Nothing the device holds is ever written to disk either way.
//
// The program text goes to perl as an argument when it starts, never through
// a file that could change while the password dialog is open. perl-base is
// essential on Debian, so /usr/bin/perl is always there.
//
// Protocol: lines of text, each answer to a read followed by its bytes.
//   reader, once:  "QUORVEL-READER 1 SIZE\n"  ready; SIZE is -1 when it can't tell
//                  "F ERRNO\n"                the device can't be opened
//                  "T KIND\n"                 it can't be read to an end:
//                                             c character device of unknown size, d folder, p pipe or socket
//   "H\n"                ->  the open descriptor is sent over the reader's
//                            standard input (a socket) with one byte, then
//                            "D 1\n"; or "E ERRNO\n" when it can't be sent
//   "R OFFSET LENGTH\n"  ->  "D N\n" and N bytes (fewer than LENGTH only at the
//                            end of the data or just before an unreadable spot,
//                            0 at the end), or "E ERRNO\n" when nothing could be read
//   "W OFFSET LENGTH PLACE\n" -> the bytes are written into the reader's
//                            standard error (a file in memory the program maps
//                            as its read-ahead ring) from PLACE on, wrapping at
//                            the file's end; then "D N\n" alone, or "E ERRNO\n"
//   "S\n"                ->  "Z SIZE\n", the size now (a removed disk reports 0)
// The reader ends when its input ends (the program closed it, or died), when
// an answer can't be written (the program is gone), on any line it does not
// understand, and, when started with an idle time, after that many seconds
// without a request. An unprivileged program can't signal a root process;
// the reader never depends on being killed.

#include <QList>
#include <QMutex>
#include <QString>
#include <QStringList>

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <thread>

#include "carving/sourcereader.h"
#include "model/bytesource.h"
#include "system/commandrunner.h"

class PipedProcess;
struct ScanTexts;

struct ReaderOptions {
    // Seconds without a request after which the reader ends; 0: never.
    int idleSeconds = 0;
    // Copy read-ahead bytes with sendfile where the system offers it; off,
    // the reader reads and writes them, as it does everywhere else.
    bool kernelCopy = true;
    // Ask for the open descriptor; off, every byte comes through the reader.
    bool handOver = true;
};

namespace RootReader {
inline constexpr char greeting[] = "QUORVEL-READER 1 ";
// Arguments for the interpreter: the program text, the device and the options.
QStringList interpreterArguments(const QString &devicePath, const ReaderOptions &options);
} // namespace RootReader

// One reader process and the pipes to it. Requests from any thread are
// answered in the order asked. A thread of its own takes the answers off the
// pipe as they come and writes them straight into the buffers they were asked
// for, so that the reader fills the read-ahead while the scan carves.
class ReaderConnection final : public SourceReader
{
public:
    enum class Failure {
        none,
        dismissed,     // the password dialog was dismissed (status 126)
        cancelled,     // the scan was stopped while the dialog was open
        notStarted,    // refused, no authentication agent, no interpreter...: `reason`
        cannotOpen,    // the device could not be opened: `error`
        unsupported,   // the device can't be read to an end: `fileType` (st_mode bits)
    };
    struct Opened {
        std::shared_ptr<ReaderConnection> connection;
        Failure failure = Failure::none;
        QString reason;
        int error = 0;
        unsigned fileType = 0;
    };

    // Starts a reader for `devicePath` with `launcher` and waits for its
    // greeting, for as long as the password dialog stays open. `cancelled`,
    // when given, is asked while waiting here and for every later answer; a
    // true value ends the wait and closes the connection.
    static Opened open(AdministratorLauncher &launcher, const QString &interpreter, const QString &devicePath,
                       const ReaderOptions &options, std::function<bool()> cancelled = {});

    ~ReaderConnection() override;

    // The size the reader found when it opened the device; -1 when unknown.
    qint64 size() const { return m_size; }
    // Whether the reader handed its descriptor over: reads are then the
    // program's own and the reader has ended.
    bool readsDirectly() const { return m_direct != nullptr; }
    // False once the reader ended, a wait was cancelled, or close() was called.
    bool isOpen() const;
    // Ends the reader: its input is closed and it is reaped.
    void close();

    // SourceReader. A failure of the connection itself is a lost source.
    Result read(qint64 offset, std::uint8_t *into, qint64 length) override;
    void readAhead(qint64 offset, std::uint8_t *into, qint64 length) override;
    void cancelReadAhead() override;
    std::optional<qint64> currentSize() override;
    // The ring is a file in memory that the reader has as its standard error:
    // bytes asked into it ("W" requests) are written there by the reader and
    // never pass through the pipe. Linux only; null elsewhere.
    std::uint8_t *sharedRing(std::size_t size) override;

private:
    struct Request;
    ReaderConnection(std::unique_ptr<PipedProcess> process, std::function<bool()> cancelled);

    // Used while the connection is being opened and then by the pump alone.
    bool waitReadable(const std::function<bool()> &giveUp);
    qint64 readPipe(std::uint8_t *into, qint64 length);
    bool readLine(QByteArray *line, const std::function<bool()> &giveUp);
    bool answer(const Request &request, Result *result, qint64 *size);
    void pump();
    enum class HandOver { taken, declined, failed };
    HandOver takeDescriptor(const QString &devicePath, const std::function<bool()> &giveUp);

    std::shared_ptr<Request> submitLocked(char kind, qint64 offset, std::uint8_t *into, qint64 length);
    void waitLocked(std::unique_lock<std::mutex> &lock, const std::shared_ptr<Request> &request);
    void discardAheadLocked(std::unique_lock<std::mutex> &lock);
    void stopLocked(std::unique_lock<std::mutex> &lock);
    void failLocked();

    std::unique_ptr<PipedProcess> m_process;
    int m_output = -1;
    int m_transfer = -1;        // the shared file: the reader's standard error
    std::uint8_t *m_ring = nullptr;
    std::size_t m_ringSize = 0;
    int m_wake[2] = {-1, -1};   // written to end the pump's wait at once
    std::thread m_pump;
    qint64 m_size = -1;
    QByteArray m_line;          // the pump's: answer bytes read with a header line
    qsizetype m_lineAt = 0;

    // The descriptor the reader handed over, and positioned reads of it. A
    // close waits for the reads under way, so no read meets a closed (or
    // reused) descriptor.
    int m_device = -1;
    std::unique_ptr<SourceReader> m_direct;
    mutable std::shared_mutex m_deviceLock;

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::function<bool()> m_cancelled;
    std::deque<std::shared_ptr<Request>> m_queue;   // asked, not answered yet
    std::deque<std::shared_ptr<Request>> m_ahead;   // read-aheads not collected yet
    bool m_writing = false;     // the pump is writing into a request's buffer
    bool m_stopping = false;
    bool m_broken = false;
    bool m_waitCancelled = false;
};

// The bytes of a device that only root can read, for the hits of an
// administrator scan. While the scan runs, its reader serves them (so a step
// that checks a hit's structure can read beyond its window at once). After
// it, prepare() starts one reader for the batch, behind one password dialog,
// which serves every read until each prepared range has been read once; a
// read nobody prepared starts a reader for itself. A reader that handed its
// descriptor over has ended already and the descriptor is closed with the
// batch; one that serves reads itself stops after a minute without a
// request. Any left end with the source.
class AdministratorByteSource final : public ByteSource
{
public:
    AdministratorByteSource(QString devicePath, AdministratorLauncherFactory launchers, QString interpreter);
    ~AdministratorByteSource() override;

    // The scan's reader serves reads from now until detach().
    void attach(std::shared_ptr<ReaderConnection> connection);
    void detach();

    bool prepare(const QList<Range> &ranges, QString *error) override;
    // Ends the save's reader once its batch is written, however the ranges
    // were read (a whole file is read in blocks, not as one range).
    void release() override;
    bool read(quint64 offset, qint64 length, QByteArray *out, QString *error) const override;

    QString devicePath() const { return m_devicePath; }

private:
    std::shared_ptr<ReaderConnection> startLocked(QString *error) const;

    const QString m_devicePath;
    const AdministratorLauncherFactory m_launchers;
    const QString m_interpreter;
    mutable QMutex m_mutex;
    std::shared_ptr<ReaderConnection> m_scan;
    mutable std::shared_ptr<ReaderConnection> m_batch;
    mutable QList<Range> m_unread;
};

// The text for a reader that could not be opened; empty when the scan was
// stopped meanwhile.
QString readerFailureText(const ReaderConnection::Opened &opened, const QString &devicePath, const ScanTexts &texts);
