#pragma once

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QString>
#include <QStringList>

// Small pieces shared by the commands of fieldmate-cli.
namespace Cli {

// Exit status: every device succeeded / some device failed / the command
// line or an input file is wrong.
enum Exit { Ok = 0, Failed = 1, Usage = 2 };

// One command: name, synopsis, one-line purpose.
struct Command
{
    const char* name;
    const char* synopsis;
    const char* summary;
    int (*run)(const QStringList& arguments);
};
const QList<Command>& commands();

// The command line of one command. The value readers record the first
// problem (and return a harmless value); usage() reports it.
class Args
{
public:
    explicit Args(const char* commandName) : name_(commandName) {}
    QCommandLineParser parser;

    // False for --help (printed) and for a wrong command line (recorded).
    bool parse(const QStringList& arguments);
    bool helpShown() const { return help_; }
    bool bad() const { return !error_.isEmpty(); }
    void fail(const QString& error);
    // One line on standard error; returns the exit status 2.
    int usage() const;

    int type(const QString& text);             // app|firmware|patch|root or 0..255
    int jobs(const QString& text);             // 1..64
    quint16 port(const QString& text);         // 1..65535
    int milliseconds(const QString& seconds, const char* option);
    QString address(const QString& text, const char* what);
    QString mac(const QString& text);
    // Value of a required option ("" and a recorded problem when missing).
    QString required(const QCommandLineOption& option);

private:
    const char* name_;
    QString error_;
    bool help_ = false;
};

void out(const QString& line);  // a result line on standard output
void err(const QString& line);  // a progress or error line on standard error
bool stderrIsTerminal();

int runDiscover(const QStringList& arguments);
int runVersion(const QStringList& arguments);
int runProgram(const QStringList& arguments);
int runBackup(const QStringList& arguments);
int runSetIp(const QStringList& arguments);
int runReboot(const QStringList& arguments);

} // namespace Cli
