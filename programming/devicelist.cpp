#include "programming/devicelist.h"

#include "common/addresspatterns.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QTextCodec>
#include <QXmlStreamReader>

#include <quazip/quazip.h>
#include <quazip/quazipfile.h>
#include <quazip/quazipfileinfo.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <functional>
#include <vector>

namespace DeviceList {

QStringList parseText(const QByteArray& bytes)
{
    // A byte-order mark says how the text is encoded; without one the bytes
    // are taken one character each (addresses are plain ASCII). Every byte
    // counts: a NUL or another control byte spoils its own line only.
    QString text;
    if (QTextCodec* codec = QTextCodec::codecForUtfText(bytes, nullptr))
        text = codec->toUnicode(bytes); // drops the mark
    else
        text = QString::fromLatin1(bytes.constData(), bytes.size());

    // Lines end with LF, CR LF or a lone CR.
    QStringList result;
    int start = 0;
    const int size = text.size();
    for (int i = 0; i <= size; ++i) {
        if (i < size && text.at(i) != QLatin1Char('\n') && text.at(i) != QLatin1Char('\r'))
            continue;
        QString line = text.midRef(start, i - start).toString().simplified();
        start = i + 1;
        if (line.endsWith(QLatin1Char(',')))
            line.chop(1);
        if (isIpv4Address(line))
            result << line;
    }
    return result;
}

bool isWorkbookName(const QString& fileName)
{
    return fileName.endsWith(QLatin1String("xlsx"), Qt::CaseInsensitive);
}

QString numberText(double value)
{
    if (!std::isfinite(value))
        return QString::number(value);
    if (value == 0.0)
        value = 0.0; // no "-0"
    // Shortest text that reads back as the same double, in fixed notation.
    char buffer[400];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value,
                                      std::chars_format::fixed);
    if (result.ec != std::errc())
        return QString::number(value, 'f', 0);
    return QString::fromLatin1(buffer, int(result.ptr - buffer));
}

QString columnName(int column)
{
    QString name;
    while (column > 0) {
        const int rest = (column - 1) % 26;
        name.prepend(QLatin1Char(char('A' + rest)));
        column = (column - 1) / 26;
    }
    return name;
}

namespace {

// "B12" -> row 11, column 1 (both from 0). False for anything else,
// including places beyond the largest sheet.
bool parseCellRef(const QStringRef& ref, int* row, int* column)
{
    int i = 0;
    int c = 0;
    for (; i < ref.size(); ++i) {
        const ushort ch = ref.at(i).unicode();
        const int letter = ch >= 'A' && ch <= 'Z' ? ch - 'A' : ch >= 'a' && ch <= 'z' ? ch - 'a' : -1;
        if (letter < 0)
            break;
        c = c * 26 + letter + 1;
        if (c > kMaxColumns)
            return false;
    }
    if (c == 0 || i == ref.size() || i + 7 < ref.size())
        return false;
    int r = 0;
    for (; i < ref.size(); ++i) {
        const ushort ch = ref.at(i).unicode();
        if (ch < '0' || ch > '9')
            return false;
        r = r * 10 + (ch - '0');
    }
    if (r < 1 || r > kMaxRows)
        return false;
    *row = r - 1;
    *column = c - 1;
    return true;
}

// Folder of a part name: "xl/workbook.xml" -> "xl".
QString folderOf(const QString& part)
{
    const int slash = part.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? QString() : part.left(slash);
}

// Resolves a relationship target against the folder of its source part;
// a target starting with '/' is taken from the package root.
QString resolvePart(const QString& folder, const QString& target)
{
    QStringList parts;
    if (!target.startsWith(QLatin1Char('/')))
        parts = folder.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (const QString& part : target.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (part == QLatin1String("..")) {
            if (!parts.isEmpty())
                parts.removeLast();
        } else if (part != QLatin1String(".")) {
            parts << part;
        }
    }
    return parts.join(QLatin1Char('/'));
}

// Part names are compared without case and with either slash.
QString partKey(QString name)
{
    name.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (name.startsWith(QLatin1Char('/')))
        name.remove(0, 1);
    return name.toLower();
}

// Called for every token of a part; false stops reading early.
using TokenHandler = std::function<bool(QXmlStreamReader&)>;

// The workbook's zip archive. Parts are streamed through the XML reader a
// block at a time; nothing is inflated beyond the part limit, whatever the
// archive claims.
class Archive
{
public:
    explicit Archive(QIODevice* device) : zip_(device) {}

