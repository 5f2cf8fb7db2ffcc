#include "programming/devicelist.h"

#include "common/addresspatterns.h"

#include <QHash>
#include <QMap>
#include <QTextCodec>
#include <QXmlStreamReader>

#include <orcus/orcus_xlsx.hpp>
#include <orcus/spreadsheet/document.hpp>
#include <orcus/spreadsheet/factory.hpp>
#include <orcus/spreadsheet/sheet.hpp>
#include <orcus/spreadsheet/view.hpp>
#include <orcus/zip_archive.hpp>
#include <orcus/zip_archive_stream.hpp>

#include <ixion/address.hpp>
#include <ixion/cell_access.hpp>
#include <ixion/model_context.hpp>

#include <charconv>
#include <cmath>
#include <exception>
#include <vector>

namespace DeviceList {

QStringList parseText(const QByteArray& bytes)
{
    // A byte-order mark says how the text is encoded; without one the bytes
    // are taken one character each (addresses are plain ASCII).
    QString text;
    if (QTextCodec* codec = QTextCodec::codecForUtfText(bytes, nullptr))
        text = codec->toUnicode(bytes); // drops the mark
    else
        text = QString::fromLatin1(bytes);

    QStringList result;
    const QVector<QStringRef> lines = text.splitRef(QLatin1Char('\n'));
    for (const QStringRef& raw : lines) {
        QString line = raw.toString().simplified();
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

struct CellPos
{
    int row = 0;    // 0-based
    int column = 0; // 0-based
};

// "B12" -> row 11, column 1. False for anything else.
bool parseCellRef(const QStringRef& ref, CellPos* pos)
{
    int i = 0;
    int column = 0;
    while (i < ref.size() && ref.at(i).isLetter() && ref.at(i).toLatin1() != 0) {
        const char c = char(ref.at(i).toUpper().toLatin1());
        if (c < 'A' || c > 'Z')
            return false;
        column = column * 26 + (c - 'A' + 1);
        if (column > 16384)
            return false;
        ++i;
    }
    if (column == 0 || i == ref.size())
        return false;
    bool ok = false;
    const int row = ref.mid(i).toInt(&ok);
    if (!ok || row < 1 || row > 1048576)
        return false;
    pos->row = row - 1;
    pos->column = column - 1;
    return true;
}

QByteArray zipEntry(orcus::zip_archive& archive, const QString& name)
{
    std::vector<unsigned char> buffer;
    const QByteArray utf8 = name.toUtf8();
    if (!archive.read_file_entry(std::string_view(utf8.constData(), std::size_t(utf8.size())),
                                 buffer))
        return QByteArray();
    // The archive hands the part out with a terminating zero byte.
    while (!buffer.empty() && buffer.back() == 0)
        buffer.pop_back();
    return QByteArray(reinterpret_cast<const char*>(buffer.data()), int(buffer.size()));
}

// Resolves a relationship target against the folder of its part.
QString resolvePart(const QString& base, const QString& target)
{
    QStringList parts;
    if (!target.startsWith(QLatin1Char('/')))
        parts = base.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (const QString& part : target.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (part == QLatin1String(".."))
        {
            if (!parts.isEmpty())
                parts.removeLast();
        } else if (part != QLatin1String(".")) {
            parts << part;
        }
    }
    return parts.join(QLatin1Char('/'));
}

// Path inside the archive of the worksheet at the given position of the
// workbook's sheet list; empty when it cannot be found.
QString worksheetPart(orcus::zip_archive& archive, int position)
{
    QString relId;
    {
        QXmlStreamReader xml(zipEntry(archive, QStringLiteral("xl/workbook.xml")));
        int index = 0;
        while (!xml.atEnd() && !xml.hasError() && relId.isEmpty()) {
            xml.readNext();
            if (!xml.isStartElement() || xml.name() != QLatin1String("sheet"))
                continue;
            if (index++ != position)
                continue;
            for (const QXmlStreamAttribute& a : xml.attributes()) {
                // r:id, whatever the prefix of the relationships namespace
                if (a.name() == QLatin1String("id") && !a.namespaceUri().isEmpty())
                    relId = a.value().toString();
            }
            break;
        }
    }
    if (relId.isEmpty())
        return QString();
    QXmlStreamReader xml(zipEntry(archive, QStringLiteral("xl/_rels/workbook.xml.rels")));
    while (!xml.atEnd() && !xml.hasError()) {
        xml.readNext();
        if (xml.isStartElement() && xml.name() == QLatin1String("Relationship") &&
            xml.attributes().value(QLatin1String("Id")) == relId)
            return resolvePart(QStringLiteral("xl"),
                               xml.attributes().value(QLatin1String("Target")).toString());
    }
    return QString();
}

// The cells a worksheet stores as inline strings (t="inlineStr"), which the
// cell model does not take over. Cells without a reference follow the
// previous one, as the format allows. False when the part cannot be read.
bool readInlineStrings(const QByteArray& sheetXml, QMap<int, QMap<int, QString>>* cells)
{
    if (sheetXml.isEmpty())
        return false;
    QXmlStreamReader xml(sheetXml);
    int row = -1;
    int column = -1;
    bool inInline = false;
    bool inText = false;
    bool inPhonetic = false;
    QString text;
    CellPos pos;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement()) {
            const QStringRef name = xml.name();
            if (name == QLatin1String("row")) {
                bool ok = false;
                const int r = xml.attributes().value(QLatin1String("r")).toInt(&ok);
                row = ok && r >= 1 ? r - 1 : row + 1;
                column = -1;
            } else if (name == QLatin1String("c")) {
                const QXmlStreamAttributes attrs = xml.attributes();
                CellPos at;
                if (parseCellRef(attrs.value(QLatin1String("r")), &at)) {
                    row = at.row;
                    column = at.column;
                } else {
                    row = qMax(row, 0);
                    ++column;
                }
                inInline = attrs.value(QLatin1String("t")) == QLatin1String("inlineStr");
                pos = CellPos{row, column};
                text.clear();
            } else if (inInline && name == QLatin1String("rPh")) {
                inPhonetic = true; // reading aids are not part of the value
            } else if (inInline && !inPhonetic && name == QLatin1String("t")) {
                inText = true;
            }
        } else if (xml.isEndElement()) {
            const QStringRef name = xml.name();
            if (name == QLatin1String("t")) {
                inText = false;
            } else if (name == QLatin1String("rPh")) {
                inPhonetic = false;
            } else if (name == QLatin1String("c")) {
                if (inInline)
                    (*cells)[pos.row].insert(pos.column, text);
                inInline = false;
            }
        } else if (xml.isCharacters() && inText) {
            text += xml.text();
        }
    }
    return !xml.hasError();
}

QString cellText(const ixion::model_context& context, const ixion::abs_address_t& address,
                 bool* present)
{
    *present = true;
    const ixion::cell_access cell = context.get_cell_access(address);
    switch (cell.get_value_type()) {
    case ixion::cell_value_t::string: {
        const std::string_view s = cell.get_string_value();
        return QString::fromUtf8(s.data(), int(s.size()));
    }
    case ixion::cell_value_t::numeric:
        return numberText(cell.get_numeric_value());
    case ixion::cell_value_t::boolean:
        return cell.get_boolean_value() ? QStringLiteral("TRUE") : QStringLiteral("FALSE");
    default:
        *present = false;
        return QString();
    }
}

} // namespace

