#include "avrupdatedialog.h"
#include "hostconventions.h"
#include "portbox.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QBoxLayout>
#include <QComboBox>
#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QSerialPortInfo>
#include <QSettings>
#include <QTextCursor>
#include <QTextEdit>

namespace {

const QString hexPathKey = QStringLiteral("HexPath");

template<typename Widget>
Widget *addNamedWidget(QDialog *dialog, QBoxLayout *layout, const char *name)
{
    auto *widget = new Widget(dialog);
    widget->setObjectName(QLatin1String(name));
    layout->addWidget(widget);
    return widget;
}

} // namespace

void AvrUpdateDialogForm::setupForm(QDialog *dialog)
{
    if (dialog->objectName().isEmpty())
        dialog->setObjectName(QStringLiteral("AvrUpdateDialog"));
    dialog->resize(541, 368);

    verticalLayout = new QVBoxLayout(dialog);
    verticalLayout->setSpacing(6);
    verticalLayout->setContentsMargins(11, 11, 11, 11);
    verticalLayout->setObjectName(QStringLiteral("verticalLayout"));
    horizontalLayout = new QHBoxLayout();
    horizontalLayout->setSpacing(6);
    horizontalLayout->setObjectName(QStringLiteral("horizontalLayout"));

    lineEdit = addNamedWidget<QLineEdit>(dialog, horizontalLayout, "lineEdit");
    lineEdit->setReadOnly(true);
    btnOpen = addNamedWidget<QPushButton>(dialog, horizontalLayout, "btnOpen");
    cbSerial = addNamedWidget<QComboBox>(dialog, horizontalLayout, "cbSerial");
    preparePortBox(cbSerial);
    btnUpdate = addNamedWidget<QPushButton>(dialog, horizontalLayout, "btnUpdate");
    verticalLayout->addLayout(horizontalLayout);

    textEdit = new QTextEdit(dialog);
    textEdit->setObjectName(QStringLiteral("textEdit"));
    // The console has no actions, so a right-click on it opens no menu.
    textEdit->setContextMenuPolicy(Qt::ActionsContextMenu);
    textEdit->setReadOnly(true);
    verticalLayout->addWidget(textEdit);

    retranslateForm(dialog);
    QMetaObject::connectSlotsByName(dialog);
}

void AvrUpdateDialogForm::retranslateForm(QDialog *dialog)
{
    dialog->setWindowTitle(
        QCoreApplication::translate("AvrUpdateDialog", "AvrUpdateDialog", nullptr));
    lineEdit->setText(QString());
    btnOpen->setText(QCoreApplication::translate("AvrUpdateDialog", "Open Hex", nullptr));
    btnUpdate->setText(QCoreApplication::translate("AvrUpdateDialog", "Update", nullptr));
    // What a screen reader announces; the buttons are named by their texts.
    lineEdit->setAccessibleName(
        QCoreApplication::translate("AvrUpdateDialog", "Hex image", nullptr));
    lineEdit->setAccessibleDescription(
        QCoreApplication::translate("AvrUpdateDialog", "The Intel HEX file to write", nullptr));
    btnOpen->setAccessibleDescription(
        QCoreApplication::translate("AvrUpdateDialog", "Choose the hex image", nullptr));
    cbSerial->setAccessibleName(
        QCoreApplication::translate("AvrUpdateDialog", "Serial port", nullptr));
    cbSerial->setAccessibleDescription(QCoreApplication::translate(
        "AvrUpdateDialog", "The serial port the board is connected to", nullptr));
    cbSerial->view()->setAccessibleName(
        QCoreApplication::translate("AvrUpdateDialog", "Serial ports", nullptr));
    btnUpdate->setAccessibleDescription(QCoreApplication::translate(
        "AvrUpdateDialog", "Write the hex image to the board through the serial port", nullptr));
    textEdit->setAccessibleName(
        QCoreApplication::translate("AvrUpdateDialog", "Programmer output", nullptr));
    textEdit->setAccessibleDescription(QCoreApplication::translate(
        "AvrUpdateDialog", "Everything avrdude prints while it writes the board", nullptr));
}