    bool open(QString* error)
    {
        if (!zip_.open(QuaZip::mdUnzip)) {
            *error = QStringLiteral("not a zip archive");
            return false;
        }
        int count = 0;
        for (bool more = zip_.goToFirstFile(); more; more = zip_.goToNextFile()) {
            if (++count > kMaxEntries) {
                *error = QStringLiteral("the archive has more than %1 entries").arg(kMaxEntries);
                return false;
            }
            const QString name = zip_.getCurrentFileName();
            entries_.insert(partKey(name), name);
        }
        if (zip_.getZipError() != UNZ_OK || count == 0) {
            *error = QStringLiteral("damaged zip directory");
            return false;
        }
        return true;
    }

    bool contains(const QString& part) const { return entries_.contains(partKey(part)); }

    // Streams one part through `handle`. False with an error text when the
    // part is missing, too large, damaged or not well-formed XML.
    bool stream(const QString& part, const TokenHandler& handle, QString* error)
    {
        auto fail = [&](const QString& why) {
            *error = part + QStringLiteral(": ") + why;
            return false;
        };
        const QString name = entries_.value(partKey(part));
        if (name.isEmpty() || !zip_.setCurrentFile(name, QuaZip::csSensitive))
            return fail(QStringLiteral("missing"));
        QuaZipFileInfo64 info;
        if (!zip_.getCurrentFileInfo(&info))
            return fail(QStringLiteral("damaged entry"));
        if (info.uncompressedSize > quint64(kMaxPartBytes))
            return fail(QStringLiteral("claims %1 bytes, more than %2")
                            .arg(info.uncompressedSize)
                            .arg(kMaxPartBytes));
        if (info.flags & 1u)
            return fail(QStringLiteral("encrypted"));
        QuaZipFile file(&zip_);
        if (!file.open(QIODevice::ReadOnly))
            return fail(QStringLiteral("cannot be unpacked"));

        QXmlStreamReader xml;
        char buffer[16384];
        qint64 total = 0;
        bool more = true;
        int depth = 0;
        for (;;) {
            const QXmlStreamReader::TokenType token = xml.readNext();
            if (token == QXmlStreamReader::Invalid) {
                if (xml.error() != QXmlStreamReader::PrematureEndOfDocumentError || !more)
                    return fail(xml.errorString());
                const qint64 got = file.read(buffer, sizeof buffer);
                if (got < 0)
                    return fail(QStringLiteral("damaged data"));
                more = got > 0;
                total += got;
                if (total > kMaxPartBytes)
                    return fail(QStringLiteral("more than %1 bytes").arg(kMaxPartBytes));
                xml.addData(QByteArray(buffer, int(got)));
                continue;
            }
            if (token == QXmlStreamReader::DTD)
                return fail(QStringLiteral("declares a document type"));
            if (token == QXmlStreamReader::StartElement && ++depth > kMaxDepth)
                return fail(QStringLiteral("nested deeper than %1").arg(kMaxDepth));
            if (!handle(xml))
                return true; // the reader has what it needs
            if (token == QXmlStreamReader::EndElement && --depth == 0)
                break; // the root element is complete
        }
        // The rest of the part is read so that its checksum is verified.
        for (;;) {
            const qint64 got = file.read(buffer, sizeof buffer);
            if (got < 0)
                return fail(QStringLiteral("damaged data"));
            total += got;
            if (got == 0)
                break;
            if (total > kMaxPartBytes)
                return fail(QStringLiteral("more than %1 bytes").arg(kMaxPartBytes));
        }
        file.close();
        if (file.getZipError() != UNZ_OK)
            return fail(QStringLiteral("checksum error"));
        return true;
    }

private:
    QuaZip zip_;
    QHash<QString, QString> entries_; // part key -> entry name
};

// One relationship of a part.
struct Relationship
{
    QString type; // last segment of the type URI, e.g. "worksheet"
    QString part; // resolved part name; empty for an external target
};

// The relationships of a part; an empty source names the package itself.
bool readRelationships(Archive& archive, const QString& source, QHash<QString, Relationship>* out,
                       QString* error)
{
    const QString folder = folderOf(source);
    const QString relsPart = (folder.isEmpty() ? QString() : folder + QLatin1Char('/')) +
                             QStringLiteral("_rels/") +
                             source.mid(source.lastIndexOf(QLatin1Char('/')) + 1) +
                             QStringLiteral(".rels");
    if (!archive.contains(relsPart))
        return true; // no relationships
    return archive.stream(
        relsPart,
        [&](QXmlStreamReader& xml) {
            if (xml.isStartElement() && xml.name() == QLatin1String("Relationship")) {
                const QXmlStreamAttributes a = xml.attributes();
                Relationship rel;
                const QString type = a.value(QLatin1String("Type")).toString();
                rel.type = type.mid(type.lastIndexOf(QLatin1Char('/')) + 1);
                if (a.value(QLatin1String("TargetMode")) != QLatin1String("External"))
                    rel.part = resolvePart(folder, a.value(QLatin1String("Target")).toString());
                out->insert(a.value(QLatin1String("Id")).toString(), rel);
            }
            return true;
        },
        error);
}

// Appends the text of <t> elements outside phonetic runs (<rPh>) of a
// string item (<si> or <is>); `depth` counts open <rPh> elements.
void collectText(QXmlStreamReader& xml, bool* inText, int* phonetic, QString* text)
{
    if (xml.isStartElement()) {
        if (xml.name() == QLatin1String("rPh"))
            ++*phonetic;
        else if (xml.name() == QLatin1String("t") && *phonetic == 0)
            *inText = true;
    } else if (xml.isEndElement()) {
        if (xml.name() == QLatin1String("rPh"))
            --*phonetic;
        else if (xml.name() == QLatin1String("t"))
            *inText = false;
    } else if (xml.isCharacters() && *inText) {
        *text += xml.text();
    }
}

// A cell of the first used column as read from the sheet.
struct ColumnCell
{
    int row = 0;
    int sharedIndex = -1; // >= 0: the text is that shared string
    QString text;
};

// Reads a worksheet: the used range and the cells of its first column.
class SheetReader
{
public:
    bool read(Archive& archive, const QString& part, QString* error)
    {
        const bool ok = archive.stream(
            part, [this](QXmlStreamReader& xml) { return token(xml); }, error);
        if (ok && !error_.isEmpty()) {
            *error = part + QStringLiteral(": ") + error_;
            return false;
        }
        return ok;
    }

