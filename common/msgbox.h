#pragma once

#include <QMessageBox>
#include <QString>
#include <functional>

class QWidget;

// Every message box of the program goes through here. A box is built as a
// QMessageBox and run with MsgBox::exec(); tests install an interceptor that
// answers and records boxes instead of running a modal loop.
namespace MsgBox {

enum class Answer { Sure, Ok, No, Yes, Closed };

// What an interceptor sees of a box that is about to run.
struct Request
{
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QString title;
    QString text;
    QStringList buttons; // button texts, in the order they were added
    QWidget* parent = nullptr;
    QMessageBox* box = nullptr; // the box itself, valid during the call
};

using Interceptor = std::function<Answer(const Request&)>;

// Installs an interceptor (an empty function removes it). Returns the old one.
Interceptor setInterceptor(Interceptor interceptor);
bool intercepted();

// Runs a prepared box modally, or hands it to the interceptor.
Answer exec(QMessageBox& box);

// The usual box: the given icon, title and text and the single button "Sure".
Answer sure(QMessageBox::Icon icon, const QString& title, const QString& text,
            QWidget* parent = nullptr);
inline Answer information(const QString& title, const QString& text, QWidget* parent = nullptr)
{
    return sure(QMessageBox::Information, title, text, parent);
}
inline Answer warning(const QString& title, const QString& text, QWidget* parent = nullptr)
{
    return sure(QMessageBox::Warning, title, text, parent);
}

// A box with standard buttons, e.g. OK and No with No as the default.
Answer standard(QMessageBox::Icon icon, const QString& title, const QString& text,
                QMessageBox::StandardButtons buttons, QMessageBox::StandardButton defaultButton,
                QWidget* parent = nullptr);

// The text of the custom "Sure" button, translated.
QString sureText();

} // namespace MsgBox
