#pragma once

#include <QByteArray>
#include <QString>

// Conversions of the serial-port test page that need no widgets.
namespace SPTestFormat {

// Splits the text at every single blank (empty pieces kept: two blanks in a
// row, a leading or a trailing blank give one each) and turns every piece
// into one byte: the piece read as a hexadecimal integer, 0 when it does not
// convert, of which only the low 8 bits are kept.
QByteArray hexPiecesToBytes(const QString& text);

// Appends the CRC-16/MODBUS of the bytes, low byte first.
QByteArray withModbusCrc(const QByteArray& bytes);

// Every byte as two lower-case hexadecimal digits followed by a blank.
QString bytesToHexText(const QByteArray& bytes);

// The record's rich-text fragment for a plain-text entry: the text escaped
// (& > < " ' blank, and both line ends as <br>) behind an opening font tag in
// the given colour. No closing tag is added.
QString colouredHtml(const QString& plain, int red, int green, int blue);

} // namespace SPTestFormat
