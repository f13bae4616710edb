#include "toolprocess.h"

#include <QCoreApplication>

#ifdef Q_OS_WIN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#endif
#ifdef Q_OS_LINUX
#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>
#endif

namespace {

#ifdef Q_OS_LINUX

// Runs in the child between fork and exec. The kernel kills the tool when the
// program ends in any way, SIGKILL and crashes included; a program that is
// already gone by now can no longer be noticed, so the tool does not start.
void dieWithProgram(qint64 programPid)
{
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != programPid)
        _exit(1);
}
#endif

} // namespace

ToolProcess::ToolProcess(QObject *parent)
    : QProcess(parent)
    , programPid(QCoreApplication::applicationPid())
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0) && defined(Q_OS_LINUX)
    setChildProcessModifier([pid = programPid] { dieWithProgram(pid); });
#endif
#ifdef Q_OS_WIN
    // The tool runs its first instruction only once it is in the job.
    setCreateProcessArgumentsModifier([this](CreateProcessArguments *arguments) {
        arguments->flags |= CREATE_SUSPENDED;
        started = arguments->processInformation;
    });
#endif
    limitTimer.setSingleShot(true);
    connect(&limitTimer, &QTimer::timeout, this, &ToolProcess::checkLimits);
    connect(this, &QProcess::stateChanged, this, [this](QProcess::ProcessState state) {
        if (state == QProcess::NotRunning)
            limitTimer.stop();
    });
}

ToolProcess::~ToolProcess()
{
#ifdef Q_OS_WIN
    // Closing the last handle to the job ends a tool that still runs.
    if (job)
        CloseHandle(job);
#endif
}

#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0) && defined(Q_OS_LINUX)
void ToolProcess::setupChildProcess()
{
    dieWithProgram(programPid);
}
#endif

bool ToolProcess::startTool(const QString &program, const QStringList &arguments,
                            const QString &port)
{
    // With no port at all, avrdude is left to say so.
    reset = port.isEmpty() ? BoardReset() : BoardReset::pulse(port);
    if (reset.trouble != BoardReset::Trouble::None)
        return false;
    stop = Stop::None;
    refused.clear();
    signedOn = false;
    writing = false;
    partialLine.clear();
    lastProgressMs = 0;
    runClock.start();
    start(program, arguments, QIODevice::ReadWrite);
    if (state() == NotRunning)
        return true;
    runInJob();
    if (stop == Stop::None)
        armLimitTimer(0);
    return true;
}

QByteArray ToolProcess::readOutput(ProcessChannel channel)
{
    const QByteArray bytes =
        channel == StandardOutput ? readAllStandardOutput() : readAllStandardError();
    noteOutput(bytes);
    return bytes;
}

void ToolProcess::noteOutput(const QByteArray &bytes)
{
    if (state() == NotRunning)
        return;
    const qint64 now = runClock.elapsed();
    // A progress mark counts at once: the line it is on ends only at 100 %. It
    // also means the board has answered: avrdude 8 says little else without -v.
    if (bytes.contains('#')) {
        lastProgressMs = now;
        signedOn = true;
    }
    partialLine += bytes;
    for (int end; (end = partialLine.indexOf('\n')) >= 0;) {
        noteLine(partialLine.left(end), now);
        partialLine.remove(0, end + 1);
    }
    // A progress bar's line ends only at 100 %, but its start names what it does;
    // once writing is seen it need not be read.
    if (!writing)
        noteStage(partialLine.trimmed().toLower());
    // What a line is shows at its start; a tool that never ends one costs no more.
    partialLine.truncate(512);
}

void ToolProcess::noteLine(const QByteArray &line, qint64 now)
{
    const QByteArray text = line.trimmed().toLower();
    if (!text.isEmpty() && !namesTrouble(text))
        lastProgressMs = now;
    noteStage(text);
}