AvrUpdateDialog::AvrUpdateDialog(QWidget *parent)
    : QDialog(parent)
    , ui(new AvrUpdateDialogForm)
    , process(nullptr)
{
    ui->setupForm(this);
    fillPortList();

    process = new ToolProcess;
    connect(process, SIGNAL(finished(int, QProcess::ExitStatus)), this, SLOT(processExist()));
    connect(process, SIGNAL(readyReadStandardOutput()), this, SLOT(readStandardOutput()));
    connect(process, SIGNAL(readyReadStandardError()), this, SLOT(readStandardError()));
    connect(process, &QProcess::errorOccurred, this,
            [this](QProcess::ProcessError error) { reportToolFailure(error); });

    showRememberedHexPath();
    outputLog = QLatin1String("");
    // The console only ever grows at its end; an undo history would keep a second copy of it.
    ui->textEdit->document()->setUndoRedoEnabled(false);
}

AvrUpdateDialog::~AvrUpdateDialog()
{
    // Stopping the tool because the window goes away is no end of a run to report.
    disconnect(process, &QProcess::errorOccurred, this, nullptr);
    disconnect(process, SIGNAL(finished(int, QProcess::ExitStatus)), this, nullptr);
    // The tool's last output may still arrive while it is closed, so the form stays until then.
    if (process->state() != QProcess::NotRunning)
        process->close();
    delete process;
    delete ui;
}

// Escape closes a dialog, and closing this one stops avrdude mid-write: a stray
// press must not leave the board with part of an image. The close button,
// pressed on purpose, still stops the run.
void AvrUpdateDialog::keyPressEvent(QKeyEvent *event)
{
    if (event->matches(QKeySequence::Cancel) && process->state() != QProcess::NotRunning) {
        showNotice(tr("avrdude is still writing the board: Escape does not close the window "
                      "during an update. The window's close button stops it."));
        return;
    }
    QDialog::keyPressEvent(event);
}

void AvrUpdateDialog::fillPortList()
{
    const auto ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &port : ports)
        addPort(ui->cbSerial, port.portName(),
                portDetails(port.description(), port.manufacturer()));
}

QString AvrUpdateDialog::showRememberedHexPath()
{
    const QString path = QSettings().value(hexPathKey, QVariant()).toString();
    if (!path.isEmpty())
        ui->lineEdit->setText(path);
    return path;
}

// Every run ends with one line of the window's own. A crash has had its line
// already; a run the window stopped says why; otherwise the exit code, and not
// avrdude's text, tells whether the board holds the image.
void AvrUpdateDialog::processExist()
{
    finishToolOutput();
    if (process->stopReason() != ToolProcess::Stop::None)
        showRunEnd(stopNotice(process->stopReason()));
    else if (process->exitStatus() == QProcess::NormalExit)
        showRunEnd(verdict());
}

void AvrUpdateDialog::on_btnOpen_clicked()
{
    const QString rememberedPath = showRememberedHexPath();
    const QString startLocation = rememberedPath.isEmpty() ? QDir::currentPath() : rememberedPath;
    const QString path =
        QFileDialog::getOpenFileName(this, tr("Open File"), startLocation, tr("Hex (*.hex *.HEX)"));
    if (path.isEmpty())
        return;
    ui->lineEdit->setText(path);
    QSettings().setValue(hexPathKey, path);
}

void AvrUpdateDialog::on_btnUpdate_clicked()
{
    // One run at a time: the port is the running tool's.
    if (process->state() != QProcess::NotRunning) {
        showNotice(tr("avrdude is still running: Update starts nothing until it ends. "
                      "Closing the window stops it."));
        return;
    }
    runPort = ui->cbSerial->currentText();
    runHexPath = ui->lineEdit->text();
    // avrdude writes what it can of a damaged image and calls that a success.
    runImage = HexImage::check(runHexPath);
    if (runImage.isRefused()) {
        showNotice(tr("Update refused: %1 %2. The board was not touched.")
                       .arg(QFileInfo(runHexPath).fileName(), runImage.problem()));
        return;
    }
    const ProgrammerAddress address =
        programmerAddress(QDir::currentPath(), QCoreApplication::applicationDirPath(), runPort);
    const QStringList arguments = toolArguments(address.port, runHexPath);
    qDebug() << "avr CMD: " << address.program << " " << arguments;
    // Each argument reaches the tool as it stands: no shell, no quoting.
    if (!process->startTool(address.program, arguments, runPort))
        showNotice(portTrouble());
}

