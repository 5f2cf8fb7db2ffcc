#pragma once
// Makes small .xlsx workbooks part by part (tests, benchmark, fuzz seeds),
// so that every detail a reader meets in real files can be written.
#include <QBuffer>
#include <QFile>
#include <QList>
#include <QString>

#include <quazip/quazip.h>
#include <quazip/quazipfile.h>
#include <quazip/quazipnewinfo.h>

namespace Xlsx {

struct Part
{
    QString name;
    QByteArray data;
    bool stored = false; // without compression
};
using Parts = QList<Part>;

inline bool writeZip(QIODevice* device, const Parts& parts, bool zip64 = false)
{
    QuaZip zip(device);
    zip.setZip64Enabled(zip64);
    if (!zip.open(QuaZip::mdCreate))
        return false;
    for (const Part& part : parts) {
        QuaZipFile file(&zip);
        if (!file.open(QIODevice::WriteOnly, QuaZipNewInfo(part.name), nullptr, 0,
                       part.stored ? 0 : Z_DEFLATED, part.stored ? 0 : Z_DEFAULT_COMPRESSION) ||
            file.write(part.data) != part.data.size())
            return false;
        file.close();
        if (file.getZipError() != ZIP_OK)
            return false;
    }
    zip.close();
    return zip.getZipError() == ZIP_OK;
}

inline QByteArray zipBytes(const Parts& parts, bool zip64 = false)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    return writeZip(&buffer, parts, zip64) ? buffer.data() : QByteArray();
}

inline bool writeZip(const QString& path, const Parts& parts, bool zip64 = false)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && writeZip(&file, parts, zip64);
}

// <c r="A1" t="s"><v>0</v></c>; an empty type leaves t out.
inline QString cell(const QString& ref, const QString& type, const QString& value)
{
    const QString t = type.isEmpty() ? QString() : QStringLiteral(" t=\"%1\"").arg(type);
    return QStringLiteral("<c r=\"%1\"%2><v>%3</v></c>").arg(ref, t, value);
}

// A workbook with one worksheet per <sheetData> content, the shared
// strings (<si> items) and extra workbook XML before and after <sheets>.
inline Parts book(const QStringList& sheetData, const QString& sharedItems = QString(),
                  const QString& beforeSheets = QString(), const QString& afterSheets = QString())
{
    const QString main = QStringLiteral("http://schemas.openxmlformats.org/spreadsheetml/2006/main");
    const QString rel = QStringLiteral("http://schemas.openxmlformats.org/officeDocument/2006/relationships");
    QString sheets, rels;
    Parts parts;
    for (int i = 1; i <= sheetData.size(); ++i) {
        sheets += QStringLiteral("<sheet name=\"S%1\" sheetId=\"%1\" r:id=\"rId%1\"/>").arg(i);
        rels += QStringLiteral("<Relationship Id=\"rId%1\" Type=\"%2/worksheet\" "
                               "Target=\"worksheets/sheet%1.xml\"/>").arg(i).arg(rel);
        parts << Part{QStringLiteral("xl/worksheets/sheet%1.xml").arg(i),
                      QStringLiteral("<worksheet xmlns=\"%1\"><sheetData>%2</sheetData></worksheet>")
                          .arg(main, sheetData.at(i - 1)).toUtf8()};
    }
    rels += QStringLiteral("<Relationship Id=\"rIdS\" Type=\"%1/sharedStrings\" "
                           "Target=\"sharedStrings.xml\"/>").arg(rel);
    const QString relsNs = QStringLiteral("http://schemas.openxmlformats.org/package/2006/relationships");
    parts.prepend(Part{QStringLiteral("xl/_rels/workbook.xml.rels"),
                       QStringLiteral("<Relationships xmlns=\"%1\">%2</Relationships>").arg(relsNs, rels).toUtf8()});
    parts.prepend(Part{QStringLiteral("xl/workbook.xml"),
                       QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<workbook xmlns=\"%1\" "
                                      "xmlns:r=\"%2\">%3<sheets>%4</sheets>%5</workbook>")
                           .arg(main, rel, beforeSheets, sheets, afterSheets).toUtf8()});
    parts.prepend(Part{QStringLiteral("_rels/.rels"),
                       QStringLiteral("<Relationships xmlns=\"%1\"><Relationship Id=\"rId1\" "
                                      "Type=\"%2/officeDocument\" Target=\"xl/workbook.xml\"/>"
                                      "</Relationships>").arg(relsNs, rel).toUtf8()});
    QString types = QStringLiteral("<Default Extension=\"rels\" ContentType=\"application/"
                                   "vnd.openxmlformats-package.relationships+xml\"/>");
    const QString type = QStringLiteral("<Override PartName=\"/xl/%1.xml\" ContentType=\"application/"
                                        "vnd.openxmlformats-officedocument.spreadsheetml.%2+xml\"/>");
    types += type.arg(QStringLiteral("workbook"), QStringLiteral("sheet.main")) +
             type.arg(QStringLiteral("sharedStrings"), QStringLiteral("sharedStrings"));
    for (int i = 1; i <= sheetData.size(); ++i)
        types += type.arg(QStringLiteral("worksheets/sheet%1").arg(i), QStringLiteral("worksheet"));
    parts.prepend(Part{QStringLiteral("[Content_Types].xml"),
                       QStringLiteral("<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/"
                                      "content-types\">%1</Types>").arg(types).toUtf8()});
    parts << Part{QStringLiteral("xl/sharedStrings.xml"),
                  QStringLiteral("<sst xmlns=\"%1\">%2</sst>").arg(main, sharedItems).toUtf8()};
    return parts;
}

// Replaces text in the named part.
inline void edit(Parts& parts, const QString& name, const QString& from, const QString& to)
{
    for (Part& part : parts) {
        if (part.name == name)
            part.data.replace(from.toUtf8(), to.toUtf8());
    }
}

} // namespace Xlsx
