#ifndef STARTUP_H
#define STARTUP_H

#include <QString>
#include <QStringList>

class CfgStore;
class QTranslator;

// The decisions of the start-up sequence as plain functions over a store, so
// that they can be tried without starting the program.

// "config.cfg": the configuration file read when no option names another.
QString defaultConfigFileName();
// The options that name the configuration file, in rising priority: "-c", "-config".
QStringList configFileOptions();
// "config.cfg", replaced by "-c" and then by "-config" (keys case-insensitive).
// An option without a value gives the empty name.
QString configFileName(const CfgStore &store);
// QFileInfo::baseName of the first process argument (UTF-8); empty when there is none.
QString programBaseName(int argc, const char *const *argv);
// currentDir, replaced by the entry "DataRoot" and then by the option "-d" (both
// exact keys). The value is used as it stands, neither made absolute nor checked.
QString dataRootFor(const CfgStore &store, const QString &currentDir);
// The raw "DataRoot" entry for the log, "aa" when there is none.
QString dataRootLogValue(const CfgStore &store);
// Japanese unless "lang" says English; then the program-name rule ("Oxa" plus
// one letter: 'e' English, 'j' Japanese); then "-j", else "-e", decide.
bool chooseJapanese(const CfgStore &store, const QString &programBaseName);
// Loads the embedded Japanese translation (":Oxa_ja_JP", resolved to the
// resource ":/Oxa_ja_JP.qm"); false when it cannot be loaded.
bool loadJapaneseTranslation(QTranslator &translator, const QString &appDir);
// The slice files named on the command line: the arguments after the program
// that come before the first option (the first argument beginning with "-"),
// decoded as UTF-8, in the order given. A relative name is made absolute against
// startDir, the directory the program was started in; empty arguments are left out.
QStringList sliceFileArguments(int argc, const char *const *argv, const QString &startDir);
// True when an argument after the program is exactly "--version". Checked before
// anything else: the program then prints versionLine() and ends, needing no display.
// No other argument can be mistaken for it: slice files end at the first argument
// beginning with "-", and such an argument is never an option's value.
bool versionRequested(int argc, const char *const *argv);
// "Oxa <version>" and a line feed, as "--version" prints it.
QString versionLine();
// Keeps a file-size limit (ulimit -f) from ending the process: a write past it then
// fails with "File too large", and the save reports that and keeps the old file.
void ignoreFileSizeSignal();
// Drops the lines that picture libraries print through Qt about a file they refuse or
// cannot write (libpng's errors and warnings, the image plugins' own): the program
// reports each such failure once, in its own words. Other messages go on as before.
void quietImageLibraries();
// The two start-up log lines, written through qDebug.
void logReadResult(bool readOk, const QString &fileName);
void logDataRoot(const QString &dataRoot, const QString &rawDataRoot);

#endif