// The board is reset through its port right before avrdude starts; a port that
// cannot be opened for that is said at once.
QString AvrUpdateDialog::portTrouble() const
{
    QString trouble;
    switch (process->boardReset().trouble) {
    case BoardReset::Trouble::Busy:
        trouble = tr("%1 is in use by another program (a slicer, a printer host or a terminal): "
                     "close it, then press Update.");
        break;
    case BoardReset::Trouble::NoAccess:
        trouble = tr("you may not open %1: add yourself to the dialout group (sudo adduser $USER "
                     "dialout), log out and in again, then press Update.");
        break;
    case BoardReset::Trouble::Gone:
        trouble = tr("%1 is no longer there: plug the board in, then close the window and open "
                     "it again to list its port.");
        break;
    case BoardReset::Trouble::None:
        break;
    }
    return tr("Update failed: %1 The board was not touched.").arg(trouble.arg(runPort));
}

QStringList AvrUpdateDialog::toolArguments(const QString &port, const QString &hexPath)
{
    return {QStringLiteral("-p"),
            QStringLiteral("m2560"),
            QStringLiteral("-D"),
            QStringLiteral("-P"),
            port,
            QStringLiteral("-c"),
            QStringLiteral("stk500v2"),
            QStringLiteral("-b"),
            QStringLiteral("115200"),
            QStringLiteral("-U"),
            QLatin1String("flash:w:") + hexPath + QLatin1String(":i")};
}

void AvrUpdateDialog::readStandardOutput()
{
    showToolOutput(QProcess::StandardOutput, process->readOutput(QProcess::StandardOutput));
}

void AvrUpdateDialog::readStandardError()
{
    showToolOutput(QProcess::StandardError, process->readOutput(QProcess::StandardError));
}

void AvrUpdateDialog::showToolOutput(QProcess::ProcessChannel channel, const QByteArray &bytes)
{
    ToolChannel &source = channel == QProcess::StandardOutput ? outputChannel : errorChannel;
    const QString text = source.decoder.decode(bytes);
    // The console already broke the line at a CR that ended this channel's
    // previous read; the LF that completes the pair must not break it again.
    const bool completesLineBreak =
        source.endsInCarriageReturn && text.startsWith(QLatin1Char('\n'));
    if (!text.isEmpty())
        source.endsInCarriageReturn = text.endsWith(QLatin1Char('\r'));
    showToolText(text, completesLineBreak ? 1 : 0);
}

void AvrUpdateDialog::finishToolOutput()
{
    // A character the tool never finished shows as one replacement character at
    // the end of its run, and the next run starts on clean channels.
    const QString cutOff = outputChannel.decoder.finish() + errorChannel.decoder.finish();
    outputChannel.endsInCarriageReturn = errorChannel.endsInCarriageReturn = false;
    if (!cutOff.isEmpty())
        showToolText(cutOff);
}

void AvrUpdateDialog::showToolText(const QString &text, int shownAlready)
{
    appendToLog(text, shownAlready);
    qDebug() << outputLog;
}

void AvrUpdateDialog::appendToLog(const QString &text, int shownAlready)
{
    appendToConsole(text.mid(shownAlready));
    outputLog += text;
}

void AvrUpdateDialog::appendToConsole(const QString &text)
{
    // Appended as plain text, so output that looks like markup shows as it is,
    // and a long session costs no more per chunk than a short one.
    QTextCursor cursor(ui->textEdit->document());
    cursor.movePosition(QTextCursor::End, QTextCursor::MoveAnchor, 1);
    cursor.insertText(text);
    // Every chunk brings the view back to the newest output, dropping any selection.
    ui->textEdit->setTextCursor(cursor);
}

void AvrUpdateDialog::reportToolFailure(QProcess::ProcessError error)
{
    QString line;
    if (error == QProcess::FailedToStart)
        line = tr("Could not start the programmer tool %1: %2");
    // A tool this program stopped did not crash; processExist says why it was stopped.
    else if (error == QProcess::Crashed && process->stopReason() == ToolProcess::Stop::None)
        line = tr("The programmer tool %1 ended abnormally: %2");
    else
        return;
    finishToolOutput();
    showRunEnd(line.arg(process->program(), process->errorString()));
}