    bool any = false;
    int top = 0, bottom = 0, left = 0, right = 0; // from 0
    std::vector<ColumnCell> column;                // cells of column `left`

private:
    bool token(QXmlStreamReader& xml)
    {
        if (xml.isStartElement()) {
            const QStringRef name = xml.name();
            if (name == QLatin1String("sheetData")) {
                inData_ = true;
            } else if (!inData_) {
                return true;
            } else if (name == QLatin1String("row")) {
                bool ok = false;
                const int r = xml.attributes().value(QLatin1String("r")).toInt(&ok);
                if (ok && (r < 1 || r > kMaxRows))
                    return stop(QStringLiteral("row %1 lies outside the sheet").arg(r));
                row_ = ok ? r - 1 : row_ + 1;
                if (row_ >= kMaxRows)
                    return stop(QStringLiteral("more than %1 rows").arg(kMaxRows));
                col_ = -1;
            } else if (name == QLatin1String("c")) {
                const QXmlStreamAttributes a = xml.attributes();
                const QStringRef ref = a.value(QLatin1String("r"));
                if (!ref.isEmpty()) {
                    if (!parseCellRef(ref, &row_, &col_))
                        return stop(QStringLiteral("bad cell reference ") + ref.toString());
                } else if (++col_ >= kMaxColumns) {
                    return stop(QStringLiteral("more than %1 columns").arg(kMaxColumns));
                }
                row_ = std::max(row_, 0);
                const QStringRef t = a.value(QLatin1String("t"));
                type_ = t.isEmpty() || t == QLatin1String("n") ? Type::Number
                        : t == QLatin1String("s")               ? Type::Shared
                        : t == QLatin1String("inlineStr")       ? Type::InlineString
                        : t == QLatin1String("b")               ? Type::Boolean
                        : t == QLatin1String("e")               ? Type::Error
                                                                : Type::Text;
                inCell_ = true;
                hasValue_ = hasInline_ = inValue_ = inText_ = false;
                phonetic_ = 0;
                value_.clear();
                inline_.clear();
            } else if (inCell_ && name == QLatin1String("v")) {
                inValue_ = true;
                hasValue_ = true;
            } else if (inCell_ && name == QLatin1String("is")) {
                hasInline_ = true;
                inInline_ = true;
            } else if (inInline_) {
                collectText(xml, &inText_, &phonetic_, &inline_);
            }
        } else if (xml.isEndElement()) {
            const QStringRef name = xml.name();
            if (name == QLatin1String("sheetData"))
                inData_ = false;
            else if (inCell_ && name == QLatin1String("c"))
                return endCell();
            else if (name == QLatin1String("v"))
                inValue_ = false;
            else if (name == QLatin1String("is"))
                inInline_ = false;
            else if (inInline_)
                collectText(xml, &inText_, &phonetic_, &inline_);
        } else if (xml.isCharacters()) {
            if (inValue_)
                value_ += xml.text();
            else if (inInline_)
                collectText(xml, &inText_, &phonetic_, &inline_);
        }
        return true;
    }

