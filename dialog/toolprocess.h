#ifndef TOOLPROCESS_H
#define TOOLPROCESS_H

#include "boardreset.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QProcess>
#include <QTimer>

// The programmer tool's process. The tool never outlives the program, however
// the program ends, and a run that can no longer succeed is stopped: avrdude
// itself gives up on a port nobody answers only after minutes, and on a board
// unplugged mid-write it spins for ever in silence, or, on Windows, complains
// for ever.
class ToolProcess : public QProcess
{
    Q_OBJECT

public:
    enum class Stop { None, NoAnswer, WentQuiet, TookTooLong, Refused };
    // How far the last run got with the board.
    enum class Reached { Nothing, Board, Writing };
    struct Limits
    {
        // A normal run makes progress at least every second: a '#' every 2 % of
        // the image. Errors, warnings and timeouts are none, and a board that has
        // neither signed on nor shown a mark by then is not there.
        int silenceMs = 20000;
        // A whole image writes and verifies in about a minute.
        int runMs = 5 * 60000;
    };

    explicit ToolProcess(QObject *parent = nullptr);
    ~ToolProcess() override;

    // Resets the board on the port into its bootloader, then starts the tool at
    // once; false, with the tool not started, when the port cannot be opened.
    bool startTool(const QString &program, const QStringList &arguments, const QString &port);
    const BoardReset &boardReset() const { return reset; }
    // All the tool's output is read through here, so that the limits see it.
    QByteArray readOutput(ProcessChannel channel);
    // Why the last run was stopped by this program, or None.
    Stop stopReason() const { return stop; }
    // With Stop::Refused: what Windows would not do, and the system's reason, a sentence's end.
    QString refusal() const { return refused; }
    Reached reached() const;
    const Limits &limits() const { return runLimits; }

protected:
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0) && defined(Q_OS_LINUX)
    void setupChildProcess() override;
#endif

private:
    void noteOutput(const QByteArray &bytes);
    void noteLine(const QByteArray &line, qint64 now);
    void noteStage(const QByteArray &lowerCaseLine);
    static bool namesTrouble(const QByteArray &lowerCaseLine);
    void checkLimits();
    void armLimitTimer(qint64 now);
    void stopTool(Stop reason);
    void runInJob();
    void refuse(const QString &what, int systemError);

    Limits runLimits;
    QTimer limitTimer;
    QElapsedTimer runClock;
    qint64 lastProgressMs = 0;
    bool signedOn = false;
    bool writing = false;
    // The line still being written, judged once it is whole.
    QByteArray partialLine;
    Stop stop = Stop::None;
    BoardReset reset;
    QString refused;
    qint64 programPid = 0;
    void *job = nullptr; // Windows: the job that ends the tool with the program
    // Windows: Qt's record of the tool's process and first thread, filled by CreateProcess.
    void *started = nullptr;

    friend struct AvrUpdateDialogProbe;
};

#endif // TOOLPROCESS_H
