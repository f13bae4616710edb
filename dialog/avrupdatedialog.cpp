#include "avrupdatedialog.h"
#include "hostconventions.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QBoxLayout>
#include <QComboBox>
#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
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

// Qt's own combo box interface on Linux takes the current item for the box's
// name, so a screen reader would announce "ttyUSB0" and never what the box is
// for. The port box keeps its name, and tells its port as its value, on every host.
class PortBoxAccessible : public QAccessibleWidget
{
public:
    explicit PortBoxAccessible(QComboBox *box)
        : QAccessibleWidget(box, QAccessible::ComboBox)
    {
    }

    QString text(QAccessible::Text t) const override
    {
        return t == QAccessible::Value ? box()->currentText() : QAccessibleWidget::text(t);
    }
    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.expandable = true;
        state.expanded = box()->view()->isVisible();
        return state;
    }
    // The drop-down list, as in Qt's own interface, so that its items can be read.
    int childCount() const override { return 1; }
    QAccessibleInterface *child(int index) const override
    {
        return index == 0 ? QAccessible::queryAccessibleInterface(box()->view()) : nullptr;
    }
    int indexOfChild(const QAccessibleInterface *child) const override
    {
        return child && child->object() == box()->view() ? 0 : -1;
    }
    QStringList actionNames() const override { return {showMenuAction(), pressAction()}; }
    void doAction(const QString &action) override
    {
        if (action == showMenuAction() || action == pressAction())
            box()->showPopup();
    }

private:
    QComboBox *box() const { return static_cast<QComboBox *>(widget()); }
};

QAccessibleInterface *portBoxAccessible(const QString &className, QObject *object)
{
    auto *box = qobject_cast<QComboBox *>(object);
    if (className == QLatin1String("QComboBox") && box
        && box->objectName() == QLatin1String("cbSerial")
        && qobject_cast<AvrUpdateDialog *>(box->parentWidget()))
        return new PortBoxAccessible(box);
    return nullptr;
}

} // namespace

void AvrUpdateDialogForm::setupForm(QDialog *dialog)
{
    if (dialog->objectName().isEmpty())
        dialog->setObjectName(QStringLiteral("AvrUpdateDialog"));
    dialog->resize(541, 368);
    // Installed again for each window, which Qt ignores; it must be in place
    // before a screen reader first asks about the port box.
    QAccessible::installFactory(portBoxAccessible);

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

    process = new QProcess;
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
    // Stopping the tool because the window goes away is no failure to report.
    disconnect(process, &QProcess::errorOccurred, this, nullptr);
    // The tool's last output may still arrive while it is closed, so the form stays until then.
    if (process->state() != QProcess::NotRunning)
        process->close();
    delete process;
    delete ui;
}

void AvrUpdateDialog::fillPortList()
{
    const auto ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &port : ports)
        ui->cbSerial->addItem(port.portName());
}

QString AvrUpdateDialog::showRememberedHexPath()
{
    const QString path = QSettings().value(hexPathKey, QVariant()).toString();
    if (!path.isEmpty())
        ui->lineEdit->setText(path);
    return path;
}

void AvrUpdateDialog::processExist()
{
    // The tool's own text has already told how the run went; only a character
    // it left unfinished is still to be shown.
    finishToolOutput();
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
    const ProgrammerAddress address = programmerAddress(
        QDir::currentPath(), QCoreApplication::applicationDirPath(), ui->cbSerial->currentText());
    const QStringList arguments = toolArguments(address.port, ui->lineEdit->text());
    qDebug() << "avr CMD: " << address.program << " " << arguments;
    // Each argument reaches the tool as it stands: no shell, no quoting.
    process->start(address.program, arguments, QIODevice::ReadWrite);
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
    showToolOutput(QProcess::StandardOutput, process->readAllStandardOutput());
}

void AvrUpdateDialog::readStandardError()
{
    showToolOutput(QProcess::StandardError, process->readAllStandardError());
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
    else if (error == QProcess::Crashed)
        line = tr("The programmer tool %1 ended abnormally: %2");
    else
        return;
    finishToolOutput();
    line = line.arg(process->program(), process->errorString());
    qDebug().noquote() << line;
    // The notice starts a line of its own, even after a partial line of output.
    const bool midLine = !outputLog.isEmpty() && !outputLog.endsWith(QLatin1Char('\n'))
        && !outputLog.endsWith(QLatin1Char('\r'));
    appendToLog((midLine ? QLatin1String("\n") : QLatin1String("")) + line + QLatin1Char('\n'));
}
