#pragma once

#include <QString>
#include <QtGlobal>

// Checks a file the operator chose before anything opens it in the GUI
// thread: open() on a pipe blocks, and a folder or a device is no file to
// read; a file that is too large would freeze the window while it is read.
namespace FileCheck {

// Empty when `path` may be opened: it is missing (the caller's own failure
// handling applies), or a regular file of at most maxBytes. Otherwise the
// translated text telling the operator why it is refused.
QString refusal(const QString& path, qint64 maxBytes);

} // namespace FileCheck
