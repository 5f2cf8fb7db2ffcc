#pragma once

#include "common/msgbox.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>
#include <functional>
#include <memory>

// Processes events until the condition holds; false after the timeout.
bool waitFor(const std::function<bool()>& condition, int timeoutMs = 5000);

// Answers and records every message box while it lives. A box is answered
// with the next scripted answer, or else with its own "Sure"/default button,
// so no test can hang on a modal box. Boxes a test does not take are
// reported by checkNoneLeft(), which the test fixtures call in cleanup().
class BoxRecorder
{
public:
    struct Box
    {
        QMessageBox::Icon icon;
        QString title;
        QString text;
        QStringList buttons;
        QWidget* parent; // for comparison only: it may be gone
        // "[title] text"
        QString summary() const { return QStringLiteral("[%1] %2").arg(title, text); }
    };

    BoxRecorder();
    ~BoxRecorder() { MsgBox::setInterceptor(previous_); }

    void answerNext(MsgBox::Answer answer) { answers_.append(answer); }
    int count() const { return boxes_.size(); }
    const QList<Box>& boxes() const { return boxes_; }
    // Removes and returns the oldest box (an empty Box when there is none).
    Box take();
    QString takeText() { return take().text; }
    // Waits for a box and takes it (an empty Box when none came in time).
    Box waitForBox(int timeoutMs = 5000);
    QString waitForText(int timeoutMs = 5000) { return waitForBox(timeoutMs).text; }
    void clear() { boxes_.clear(); }
    // Fails the running test when boxes were shown that it did not take.
    bool checkNoneLeft();

private:
    MsgBox::Interceptor previous_;
    QList<Box> boxes_;
    QList<MsgBox::Answer> answers_;
};

// Base of test classes in which every test function runs with a
// BoxRecorder (`boxes`) and fails when a box came up that it did not take.
class BoxCheckedTest : public QObject
{
    Q_OBJECT
protected:
    std::unique_ptr<BoxRecorder> boxes;

protected Q_SLOTS:
    void init() { boxes = std::make_unique<BoxRecorder>(); }
    void cleanup()
    {
        boxes->checkNoneLeft();
        boxes.reset();
    }
};

// Lets a test handle boxes itself while it lives (run them for real, look
// at the program's state as they come up); `next` is the interceptor that
// was installed before, usually the BoxRecorder.
class BoxHook
{
public:
    using Handler = std::function<MsgBox::Answer(const MsgBox::Request& request,
                                                 const MsgBox::Interceptor& next)>;
    explicit BoxHook(Handler handler);
    ~BoxHook() { MsgBox::setInterceptor(next_); }

private:
    MsgBox::Interceptor next_;
};

// Makes a fresh temporary folder the working directory while it lives.
class TempWorkDir
{
public:
    TempWorkDir() : previous_(QDir::currentPath()) { QDir::setCurrent(dir_.path()); }
    ~TempWorkDir() { QDir::setCurrent(previous_); }
    QString path() const { return dir_.path(); }
    QString file(const QString& name) const { return dir_.filePath(name); }
    bool isValid() const { return dir_.isValid(); }

private:
    QTemporaryDir dir_;
    QString previous_;
};

// The device simulator as a child process, listening on free ports.
class DevsimProcess
{
public:
    DevsimProcess() = default;
    ~DevsimProcess() { stop(); }
    // Starts devsim with the given arguments plus "--port 0" (unless a port
    // is given) and waits until it is ready. Addresses default to 127.0.0.1.
    bool start(const QStringList& arguments = QStringList(), int timeoutMs = 10000);
    void stop();
    // The port a device listens on (the first device by default).
    quint16 port(const QString& address = QString()) const;
    QMap<QString, quint16> ports() const { return ports_; }
    // What devsim wrote to stderr so far (its log).
    QString log();
    // Waits until the log holds the text.
    bool waitForLog(const QString& text, int timeoutMs = 5000);

private:
    QProcess process_;
    QMap<QString, quint16> ports_;
    QString firstAddress_;
    QByteArray log_;
};

// A scripted device in the test itself, for byte-exact checks of the link.
class FakeDevice : public QObject
{
    Q_OBJECT
public:
    FakeDevice();
    quint16 port() const { return server_.serverPort(); }
    bool waitForClient(int timeoutMs = 5000)
    {
        return waitFor([this] { return client_ != nullptr; }, timeoutMs);
    }
    QTcpSocket* client() const { return client_; }
    void write(const QByteArray& bytes);
    // Bytes received from the program so far.
    QByteArray received() const { return received_; }
    bool waitForReceived(int size, int timeoutMs = 5000)
    {
        return waitFor([this, size] { return received_.size() >= size; }, timeoutMs);
    }
    void clearReceived() { received_.clear(); }
    void closeClient()
    {
        if (client_)
            client_->disconnectFromHost();
    }

private:
    QTcpServer server_;
    QPointer<QTcpSocket> client_;
    QByteArray received_;
};

// A loopback port on which nothing listens (taken free, then closed again):
// a connection attempt to it is refused. 0 if no port could be had.
quint16 closedLocalPort();

// The device simulator program of this build.
inline QString devsimPath() { return QStringLiteral(DEVSIM_PATH); }
