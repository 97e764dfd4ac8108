#include "testprovider/command_line.h"

#include <QCommandLineParser>
#include <QRegularExpression>
#include <cstdio>
#include <cstdlib>

#include "testprovider/control_ids.h"
#include "testprovider/decimal_text.h"
#include "testprovider/panel_members.h"

namespace rigbench {
namespace {

[[noreturn]] void refuse(const QString& why) {
  std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", qPrintable(QCoreApplication::applicationName()), qPrintable(why),
               qPrintable(QCoreApplication::applicationName()));
  std::exit(2);
}

// "random-number" and the like, as the entry of the generated-value combo box.
QString featureEntry(const QString& option) {
  if (option == QLatin1String("none")) return QString::fromLatin1(kFeatureNone);
  if (option == QLatin1String("random-number")) return QString::fromLatin1(kFeatureRandomNumber);
  if (option == QLatin1String("random-string")) return QString::fromLatin1(kFeatureRandomString);
  if (option == QLatin1String("timestamp")) return QString::fromLatin1(kFeatureTimestamp);
  refuse(QStringLiteral("--special takes none, random-number, random-string or timestamp"));
}

}  // namespace

bool needsNoWindow(int argc, char** argv) {
  // The window takes none of the program's own options (they all begin
  // with "--"), only the toolkit's, such as -platform or -style.
  for (int i = 1; i < argc; ++i) {
    const QByteArray argument(argv[i]);
    if (argument.startsWith("--") || argument == "-h" || argument == "-v" || argument == "-?") return true;
  }
  return false;
}

CommandLine parseCommandLine(const QCoreApplication& application) {
  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral(
      "Rigbench, the operator's test provider of libzemlink.so.\n"
      "Without --auto it opens its window. With --auto it connects, registers and answers\n"
      "every request automatically without a window, printing its counts once a second,\n"
      "registering again after a lost connection, until SIGINT, SIGTERM or --seconds.\n"
      "The server's port is PORT in section [RPC] of ./zemlink.ini (default 1550)."));
  parser.addHelpOption();
  parser.addVersionOption();
  const QCommandLineOption autoMode(QStringLiteral("auto"), QStringLiteral("Run without a window."));
  const QCommandLineOption server(QStringLiteral("server"), QStringLiteral("The server's address (--auto)."),
                                  QStringLiteral("host"));
  const QCommandLineOption id(QStringLiteral("id"), QStringLiteral("Registration identifier, 1 to 1999999999 (--auto)."),
                              QStringLiteral("n"));
  const QCommandLineOption seconds(QStringLiteral("seconds"),
                                   QStringLiteral("Stop after this many seconds (--auto; default: no limit)."),
                                   QStringLiteral("s"));
  const QCommandLineOption param(QStringLiteral("param"),
                                 QStringLiteral("Send return parameter K (1 to 10) with this text; repeatable (--auto)."),
                                 QStringLiteral("k=text"));
  const QCommandLineOption echo(QStringLiteral("echo"), QStringLiteral("Answer with the items received (--auto)."));
  // --increment, --toggle and --special each send their parameter, empty
  // unless --param gives it a text.
  const QCommandLineOption increment(
      QStringLiteral("increment"),
      QStringLiteral("Send return parameter 1 as one more than the number it held, from 0 when it holds none: "
                     "1, 2, 3 ...; 1 again after 1999999999 or instead of a negative number (--auto)."));
  const QCommandLineOption toggle(
      QStringLiteral("toggle"),
      QStringLiteral("Send return parameter 2 as this text in the 1st, 3rd, 5th ... answer, and as --param 2= "
                     "gives it (empty without it) in the others (--auto)."),
      QStringLiteral("text"));
  const QCommandLineOption special(QStringLiteral("special"),
                                   QStringLiteral("Make return parameter 3 (--auto):\n"
                                                  "none: the text of --param 3= (empty without it);\n"
                                                  "random-number: a whole number from the --range;\n"
                                                  "random-string: as none (it makes no string);\n"
                                                  "timestamp: the local time, as \"Thu Dec 10 14:03:07 2026\", "
                                                  "and a line feed."),
                                   QStringLiteral("feature"));
  const QCommandLineOption range(QStringLiteral("range"),
                                 QStringLiteral("Bounds of random-number, 0 to 1999999999 each; by default "
                                                "0:1999999999, and a TO below FROM becomes 1999999999 (--auto)."),
                                 QStringLiteral("from:to"));
  const QCommandLineOption log(QStringLiteral("log"),
                               QStringLiteral("Append every message to ./ProviderOutput.log (--auto)."));
  parser.addOptions({autoMode, server, id, seconds, param, echo, increment, toggle, special, range, log});
  if (!parser.parse(application.arguments())) refuse(parser.errorText());
  parser.process(application);  // --help, --help-all and --version print and end here

  CommandLine line;
  line.headless = parser.isSet(autoMode);
  if (!line.headless) {
    if (!parser.positionalArguments().isEmpty()) refuse(QStringLiteral("unexpected argument"));
    for (const QCommandLineOption* option : {&server, &id, &seconds, &param, &echo, &increment, &toggle, &special, &range,
                                             &log}) {
      if (parser.isSet(*option)) refuse(QStringLiteral("--%1 needs --auto").arg(option->names().first()));
    }
    return line;
  }
  AutoOptions& options = line.options;
  if (!parser.isSet(server) || !parser.isSet(id)) refuse(QStringLiteral("--auto needs --server and --id"));
  options.server = parser.value(server);
  options.id = parser.value(id);
  if (parser.isSet(seconds)) {
    bool ok = false;
    options.seconds = parser.value(seconds).toDouble(&ok);
    if (!ok || options.seconds <= 0) refuse(QStringLiteral("--seconds takes a number above 0"));
  }
  static const QRegularExpression paramPattern(QStringLiteral("^([1-9]|10)=(.*)$"),
                                               QRegularExpression::DotMatchesEverythingOption);
  for (const QString& value : parser.values(param)) {
    const QRegularExpressionMatch match = paramPattern.match(value);
    if (!match.hasMatch()) refuse(QStringLiteral("--param takes K=TEXT with K from 1 to 10"));
    options.parameters.emplace_back(match.captured(1).toInt(), match.captured(2));
  }
  options.echo = parser.isSet(echo);
  options.increment = parser.isSet(increment);
  options.toggle = parser.isSet(toggle);
  options.toggleValue = parser.value(toggle);
  if (parser.isSet(special)) options.special = featureEntry(parser.value(special));
  if (parser.isSet(range)) {
    const QStringList bounds = parser.value(range).split(QLatin1Char(':'));
    if (bounds.size() != 2 || !parseDecimal(bounds[0], 0, kMaxIdentifier) || !parseDecimal(bounds[1], 0, kMaxIdentifier)) {
      refuse(QStringLiteral("--range takes FROM:TO, each from 0 to 1999999999"));
    }
    options.rangeFrom = bounds[0];
    options.rangeTo = bounds[1];
  }
  options.log = parser.isSet(log);
  return line;
}

}  // namespace rigbench
