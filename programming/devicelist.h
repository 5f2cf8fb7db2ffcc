#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QtGlobal>

class QIODevice;

// Readers of the device lists the batch dialog imports: plain text or CSV
// with one address per line, and spreadsheet workbooks (.xlsx) whose first
// used column holds the addresses. The readers return candidates; the dialog
// applies its own add rule (address pattern, no duplicates).
namespace DeviceList {

// The lines of a text or CSV list that are IPv4 addresses, in file order:
// each line has its white space simplified and one trailing ',' removed,
// and must then match the address pattern as a whole. Lines with more than
// one field are dropped. A byte-order mark (UTF-8, UTF-16) is honoured.
// Lines end with LF, CR LF or a lone CR; a NUL or another control byte
// spoils only the line it is in.
QStringList parseText(const QByteArray& bytes);

// True when the name is read as a workbook (it ends in "xlsx", in any case).
bool isWorkbookName(const QString& fileName);

// What a workbook read found.
struct SheetColumn
{
    bool ok = false;     // false: the file could not be read as a workbook
    QString error;       // why not (for logs; the operator sees no box)
    QString usedRange;   // the active sheet's used range, e.g. "B2:C5" or "A1"
    int firstRow = 0;    // 1-based, as in the range text
    int lastRow = 0;
    int firstColumn = 0; // 1-based
    // The cells of the first column of the used range that hold a value,
    // from the first to the last row, as text (numbers in plain digits).
    // Empty when the used range is the single cell "A1".
    QStringList cells;
};

// What a workbook may hold before it is refused as damaged or hostile.
constexpr qint64 kMaxPartBytes = 32 * 1024 * 1024; // one part, unpacked
constexpr int kMaxEntries = 10000;                 // entries of the archive
constexpr int kMaxDepth = 64;                      // XML element nesting
constexpr int kMaxSharedStrings = 4 * 1024 * 1024;
constexpr int kMaxRows = 1048576;
constexpr int kMaxColumns = 16384;
// Largest device list file (text or workbook) the dialog opens.
constexpr qint64 kMaxFileBytes = 64 * 1024 * 1024;

// Reads the active sheet of an .xlsx workbook: the sheet that the first
// workbook view's activeTab names (the first one by default), found through
// the workbook's relationships. Cell values are shared strings (without
// phonetic runs), inline strings, cached formula results, numbers and
// booleans; error cells hold no value. Parts are streamed, never read
// whole; a part larger than kMaxPartBytes (by its header or as it
// unpacks), a sheet larger than kMaxRows x kMaxColumns, a DTD or damaged
// data give ok = false. Strict Open XML workbooks are refused. Only a
// regular file is opened (open() on a pipe would block).
SheetColumn readWorkbook(const QString& path);
// The same for a workbook held by an open, random-access device.
SheetColumn readWorkbook(QIODevice* device);

// Text of a numeric cell: plain digits, shortest exact form, never an
// exponent ("10", "192.168", "100000000000000000000").
QString numberText(double value);

// "A", "B", ..., "Z", "AA", ... for a 1-based column.
QString columnName(int column);

} // namespace DeviceList
