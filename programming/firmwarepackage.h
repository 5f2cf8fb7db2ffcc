#pragma once

#include <QFile>
#include <QString>
#include <QtGlobal>

// Reader of the firmware package format. A programming file is either a
// plain image, sent byte for byte, or a package: the image behind an 8-byte
// header, optionally protected by a CRC-16/MODBUS trailer and optionally
// stored shifted by one with a length prefix:
//
//   0  2  magic 0x4D46, little-endian (bytes 0x46 0x4D)
//   2  2  not examined
//   4  4  flags, little-endian: bit 0 CRC trailer, bit 1 shifted payload
//   8  P  payload (P = L - 8 - 2 with the trailer, else L - 8)
//   L-2 2 with bit 0: CRC-16/MODBUS of the payload, little-endian
//
// A shifted payload holds a 4-byte little-endian count N and then N image
// bytes, every byte of both stored plus one (modulo 256).
//
// The header is checked on construction. unpack() writes the bare image to
// the temporary image file "firmware/tmp.bin" beside the program. Files and
// the CRC are handled in blocks of 4096 bytes; the image is never held in
// memory as a whole.
class FirmwarePackage
{
public:
    enum Status {
        Valid = 0,        // a package with a sound header (and CRC)
        CannotOpen = 1,   // the file cannot be opened
        TooShort = 3,     // shorter than the header
        NoMagic = 4,      // does not start with the package magic
        BadCrc = 5,       // trailer announced but missing or not matching
        BadLength = 6,    // shifted payload whose count runs past the payload
    };

    // What unpack() did.
    enum class Result {
        Unpacked,    // the image is in tempImagePath()
        NotPackage,  // a plain image (or unreadable): the file goes as it is
        Damaged,     // carries the magic but fails its checks: send nothing
        Empty,       // a sound package without any image bytes: send nothing
        WriteFailed, // the temporary image could not be written
    };

    static constexpr int kHeaderSize = 8;
    static constexpr int kBlockSize = 4096;
    static constexpr quint16 kMagic = 0x4D46;
    // Largest programming file taken (plain image or package): 64 MiB, far
    // beyond the devices' program memory; larger files are refused before
    // anything reads them in the GUI thread.
    static constexpr qint64 kMaxFileBytes = 64 * 1024 * 1024;

    explicit FirmwarePackage(const QString& path);
    ~FirmwarePackage();
    FirmwarePackage(const FirmwarePackage&) = delete;
    FirmwarePackage& operator=(const FirmwarePackage&) = delete;

    int packageStatus() const { return status_; }
    // True when the file starts with the package magic, sound or not.
    bool hasMagic() const { return status_ == Valid || status_ == BadCrc || status_ == BadLength; }
    quint32 flags() const { return flags_; }
    qint64 fileSize() const { return size_; }
    // Payload size P (0 when the header is not sound).
    qint64 payloadSize() const;

    // Writes the image to the temporary image; true when it was written.
    bool unpack() { return unpackImage() == Result::Unpacked; }
    // Writes the image to `target` (the temporary image by default).
    Result unpackImage(const QString& target = QString());

    // A fresh, unique name for the image of one run in the temporary
    // image's folder ("tmp-XXXXXX.bin"; the file is created empty, so no
    // other run can take the name). Empty when the folder cannot be used.
    // Whoever asked for it removes it when the run no longer needs it.
    static QString newRunImagePath();
    // Prepares the image one run sends from the chosen file: a package is
    // unpacked into an image of the run's own (newRunImagePath), a plain
    // file goes as it is. *image is what to send; *owned is true when it is
    // the run's own image, which the run removes when it no longer needs it.
    static Result prepareRunImage(const QString& path, QString* image, bool* owned);

    // The temporary image: <base>/firmware/tmp.bin, where the base is the
    // program's directory unless a test has pointed it elsewhere.
    static QString tempImagePath();
    static QString tempImageDir();
    // Seam: an empty text restores the program's directory.
    static void setBaseDir(const QString& dir);

    // CRC-16/MODBUS of `length` bytes of `file` from its current position,
    // read in blocks; false when the file ends early.
    static bool crcOfRange(QFile& file, qint64 length, quint16* crc);

private:
    void checkHeader();

    QFile input_;
    int status_ = CannotOpen;
    quint32 flags_ = 0;
    qint64 size_ = 0;
};
