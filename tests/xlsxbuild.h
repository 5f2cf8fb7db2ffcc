#pragma once
// Builds .xlsx workbooks part by part, so any detail met in real files can be written.
#include <QBuffer>

#include <quazip/quazipfile.h>

namespace Xlsx {

struct Part
{
    QString name;
    QByteArray data;
    bool stored = false; // without compression
};
using Parts = QList<Part>;

inline QByteArray zipBytes(const Parts& parts, bool zip64 = false)
{
    QBuffer buffer;
    QuaZip zip(&buffer);
    zip.setZip64Enabled(zip64);
    bool ok = zip.open(QuaZip::mdCreate);
    for (const Part& part : parts) {
        QuaZipFile file(&zip);
        const int method = part.stored ? 0 : Z_DEFLATED, level = part.stored ? 0 : Z_DEFAULT_COMPRESSION;
        ok = ok && file.open(QIODevice::WriteOnly, QuaZipNewInfo(part.name), nullptr, 0, method, level) &&
             file.write(part.data) == part.data.size();
        file.close();
        ok = ok && file.getZipError() == ZIP_OK;
    }
    zip.close();
    return ok && zip.getZipError() == ZIP_OK ? buffer.data() : QByteArray();
}

inline bool writeZip(const QString& path, const Parts& parts, bool zip64 = false)
{
    QFile file(path);
    const QByteArray bytes = zipBytes(parts, zip64);
    return !bytes.isEmpty() && file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

// <c r="A1" t="s"><v>0</v></c>; an empty type leaves t out.
inline QString cell(const QString& ref, const QString& type, const QString& value)
{
    const QString t = type.isEmpty() ? QString() : QStringLiteral(" t=\"%1\"").arg(type);
    return QStringLiteral("<c r=\"%1\"%2><v>%3</v></c>").arg(ref, t, value);
}

// One worksheet per <sheetData> content, shared <si> items, workbook XML around <sheets>.
inline Parts book(const QStringList& sheetData, const QString& sharedItems = QString(),
                  const QString& beforeSheets = QString(), const QString& afterSheets = QString())
{
    const QString ns = QStringLiteral("http://schemas.openxmlformats.org/");
    const QString main = ns + "spreadsheetml/2006/main", rel = ns + "officeDocument/2006/relationships";
    const QString rels = "<Relationships xmlns=\"" + ns + "package/2006/relationships\">%1</Relationships>";
    const QString relation = QStringLiteral("<Relationship Id=\"rId%1\" Type=\"%2/%3\" Target=\"%4\"/>");
    QString sheets, links;
    Parts parts{{"_rels/.rels", rels.arg(relation.arg("1", rel, "officeDocument", "xl/workbook.xml")).toUtf8()}, {}, {}};
    for (int i = 1; i <= sheetData.size(); ++i) {
        const QString n = QString::number(i);
        sheets += QStringLiteral("<sheet name=\"S%1\" sheetId=\"%1\" r:id=\"rId%1\"/>").arg(i);
        links += relation.arg(n, rel, "worksheet", "worksheets/sheet" + n + ".xml");
        parts << Part{"xl/worksheets/sheet" + n + ".xml",
                      QStringLiteral("<worksheet xmlns=\"%1\"><sheetData>%2</sheetData></worksheet>")
                          .arg(main, sheetData.at(i - 1)).toUtf8()};
    }
    parts[1] = {"xl/workbook.xml", QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<workbook xmlns=\"%1\" "
                                                  "xmlns:r=\"%2\">%3<sheets>%4</sheets>%5</workbook>")
                                       .arg(main, rel, beforeSheets, sheets, afterSheets).toUtf8()};
    links += relation.arg("S", rel, "sharedStrings", "sharedStrings.xml");
    parts[2] = {"xl/_rels/workbook.xml.rels", rels.arg(links).toUtf8()};
    return parts << Part{"xl/sharedStrings.xml", QStringLiteral("<sst xmlns=\"%1\">%2</sst>").arg(main, sharedItems).toUtf8()};
}

inline void edit(Parts& parts, const QString& name, const QString& from, const QString& to)
{
    for (Part& part : parts)
        if (part.name == name)
            part.data.replace(from.toUtf8(), to.toUtf8());
}

} // namespace Xlsx