    bool endCell()
    {
        inCell_ = inValue_ = inInline_ = false;
        const bool inlineText = type_ == Type::InlineString && hasInline_;
        if (!inlineText && (!hasValue_ || value_.isEmpty() || type_ == Type::Error))
            return true; // no value: an empty cell or an error
        ColumnCell cell;
        cell.row = row_;
        if (type_ == Type::Shared) {
            bool ok = false;
            cell.sharedIndex = QStringRef(&value_).trimmed().toInt(&ok);
            if (!ok || cell.sharedIndex < 0 || cell.sharedIndex >= kMaxSharedStrings)
                return stop(QStringLiteral("bad shared string index ") + value_);
        }

        if (!any) {
            any = true;
            top = bottom = row_;
            left = right = col_;
        }
        top = std::min(top, row_);
        bottom = std::max(bottom, row_);
        right = std::max(right, col_);
        if (col_ > left)
            return true; // only the first column's texts are kept
        if (col_ < left) {
            left = col_;
            column.clear();
        }
        if (inlineText) {
            cell.text = inline_;
        } else if (type_ == Type::Boolean) {
            const QStringRef v = QStringRef(&value_).trimmed();
            cell.text = v == QLatin1String("1") || v == QLatin1String("true") ? QStringLiteral("TRUE")
                        : v == QLatin1String("0") || v == QLatin1String("false") ? QStringLiteral("FALSE")
                                                                                  : v.toString();
        } else if (type_ == Type::Number) {
            bool ok = false;
            const double number = QStringRef(&value_).trimmed().toDouble(&ok);
            cell.text = ok ? numberText(number) : value_;
        } else if (type_ != Type::Shared) {
            cell.text = value_; // formula text, date text, another type's value
        }
        column.push_back(std::move(cell));
        return true;
    }

    bool stop(const QString& why)
    {
        error_ = why;
        return false;
    }

    QString error_;
    bool inData_ = false;
    bool inCell_ = false, inValue_ = false, inInline_ = false, inText_ = false;
    bool hasValue_ = false, hasInline_ = false;
    int phonetic_ = 0;
    int row_ = -1, col_ = -1;
    // The cell's t attribute; Text: "str", "d" and anything unknown.
    enum class Type { Number, Shared, InlineString, Boolean, Error, Text } type_ = Type::Number;
    QString value_, inline_;
};

// Reads the shared strings with the given indices (sorted, unique) into
// `texts`, stopping after the highest one.
bool readSharedStrings(Archive& archive, const QString& part, const std::vector<int>& wanted,
                       QHash<int, QString>* texts, QString* error)
{
    int index = 0;
    auto next = wanted.cbegin();
    bool inItem = false, inText = false;
    int phonetic = 0;
    QString text;
    const bool ok = archive.stream(
        part,
        [&](QXmlStreamReader& xml) {
            if (xml.isStartElement() && xml.name() == QLatin1String("si")) {
                inItem = true;
                text.clear();
                phonetic = 0;
                inText = false;
            } else if (xml.isEndElement() && xml.name() == QLatin1String("si")) {
                inItem = false;
                if (next != wanted.cend() && *next == index) {
                    texts->insert(index, text);
                    ++next;
                }
                ++index;
                return next != wanted.cend();
            } else if (inItem && next != wanted.cend() && *next == index) {
                collectText(xml, &inText, &phonetic, &text);
            }
            return true;
        },
        error);
    if (ok && next != wanted.cend()) {
        *error = part + QStringLiteral(": a cell refers to shared string %1 of %2").arg(*next).arg(index);
        return false;
    }
    return ok;
}

struct WorkbookInfo
{
    int activeTab = 0;
    QStringList sheetIds; // relationship ids in tab order
    bool strict = false;
};

bool readWorkbookPart(Archive& archive, const QString& part, WorkbookInfo* info, QString* error)
{
    bool views = true; // only the first workbook view counts
    bool root = true;
    return archive.stream(
        part,
        [&](QXmlStreamReader& xml) {
            if (xml.isStartElement()) {
                const QStringRef name = xml.name();
                if (root) {
                    root = false;
                    info->strict = xml.namespaceUri() ==
                                   QLatin1String("http://purl.oclc.org/ooxml/spreadsheetml/main");
                    if (info->strict || name != QLatin1String("workbook"))
                        return false;
                } else if (name == QLatin1String("workbookView") && views) {
                    views = false;
                    bool ok = false;
                    const int tab = xml.attributes().value(QLatin1String("activeTab")).toInt(&ok);
                    info->activeTab = ok ? tab : 0;
                } else if (name == QLatin1String("sheet")) {
                    // r:id, whatever the prefix of the relationships namespace
                    QString id;
                    for (const QXmlStreamAttribute& a : xml.attributes()) {
                        if (a.name() == QLatin1String("id") && !a.namespaceUri().isEmpty())
                            id = a.value().toString();
                    }
                    info->sheetIds << id;
                }
            } else if (xml.isEndElement() && xml.name() == QLatin1String("sheets")) {
                return false; // defined names and the rest are not needed
            }
            return true;
        },
        error);
}

SheetColumn fail(const QString& why)
{
    SheetColumn out;
    out.error = why;
    return out;
}

} // namespace

