#ifndef AVRUPDATEDIALOG_H
#define AVRUPDATEDIALOG_H

#include "heximage.h"
#include "localtextdecoder.h"
#include "toolprocess.h"

#include <QDialog>
#include <QString>
#include <QStringList>

QT_BEGIN_NAMESPACE
class QComboBox;
class QHBoxLayout;
class QKeyEvent;
class QLineEdit;
class QPushButton;
class QTextEdit;
class QVBoxLayout;
QT_END_NAMESPACE

// The widgets of the update window. The dialog owns the record; the widgets
// belong to the dialog through the usual parent-child tree.
class AvrUpdateDialogForm
{
public:
    QVBoxLayout *verticalLayout;
    QHBoxLayout *horizontalLayout;
    QLineEdit *lineEdit;
    QPushButton *btnOpen;
    QComboBox *cbSerial;
    QPushButton *btnUpdate;
    QTextEdit *textEdit;

    void setupForm(QDialog *dialog);
    void retranslateForm(QDialog *dialog);
};

class AvrUpdateDialog : public QDialog
{
    Q_OBJECT

public:
    explicit AvrUpdateDialog(QWidget *parent = nullptr);
    ~AvrUpdateDialog() override;

    // What Update asks of avrdude: write the image into the ATmega2560's flash
    // through its STK500v2 bootloader, without erasing the chip first.
    static QStringList toolArguments(const QString &port, const QString &hexPath);

protected:
    void keyPressEvent(QKeyEvent *event) override;

private slots:
    void processExist();
    void on_btnOpen_clicked();
    void on_btnUpdate_clicked();
    void readStandardOutput();
    void readStandardError();

private:
    void fillPortList();
    QString showRememberedHexPath();
    void showToolOutput(QProcess::ProcessChannel channel, const QByteArray &bytes);
    void finishToolOutput();
    void showToolText(const QString &text, int shownAlready = 0);
    void appendToLog(const QString &text, int shownAlready = 0);
    void appendToConsole(const QString &text);
    void reportToolFailure(QProcess::ProcessError error);
    QString stopNotice(ToolProcess::Stop reason) const;
    QString verdict() const;
    QString failureBeforeTheBoard(int exitCode) const;
    QString portTrouble() const;
    void showRunEnd(const QString &line);
    void showNotice(const QString &line);

    AvrUpdateDialogForm *ui;
    ToolProcess *process;
    QString outputLog;
    // The port and image of the run in progress or the last one, as the user chose them.
    QString runPort;
    QString runHexPath;
    HexImage runImage;
    // One per channel: a character or a CR+LF pair split between two reads of
    // one channel must not be mixed up with the other channel's output.
    struct ToolChannel
    {
        LocalTextDecoder decoder;
        bool endsInCarriageReturn = false;
    };
    ToolChannel outputChannel;
    ToolChannel errorChannel;

    friend struct AvrUpdateDialogProbe;
};

#endif // AVRUPDATEDIALOG_H