SheetColumn readWorkbook(const QString& path)
{
    SheetColumn out;
    try {
        namespace ss = orcus::spreadsheet;
        const QByteArray localPath = path.toLocal8Bit();
        const std::string file(localPath.constData(), std::size_t(localPath.size()));

        ss::document doc(ss::range_size_t{1048576, 16384});
        ss::view view(doc);
        ss::import_factory factory(doc, view);
        orcus::orcus_xlsx reader(&factory);
        reader.read_file(file);

        if (doc.get_sheet_count() == 0) {
            out.error = QStringLiteral("the workbook has no sheet");
            return out;
        }
        ss::sheet_t active = view.get_active_sheet();
        if (active < 0 || std::size_t(active) >= doc.get_sheet_count())
            active = 0;
        const ss::sheet* sheet = doc.get_sheet(active);
        if (!sheet) {
            out.error = QStringLiteral("the active sheet cannot be found");
            return out;
        }

        // Inline strings are read from the sheet itself.
        QMap<int, QMap<int, QString>> inlineCells;
        {
            orcus::zip_archive_stream_fd stream(file.c_str());
            orcus::zip_archive archive(&stream);
            archive.load();
            const QString part = worksheetPart(archive, int(active));
            if (part.isEmpty() || !readInlineStrings(zipEntry(archive, part), &inlineCells)) {
                out.error = QStringLiteral("the active sheet cannot be read");
                return out;
            }
        }

        // The used range: every cell the model holds plus the inline ones.
        bool any = false;
        int top = 0, bottom = 0, left = 0, right = 0;
        auto extend = [&](int r0, int c0, int r1, int c1) {
            if (!any) {
                top = r0, left = c0, bottom = r1, right = c1;
                any = true;
                return;
            }
            top = qMin(top, r0);
            left = qMin(left, c0);
            bottom = qMax(bottom, r1);
            right = qMax(right, c1);
        };
        const ixion::abs_range_t range = sheet->get_data_range();
        if (range.valid())
            extend(range.first.row, range.first.column, range.last.row, range.last.column);
        for (auto r = inlineCells.cbegin(); r != inlineCells.cend(); ++r) {
            for (auto c = r->cbegin(); c != r->cend(); ++c)
                extend(r.key(), c.key(), r.key(), c.key());
        }

        out.ok = true;
        if (!any)
            return out; // an empty sheet: nothing to import
        out.firstRow = top + 1;
        out.lastRow = bottom + 1;
        out.firstColumn = left + 1;
        const QString topLeft = columnName(left + 1) + QString::number(top + 1);
        out.usedRange = (top == bottom && left == right)
                            ? topLeft
                            : topLeft + QLatin1Char(':') + columnName(right + 1) +
                                  QString::number(bottom + 1);
        if (out.usedRange == QLatin1String("A1"))
            return out;

        const ixion::model_context& context = doc.get_model_context();
        for (int row = top; row <= bottom; ++row) {
            const auto inlineRow = inlineCells.constFind(row);
            if (inlineRow != inlineCells.cend() && inlineRow->contains(left)) {
                out.cells << inlineRow->value(left);
                continue;
            }
            bool present = false;
            const QString text =
                cellText(context, ixion::abs_address_t(active, row, left), &present);
            if (present)
                out.cells << text;
        }
    } catch (const std::exception& e) {
        out = SheetColumn();
        out.error = QString::fromLocal8Bit(e.what());
        if (out.error.isEmpty())
            out.error = QStringLiteral("damaged workbook");
    } catch (...) {
        out = SheetColumn();
        out.error = QStringLiteral("damaged workbook");
    }
    return out;
}

} // namespace DeviceList