SheetColumn readWorkbook(const QString& path)
{
    // open() on a pipe or a device would block; only regular files are read.
    if (!QFileInfo(path).isFile())
        return fail(QStringLiteral("not a regular file"));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return fail(file.errorString());
    return readWorkbook(&file);
}

SheetColumn readWorkbook(QIODevice* device)
{
    Archive archive(device);
    QString error;
    if (!archive.open(&error))
        return fail(error);

    // The package names its workbook part; "xl/workbook.xml" by default.
    QHash<QString, Relationship> rels;
    if (!readRelationships(archive, QString(), &rels, &error))
        return fail(error);
    QString workbookPart = QStringLiteral("xl/workbook.xml");
    for (const Relationship& rel : qAsConst(rels)) {
        if (rel.type == QLatin1String("officeDocument") && !rel.part.isEmpty())
            workbookPart = rel.part;
    }
    WorkbookInfo book;
    if (!readWorkbookPart(archive, workbookPart, &book, &error))
        return fail(error);
    if (book.strict)
        return fail(QStringLiteral("Strict Open XML workbooks are not read"));
    if (book.sheetIds.isEmpty())
        return fail(QStringLiteral("the workbook has no sheet"));
    rels.clear();
    if (!readRelationships(archive, workbookPart, &rels, &error))
        return fail(error);

    const int active = book.activeTab >= 0 && book.activeTab < book.sheetIds.size() ? book.activeTab : 0;
    const QString sheetPart = rels.value(book.sheetIds.at(active)).part;
    if (sheetPart.isEmpty())
        return fail(QStringLiteral("the active sheet cannot be found"));
    SheetReader sheet;
    if (!sheet.read(archive, sheetPart, &error))
        return fail(error);

    // Cells may come out of order or twice: the last one at a place holds.
    std::stable_sort(sheet.column.begin(), sheet.column.end(),
                     [](const ColumnCell& a, const ColumnCell& b) { return a.row < b.row; });
    std::vector<int> wanted;
    for (std::size_t i = 0; i < sheet.column.size(); ++i) {
        if (i + 1 < sheet.column.size() && sheet.column[i + 1].row == sheet.column[i].row)
            sheet.column[i].row = -1; // overwritten
        else if (sheet.column[i].sharedIndex >= 0)
            wanted.push_back(sheet.column[i].sharedIndex);
    }
    std::sort(wanted.begin(), wanted.end());
    wanted.erase(std::unique(wanted.begin(), wanted.end()), wanted.end());
    QHash<int, QString> shared;
    if (!wanted.empty()) {
        QString stringsPart;
        for (const Relationship& rel : qAsConst(rels)) {
            if (rel.type == QLatin1String("sharedStrings"))
                stringsPart = rel.part;
        }
        if (stringsPart.isEmpty())
            return fail(QStringLiteral("shared strings are used but missing"));
        if (!readSharedStrings(archive, stringsPart, wanted, &shared, &error))
            return fail(error);
    }

    SheetColumn out;
    out.ok = true;
    if (!sheet.any)
        return out; // an empty sheet: nothing to import
    out.firstRow = sheet.top + 1;
    out.lastRow = sheet.bottom + 1;
    out.firstColumn = sheet.left + 1;
    const QString topLeft = columnName(sheet.left + 1) + QString::number(sheet.top + 1);
    out.usedRange = sheet.top == sheet.bottom && sheet.left == sheet.right
                        ? topLeft
                        : topLeft + QLatin1Char(':') + columnName(sheet.right + 1) +
                              QString::number(sheet.bottom + 1);
    if (out.usedRange == QLatin1String("A1"))
        return out;
    for (const ColumnCell& cell : sheet.column) {
        if (cell.row >= 0)
            out.cells << (cell.sharedIndex >= 0 ? shared.value(cell.sharedIndex) : cell.text);
    }
    return out;
}

} // namespace DeviceList
