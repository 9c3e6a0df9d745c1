#pragma once
// Readers of the two record files the firmware burn sends: Motorola S-record programs, converted
// to the bootstrap loader's B-record lines, and B-record files such as the register file "init.B".
//
// B-record line: 8 hexadecimal digits of address, 2 of byte count, then count x 2 digits of data;
// no separators, no checksum. A count of 00 is an execute record (start the code at the address).
//
// Both readers take a file's bytes as characters one for one (Latin-1) and split it into lines at
// CR LF, or at LF when the file holds no CR LF. A failure is shown in one message box (caption
// "Error opening file!") and the reader returns a list of one empty text, keeping nothing.

#include <QString>
#include <QStringList>

namespace korvel {

class Prompter;

// The S1, S2 and S3 data records of an S-record file as B-record lines, in file order; the
// address is widened to 8 digits, the count is the number of data bytes, the checksum is dropped
// unverified. Header, count and start-address records are skipped, as are lines of any other kind.
// Fails on a file that cannot be read or is not a regular file (a device, a pipe, a folder), a data
// record whose byte count is too small for its address,
// and a file without any data record (an empty file included).
QStringList ReadSRecordFile(const QString &fileName, Prompter &prompter);

// The 1-based number of the first S-record line (of any type) whose byte count or checksum is
// wrong, or that holds anything but pairs of hexadecimal digits after its type; 0 when every one
// is right. Lines are split as ReadSRecordFile splits them; blanks at a line's end are ignored. A
// file that cannot be read gives 0, without a message: the reader reports it when it is read.
qint64 FirstBadSRecordLine(const QString &fileName);

// The sendable lines of a B-record file, unchanged (comments still on): lines whose first 8
// characters are hexadecimal and whose count is not "00". Execute records and lines that are not
// records are dropped; a file with none left gives an empty list, without a message.
// Fails on a file that cannot be read or is not a regular file, and on an empty file.
QStringList ReadBRecordFile(const QString &fileName, Prompter &prompter);

// Removes each line's comment in place: everything from its first blank, then from its first tab.
void TrimRecordLines(QStringList &lines);

} // namespace korvel