QString AvrUpdateDialog::stopNotice(ToolProcess::Stop reason) const
{
    const ToolProcess::Limits &limits = process->limits();
    switch (reason) {
    case ToolProcess::Stop::NoAnswer:
        return tr("No board answered on %1, so avrdude was stopped. Choose the board's port, "
                  "check that it is plugged in, then press Update again.")
            .arg(runPort);
    case ToolProcess::Stop::WentQuiet:
        return tr("avrdude made no progress for %1 s and was stopped: the board on %2 no longer "
                  "answers and may hold part of the image. Check the cable, then press Update "
                  "again.")
            .arg(limits.silenceMs / 1000.0)
            .arg(runPort);
    case ToolProcess::Stop::TookTooLong:
        return tr("avrdude was still running after %1 minutes and was stopped: the board on %2 "
                  "may hold part of the image. Check the cable, then press Update again.")
            .arg(limits.runMs / 60000.0)
            .arg(runPort);
    case ToolProcess::Stop::Refused:
        return tr("avrdude was ended before it began, because Windows would not %1 The board "
                  "on %2 was not touched; press Update again.")
            .arg(process->refusal(), runPort);
    case ToolProcess::Stop::None:
        break;
    }
    return QString();
}

// avrdude exits with 0 only once the image is written and verified: this
// command line never turns verification off, and the image was checked whole.
QString AvrUpdateDialog::verdict() const
{
    const int code = process->exitCode();
    const QString file = QFileInfo(runHexPath).fileName();
    if (code == 0 && runImage.isWhole())
        return tr("Done: %1 bytes of %2 are written to the board on %3 and verified.")
            .arg(QLocale(QLocale::English).toString(runImage.dataBytes), file, runPort);
    if (code == 0) // a file that appeared after Update was pressed
        return tr("Done: %1 is written to the board on %2 and verified.").arg(file, runPort);
    QString failure;
    switch (process->reached()) {
    case ToolProcess::Reached::Nothing:
        return failureBeforeTheBoard(code);
    case ToolProcess::Reached::Board:
        failure = tr("Update failed: avrdude ended with exit code %1 before writing, so the board "
                     "on %2 was not updated; its lines above say why. Put that right, then press "
                     "Update again.");
        break;
    case ToolProcess::Reached::Writing:
        failure = tr("Update failed: avrdude ended with exit code %1 while writing, so the board "
                     "on %2 may hold part of the image; its lines above say why. Pressing Update "
                     "again is safe: the board still starts its bootloader.");
        break;
    }
    return failure.arg(code).arg(runPort);
}

// avrdude refuses a file it cannot read, and a port that is not there, before
// it talks to a board: the advice names the cause it can be.
QString AvrUpdateDialog::failureBeforeTheBoard(int exitCode) const
{
    if (runImage.verdict == HexImage::Verdict::NoFileChosen)
        return tr("Update failed: no hex file is chosen, so avrdude ended with exit code %1 and "
                  "the board was not touched. Press Open Hex to choose one, then press Update "
                  "again.")
            .arg(exitCode);
    if (runImage.verdict == HexImage::Verdict::Unreadable)
        return tr("Update failed: %1 cannot be read, so avrdude ended with exit code %2 and the "
                  "board was not touched. Check that the file is still there, or press Open Hex "
                  "to choose it again.")
            .arg(QDir::toNativeSeparators(runHexPath))
            .arg(exitCode);
    if (runPort.isEmpty())
        return tr("Update failed: the port list is empty, so avrdude ended with exit code %1 and "
                  "the board was not touched. Plug the board in, then close the window and open "
                  "it again to list its port.")
            .arg(exitCode);
    return tr("Update failed: avrdude ended with exit code %1 before a board answered on %2, so "
              "the board was not updated; its lines above say why. Choose the board's port, "
              "check that it is plugged in, then press Update again.")
        .arg(exitCode)
        .arg(runPort);
}

// The run's last line; a window in the background asks for attention (the
// taskbar button flashes), without taking the focus.
void AvrUpdateDialog::showRunEnd(const QString &line)
{
    showNotice(line);
    QApplication::alert(this);
}

// A line of the window's own, in the console and on the debug channel. It starts
// a line of its own, even after a partial line of output.
void AvrUpdateDialog::showNotice(const QString &line)
{
    qDebug().noquote() << line;
    const bool midLine = !outputLog.isEmpty() && !outputLog.endsWith(QLatin1Char('\n'))
        && !outputLog.endsWith(QLatin1Char('\r'));
    appendToLog((midLine ? QLatin1String("\n") : QLatin1String("")) + line + QLatin1Char('\n'));
}
