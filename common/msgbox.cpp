#include "common/msgbox.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QPointer>
#include <QPushButton>

namespace MsgBox {
namespace {

Interceptor& interceptorRef()
{
    static Interceptor interceptor;
    return interceptor;
}

Answer answerFor(QMessageBox& box, QAbstractButton* clicked)
{
    if (!clicked)
        return Answer::Closed;
    switch (box.standardButton(clicked)) {
    case QMessageBox::Ok:
        return Answer::Ok;
    case QMessageBox::No:
        return Answer::No;
    case QMessageBox::Yes:
        return Answer::Yes;
    case QMessageBox::NoButton:
        return Answer::Sure; // the custom button
    default:
        return Answer::Closed;
    }
}

} // namespace

Interceptor setInterceptor(Interceptor interceptor)
{
    Interceptor old = std::move(interceptorRef());
    interceptorRef() = std::move(interceptor);
    return old;
}

bool intercepted()
{
    return static_cast<bool>(interceptorRef());
}

Answer exec(QMessageBox& box)
{
    if (interceptorRef()) {
        Request request;
        request.icon = box.icon();
        request.title = box.windowTitle();
        request.text = box.text();
        for (QAbstractButton* button : box.buttons())
            request.buttons << button->text();
        request.parent = box.parentWidget();
        request.box = &box;
        // Copy first: the interceptor may replace itself while it runs.
        Interceptor interceptor = interceptorRef();
        return interceptor(request);
    }
    const QPointer<QMessageBox> alive(&box);
    box.exec();
    // Whoever closed the box may also have destroyed it meanwhile.
    return alive ? answerFor(box, box.clickedButton()) : Answer::Closed;
}

QString sureText()
{
    return QCoreApplication::translate("MsgBox", "Sure");
}

Answer sure(QMessageBox::Icon icon, const QString& title, const QString& text, QWidget* parent)
{
    QMessageBox box(icon, title, text, QMessageBox::NoButton, parent);
    QPushButton* button = box.addButton(sureText(), QMessageBox::AcceptRole);
    box.setDefaultButton(button);
    return exec(box);
}

Answer standard(QMessageBox::Icon icon, const QString& title, const QString& text,
                QMessageBox::StandardButtons buttons, QMessageBox::StandardButton defaultButton,
                QWidget* parent)
{
    QMessageBox box(icon, title, text, buttons, parent);
    box.setDefaultButton(defaultButton);
    return exec(box);
}

} // namespace MsgBox
