#pragma once

// Helpers shared by the tests of the device pages: a page wired to its own
// link and device simulator, replies handed to a page directly, answered file
// dialogs and a translator that marks the texts it re-applies.
#include "comm/commtcp.h"
#include "common/dialogs.h"
#include "testutil.h"


// Hands a reply to a page the way the link does.
template <class Page> void respond(Page& page, int cmd, const QByteArray& payload)
{
    page.handleRespond(cmd, reinterpret_cast<const quint8*>(payload.constData()), payload.size());
}

// A page wired to its own link as the main window wires them.
template <class Page> struct LinkedPage
{
    using Reply = void (CommTcp::*)(int, const quint8*, int);

    DevsimProcess sim;
    CommTcp link;
    Page page;

    explicit LinkedPage(Reply reply)
    {
        QObject::connect(&page, &Page::sendCmd, &link, &CommTcp::send);
        QObject::connect(&link, reply, &page, &Page::handleRespond);
    }
    // Starts devsim with the options ("key=value") and connects.
    bool start(const QStringList& options = QStringList())
    {
        QStringList args;
        for (const QString& option : options)
            args << QStringLiteral("--set") << option;
        if (!sim.start(args))
            return false;
        link.setPort(sim.port());
        link.connectDevice(QStringLiteral("127.0.0.1"));
        return link.isConnected();
    }
    // Connects to a scripted device instead.
    bool connectTo(FakeDevice& device)
    {
        link.setPort(device.port());
        link.connectDevice(QStringLiteral("127.0.0.1"));
        return link.isConnected() && device.waitForClient();
    }
};

// Answers file dialogs with `path` (empty: Cancel) and records them.
struct FileAnswer
{
    QList<Dialogs::FileRequest> requests;
    QString path;
    Dialogs::FileInterceptor previous;

    explicit FileAnswer(const QString& answer = QString()) : path(answer)
    {
        previous = Dialogs::setFileInterceptor([this](const Dialogs::FileRequest& request) {
            requests << request;
            return path;
        });
    }
    ~FileAnswer() { Dialogs::setFileInterceptor(previous); }

    // A request as "Open|caption|filter|directory" (or "Save|...").
    QString request(int i) const
    {
        const Dialogs::FileRequest& r = requests.value(i);
        return QStringList{r.mode == Dialogs::FileMode::Open ? "Open" : "Save", r.caption, r.filter,
                           r.directory}
            .join(QLatin1Char('|'));
    }
};

// Where file dialogs start unless told otherwise.
inline QString appDir()
{
    return QCoreApplication::applicationDirPath();
}

// Wraps every text of one context in "<" and ">", to see which texts a
// language change re-applies.
class MarkingTranslator : public QTranslator
{
public:
    explicit MarkingTranslator(const char* context) : context_(context) {}
    bool isEmpty() const override { return false; }
    QString translate(const char* context, const char* source, const char*, int) const override
    {
        if (qstrcmp(context, context_) != 0)
            return QString();
        return QLatin1Char('<') + QString::fromUtf8(source) + QLatin1Char('>');
    }

private:
    const char* context_;
};