// How far the run got, in avrdude 6's, 7's and 8's words. The board has answered
// once avrdude says it is ready (6, 7), names its signature, or reads the input
// file, which it does only then: "reading input file" (6, 7), "Reading 3000 bytes
// for flash from input file" (8). The chip may hold part of the image once a line
// starts with writing: "avrdude: writing flash (65536 bytes):" (6), "avrdude:
// writing 65536 bytes flash ..." (7), "Writing 3000 bytes to flash" (8), and every
// progress bar that writes. A complaint is neither, whatever it names.
void ToolProcess::noteStage(const QByteArray &lowerCaseLine)
{
    if (namesTrouble(lowerCaseLine))
        return;
    const int prefix = lowerCaseLine.startsWith("avrdude") ? lowerCaseLine.indexOf(": ") : -1;
    if (lowerCaseLine.mid(prefix < 0 ? 0 : prefix + 2).startsWith("writing"))
        signedOn = writing = true;
    for (const char *words :
         {"initialized and ready", "device signature", "reading input file", "from input file"}) {
        if (lowerCaseLine.contains(words))
            signedOn = true;
    }
}

ToolProcess::Reached ToolProcess::reached() const
{
    if (writing)
        return Reached::Writing;
    return signedOn ? Reached::Board : Reached::Nothing;
}

// How avrdude words what went wrong: "avrdude error:" and "avrdude warning:"
// (7), "Error:" and "Warning:" (8), "avrdude: stk500v2_ReceiveMessage():
// timeout" (6, which Ubuntu still ships). A board that only complains makes no
// progress.
bool ToolProcess::namesTrouble(const QByteArray &lowerCaseLine)
{
    for (const char *word : {"error", "warning", "timeout"}) {
        if (lowerCaseLine.contains(word))
            return true;
    }
    return false;
}

void ToolProcess::checkLimits()
{
    if (state() == NotRunning)
        return;
    const qint64 now = runClock.elapsed();
    if (now >= runLimits.runMs)
        return stopTool(Stop::TookTooLong);
    // Before it has signed on, a board that never answers is no board at all.
    if (now - lastProgressMs >= runLimits.silenceMs)
        return stopTool(signedOn ? Stop::WentQuiet : Stop::NoAnswer);
    armLimitTimer(now);
}

// One timer for the nearest limit; progress only moves the silence limit on, and
// the timer finds that out when it fires.
void ToolProcess::armLimitTimer(qint64 now)
{
    const qint64 due = qMin<qint64>(runLimits.runMs, lastProgressMs + runLimits.silenceMs);
    limitTimer.start(int(qMax<qint64>(due - now, 0)));
}

void ToolProcess::stopTool(Stop reason)
{
    stop = reason;
    limitTimer.stop();
    // Not terminate(): avrdude spinning on a vanished port must go at once.
    kill();
}

// A Windows COM port is the tool's alone while it runs, so the tool must end
// with the program even when the program is killed: the job ends whatever is
// in it once its last handle closes, and the program holds the only one. The
// tool was started suspended and runs its first instruction only once it is in
// the job; a tool that cannot be put there, or not resumed, is ended at once.
void ToolProcess::runInJob()
{
#ifdef Q_OS_WIN
    if (!job) {
        // No security attributes: the handle is not inherited, so no tool holds the job open.
        job = CreateJobObjectW(nullptr, nullptr);
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        if (job
            && !SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits,
                                        sizeof limits)) {
            const DWORD error = GetLastError();
            CloseHandle(job);
            job = nullptr;
            SetLastError(error);
        }
    }
    const auto *tool = static_cast<const PROCESS_INFORMATION *>(started);
    if (!job || !AssignProcessToJobObject(job, tool->hProcess)) {
        const int error = int(GetLastError());
        return refuse(tr("put it into a job that ends it with this program"), error);
    }
    if (ResumeThread(tool->hThread) == DWORD(-1)) {
        const int error = int(GetLastError());
        return refuse(tr("resume it"), error);
    }
#endif
}

// Says what the system would not do, with its own words for why, and ends the tool.
void ToolProcess::refuse(const QString &what, int systemError)
{
    QString reason = qt_error_string(systemError).trimmed();
    if (!reason.endsWith(QLatin1Char('.')))
        reason += QLatin1Char('.');
    refused = what + QLatin1String(": ") + reason;
    stopTool(Stop::Refused);
}
