#pragma once

#include <QByteArray>
#include <QStringList>

// The address history file: one 16-byte record per entry, the address text
// in ASCII followed by zero bytes. A record's text ends at its first zero
// byte, or after 16 bytes if it has none; a short last record is read as far
// as it goes.
namespace AddressHistory {

constexpr int kRecordSize = 16;

// Records whose text is empty or holds bytes other than printable ASCII are
// not addresses anyone typed (a damaged file): they are passed over.
QStringList decode(const QByteArray& bytes);
QByteArray encode(const QStringList& entries);

// Whole-file helpers; a file that cannot be read gives an empty list, one
// that cannot be written is left alone. Both report success.
bool load(const QString& path, QStringList& entries);
bool save(const QString& path, const QStringList& entries);

} // namespace AddressHistory
