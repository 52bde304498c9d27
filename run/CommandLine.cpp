#include "run/CommandLine.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <cmath>

#include "base/IntegerText.h"
#include "generated/QuillmarkVersion.h"
#include "parse/CallsignText.h"
#include "print/Ics309.h"
#include "select/NwsAreas.h"

namespace qm {
namespace {

// Options of Qt's application objects, taken by them, not by this program.
constexpr const char* kQtValueOptions[] = {"platform",        "platformpluginpath",
                                           "platformtheme",   "plugin",
                                           "qwindowgeometry", "qwindowicon",
                                           "qwindowtitle",    "style",
                                           "stylesheet",      "session",
                                           "display",         "geometry"};
constexpr const char* kQtFlags[] = {"reverse", "widgetcount", "nograb", "dograb", "sync"};

struct TBadValue {
  QString Text;
};

// "HOST", "HOST:PORT", "[IPv6]" or "[IPv6]:PORT".
void ReadHostAndPort(const QString& option, const QString& value, std::string& host, int& port) {
  QString h = value;
  QString p;
  if (value.startsWith(QLatin1Char('['))) {
    const int close = value.indexOf(QLatin1Char(']'));
    if (close < 0) throw TBadValue{QStringLiteral("--%1: \"%2\" lacks its \"]\"").arg(option, value)};
    h = value.mid(1, close - 1);
    const QString rest = value.mid(close + 1);
    if (!rest.isEmpty() && !rest.startsWith(QLatin1Char(':')))
      throw TBadValue{QStringLiteral("--%1: \"%2\" is not HOST:PORT").arg(option, value)};
    p = rest.mid(1);
    if (rest.isEmpty()) p.clear();
  } else if (value.count(QLatin1Char(':')) == 1) {
    h = value.section(QLatin1Char(':'), 0, 0);
    p = value.section(QLatin1Char(':'), 1);
  }
  if (h.trimmed().isEmpty() || h.contains(QLatin1Char(' ')))
    throw TBadValue{QStringLiteral("--%1: \"%2\" names no host").arg(option, value)};
  host = h.toStdString();
  port = 0;
  if (value.endsWith(QLatin1Char(':')) || !p.isEmpty()) {
    const std::optional<int> read = ReadPort(p.toStdString(), false);
    if (!read)
      throw TBadValue{QStringLiteral("--%1: the port must be %2, not \"%3\"").arg(option, kPortRule, p)};
    port = *read;
  }
}

// "DEVICE" or "DEVICE:BAUD" (a device path may hold colons of its own; only digits after the
// last one are a speed).
void ReadDeviceAndBaud(const QString& value, std::string& device, int& baud) {
  QString d = value;
  baud = 0;
  const int colon = value.lastIndexOf(QLatin1Char(':'));
  if (colon >= 0) {
    bool ok = false;
    const int speed = value.mid(colon + 1).toInt(&ok);
    if (ok) {
      if (!IsSerialSpeed(speed))
        throw TBadValue{QStringLiteral("--serial: the speed must be %1, not \"%2\"")
                            .arg(QString::fromStdString(SerialSpeedRule()), value.mid(colon + 1))};
      d = value.left(colon);
      baud = speed;
    }
  }
  if (d.isEmpty()) throw TBadValue{QStringLiteral("--serial: \"%1\" names no device").arg(value)};
  device = d.toStdString();
}

// A folder the program may create files in: one that exists and can be written, or one whose
// nearest existing parent can.
void CheckFolder(const QString& option, const QString& dir) {
  if (dir.isEmpty()) throw TBadValue{QStringLiteral("--%1 needs a folder").arg(option)};
  QFileInfo info(dir);
  if (info.exists() && !info.isDir())
    throw TBadValue{QStringLiteral("--%1: \"%2\" is a file, not a folder").arg(option, dir)};
  QString existing = QFileInfo(dir).absoluteFilePath();
  while (!QFileInfo::exists(existing)) existing = QFileInfo(existing).absolutePath();
  const QFileInfo parent(existing);
  if (!parent.isDir() || !parent.isWritable())
    throw TBadValue{QStringLiteral("--%1: \"%2\" cannot be written").arg(option, existing)};
}

}  // namespace

void TRunOptions::ApplyTo(THostSettings& settings) const {
  if (Transport) {
    settings.Transport = *Transport;
    switch (*Transport) {
      case THostSettings::htReplay:
        settings.CaptureFile = CaptureFile;
        break;
      case THostSettings::htAprsIs:
      case THostSettings::htKissTcp:
        settings.Server = Server;
        settings.Port = Port;
        break;
      case THostSettings::htKissSerial:
        settings.SerialDevice = SerialDevice;
        if (SerialBaud > 0) settings.SerialBaud = SerialBaud;
        break;
      case THostSettings::htStationProgram:
        break;
    }
  }
  if (Pace) settings.Pace = *Pace;
  if (Callsign) settings.Callsign = *Callsign;
  if (Filter) settings.Filter = *Filter;
  if (Answer) settings.AnswerMessages = true;
  if (Passcode) settings.Passcode = *Passcode;
}

void TRunOptions::ApplyTo(TDeskChoices& choices) const {
  if (Alarms) choices.AlarmKinds = *Alarms;
}

TCommandLine ParseCommandLine(const QStringList& arguments) {
  QCommandLineParser parser;
  parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
  parser.setApplicationDescription(
      QStringLiteral("Keeps the APRS text messages an operator wants and prints them a page at a time.\n"
                     "The options apply to this run only; none of them is stored."));
  const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")},
                                QStringLiteral("Shows this help and ends."));
  const QCommandLineOption version(QStringList{QStringLiteral("v"), QStringLiteral("version")},
                                   QStringLiteral("Shows the version and ends."));
  const QCommandLineOption replay(QStringLiteral("replay"),
                                  QStringLiteral("Replays a capture file; the program ends when it is over."),
                                  QStringLiteral("FILE"));
  const QCommandLineOption pace(QStringLiteral("pace"),
                                QStringLiteral("Replays N packets a second (0: as fast as they are taken)."),
                                QStringLiteral("N"));
  const QCommandLineOption aprsIs(
      QStringLiteral("aprs-is"),
      QStringLiteral("Takes packets from an APRS-IS server (port 14580 when not given)."),
      QStringLiteral("HOST[:PORT]"));
  const QCommandLineOption kiss(
      QStringLiteral("kiss"),
      QStringLiteral("Takes packets from a KISS TNC over TCP (port 8001 when not given)."),
      QStringLiteral("HOST[:PORT]"));
  const QCommandLineOption serial(QStringLiteral("serial"),
                                  QStringLiteral("Takes packets from a KISS TNC on a serial port."),
                                  QStringLiteral("DEVICE[:BAUD]"));
  const QCommandLineOption callsign(QStringLiteral("callsign"),
                                    QStringLiteral("Your callsign, for this station and the APRS-IS login."),
                                    QStringLiteral("CALL"));
  const QCommandLineOption filter(QStringLiteral("filter"),
                                  QStringLiteral("The APRS-IS server-side filter (t/m: all messages)."),
                                  QStringLiteral("TEXT"));
  const QCommandLineOption answer(
      QStringLiteral("answer"),
      QStringLiteral("Acknowledges the messages to your callsign on the source they came from (sends on\n"
                     "the air over a TNC: a licensed callsign is needed; APRS-IS needs --passcode)."));
  const QCommandLineOption passcode(
      QStringLiteral("passcode"),
      QStringLiteral("The APRS-IS passcode of your callsign, for answering there."), QStringLiteral("N"));
  const QCommandLineOption printer(QStringLiteral("printer"), QStringLiteral("Prints on this printer."),
                                   QStringLiteral("NAME"));
  const QCommandLineOption toPdf(QStringLiteral("print-to-pdf"),
                                 QStringLiteral("Writes every print job as a PDF file in DIR instead."),
                                 QStringLiteral("DIR"));
  const QCommandLineOption config(QStringLiteral("config"),
                                  QStringLiteral("Keeps Quillmark.ini and the logs in DIR."),
                                  QStringLiteral("DIR"));
  const QCommandLineOption noWindow(
      QStringLiteral("no-window"),
      QStringLiteral("Runs without a window or tray (no display needed), as a service does; SIGTERM,\n"
                     "SIGINT or SIGHUP ends it, keeping what is unprinted for the next start."));
  const QCommandLineOption web(
      QStringLiteral("web"),
      QStringLiteral("Serves the board on ADDRESS:PORT (off: no board); 127.0.0.1:8073 unless the\n"
                     "settings say otherwise."),
      QStringLiteral("ADDRESS:PORT|off"));
  const QCommandLineOption areas(
      QStringLiteral("areas"),
      QStringLiteral("Takes the NWS alerts of the checked states only for these counties and zones,\n"
                     "comma-separated (OK_C109,OK_C*,TX_Z123), instead of the stored list."),
      QStringLiteral("LIST"));
  const QCommandLineOption status(
      QStringLiteral("status"),
      QStringLiteral("Asks the copy running on this data folder how it stands and prints the board's "
                     "address; exit status 0 all well, 1 a source, the printer or the store not, 3 none "
                     "runs, 4 it holds the folder and does not answer."));
  const QCommandLineOption alarm(
      QStringLiteral("alarm"),
      QStringLiteral(
          "Sounds an alarm, again and again until it is acknowledged, for the messages of these\n"
          "kinds: own, listed, bulletin, announcement, watch, warning, advisory (none: no alarm)."),
      QStringLiteral("KIND,..."));
  const QCommandLineOption acknowledge(
      QStringLiteral("acknowledge"),
      QStringLiteral("Acknowledges the alarms of the copy running on this data folder: all of them, or\n"
                     "the one numbered N after the option (--status shows the numbers); exit status 0\n"
                     "done, 2 no such alarm, 3 none runs, 4 it holds the folder and does not answer."));
  const QCommandLineOption send(
      QStringLiteral("send"),
      QStringLiteral("Has the copy running on this data folder send TEXT (after the option, in quotes) to\n"
                     "CALL, resent until answered, and prints its number; exit status 0 sent, 2 refused\n"
                     "(the reason on standard error), 3 none runs, 4 it holds the folder and does not\n"
                     "answer."),
      QStringLiteral("CALL"));
  const QCommandLineOption cancelSend(
      QStringLiteral("cancel-send"),
      QStringLiteral("Has the copy running on this data folder stop sending its message numbered N\n"
                     "(--send printed it); exit status 0 stopped, 2 refused (no such message, or it\n"
                     "was answered or ended already), 3 none runs, 4 it holds the folder and does not\n"
                     "answer."),
      QStringLiteral("N"));
  const QCommandLineOption boardKey(
      QStringLiteral("board-key"),
      QStringLiteral("Makes a board key named NAME for another position, read-only unless --can-act, and\n"
                     "prints the address to hand over; a running desk takes it at once."),
      QStringLiteral("NAME"));
  const QCommandLineOption canAct(QStringLiteral("can-act"),
                                  QStringLiteral("With --board-key: the key may reprint and acknowledge."));
  const QCommandLineOption boardKeyRevoke(QStringLiteral("board-key-revoke"),
                                          QStringLiteral("Revokes the board key NAME; its sessions end."),
                                          QStringLiteral("NAME"));
  const QCommandLineOption boardKeys(QStringLiteral("board-keys"),
                                     QStringLiteral("Lists the board keys by name and rights."));
  const QCommandLineOption commsLog(
      QStringLiteral("ics309"),
      QStringLiteral("Writes the communications log (ICS 309) of the messages kept from FROM up to TO\n"
                     "(yyyy-mm-ddThh:mm, UTC, after the option) as PDF and CSV into the data folder\n"
                     "and prints their paths; exit status 0 done, 1 not written, 2 a bad period."));
  const QCommandLineOption printLog(QStringLiteral("print"),
                                    QStringLiteral("With --ics309: the log goes to the printer too."));
  parser.addOptions({help,           version,   replay, pace,     aprsIs,   kiss,        serial,
                     callsign,       filter,    answer, passcode, printer,  toPdf,       config,
                     noWindow,       web,       areas,  alarm,    status,   boardKey,    canAct,
                     boardKeyRevoke, boardKeys, send,   commsLog, printLog, acknowledge, cancelSend});
  for (const char* name : kQtValueOptions) {
    QCommandLineOption qt(QString::fromLatin1(name), QString(), QStringLiteral("value"));
    qt.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOption(qt);
  }
  for (const char* name : kQtFlags) {
    QCommandLineOption qt(QString::fromLatin1(name));
    qt.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOption(qt);
  }

  TCommandLine result;
  if (!parser.parse(arguments)) {
    result.Action = TCommandLine::caError;
    result.Text = parser.errorText();
    return result;
  }
  if (parser.isSet(help)) {
    result.Action = TCommandLine::caHelp;
    result.Text = parser.helpText();
    return result;
  }
  if (parser.isSet(version)) {
    result.Action = TCommandLine::caVersion;
    result.Text = QStringLiteral("Quillmark ") + QString::fromLatin1(version::ReleaseText);
    return result;
  }
  try {
    QStringList positional = parser.positionalArguments();
    if (parser.isSet(acknowledge)) {
      // The alarm's number, if one is given, follows the option.
      result.Action = TCommandLine::caAcknowledge;
      if (!positional.isEmpty()) {
        std::int32_t number = 0;
        if (!TryParseDecimal(positional.first().toStdString(), number) || number == 0)
          throw TBadValue{
              QStringLiteral("--acknowledge: \"%1\" is not an alarm's number").arg(positional.first())};
        result.AlarmNumber = QString::number(number);
        positional.removeFirst();
      }
    }
    if (parser.isSet(send)) {
      if (parser.isSet(acknowledge) || parser.isSet(commsLog) || parser.isSet(cancelSend))
        throw TBadValue{QStringLiteral("choose one of --send, --cancel-send, --acknowledge and --ics309")};
      if (positional.isEmpty()) throw TBadValue{QStringLiteral("--send CALL: the text to send follows")};
      result.Action = TCommandLine::caSend;
      result.SendTo = parser.value(send);
      // Words left unquoted are one text all the same.
      result.SendText = positional.join(QLatin1Char(' '));
      positional.clear();
    } else if (parser.isSet(cancelSend)) {
      if (parser.isSet(acknowledge) || parser.isSet(commsLog))
        throw TBadValue{QStringLiteral("choose one of --cancel-send, --acknowledge and --ics309")};
      const QString number = parser.value(cancelSend).trimmed().toUpper();
      const bool letters = std::all_of(number.begin(), number.end(), [](QChar c) {
        return (c >= QLatin1Char('0') && c <= QLatin1Char('9')) ||
               (c >= QLatin1Char('A') && c <= QLatin1Char('Z'));
      });
      if (number.isEmpty() || number.size() > 5 || !letters)
        throw TBadValue{
            QStringLiteral("--cancel-send: \"%1\" is not a message's number").arg(parser.value(cancelSend))};
      result.Action = TCommandLine::caCancelSend;
      result.CancelNumber = number;
    } else if (parser.isSet(commsLog)) {
      if (positional.size() < 2) throw TBadValue{QStringLiteral("--ics309 needs the period: FROM TO")};
      const QString why = ReadLogPeriod(positional.at(0).toStdString(), positional.at(1).toStdString(),
                                        result.LogFrom, result.LogTo);
      if (!why.isEmpty()) throw TBadValue{QStringLiteral("--ics309: ") + why};
      result.Action = TCommandLine::caCommsLog;
      result.PrintLog = parser.isSet(printLog);
      positional.remove(0, 2);
    } else if (parser.isSet(printLog)) {
      throw TBadValue{QStringLiteral("--print goes with --ics309 FROM TO")};
    }
    if (!positional.isEmpty())
      throw TBadValue{QStringLiteral("unexpected argument \"%1\"").arg(positional.first())};
    for (const QString& name : parser.optionNames())
      if (parser.optionNames().count(name) > 1)
        throw TBadValue{QStringLiteral("--%1 is given twice").arg(name)};

    TRunOptions& o = result.Options;
    int sources = 0;
    if (parser.isSet(replay)) {
      ++sources;
      const QString file = parser.value(replay);
      const QFileInfo info(file);
      if (!info.isFile() || !info.isReadable())
        throw TBadValue{QStringLiteral("--replay: \"%1\" is not a file that can be read").arg(file)};
      o.Transport = THostSettings::htReplay;
      o.CaptureFile = info.absoluteFilePath().toStdString();
    }
    if (parser.isSet(aprsIs)) {
      ++sources;
      o.Transport = THostSettings::htAprsIs;
      ReadHostAndPort(QStringLiteral("aprs-is"), parser.value(aprsIs), o.Server, o.Port);
    }
    if (parser.isSet(kiss)) {
      ++sources;
      o.Transport = THostSettings::htKissTcp;
      ReadHostAndPort(QStringLiteral("kiss"), parser.value(kiss), o.Server, o.Port);
    }
    if (parser.isSet(serial)) {
      ++sources;
      o.Transport = THostSettings::htKissSerial;
      ReadDeviceAndBaud(parser.value(serial), o.SerialDevice, o.SerialBaud);
    }
    if (sources > 1)
      throw TBadValue{QStringLiteral("choose one packet source: --replay, --aprs-is, --kiss or --serial")};
    if (parser.isSet(pace)) {
      const std::optional<double> n = ReadPace(parser.value(pace).toStdString());
      if (!n) throw TBadValue{QStringLiteral("--pace: \"%1\" is not %2").arg(parser.value(pace), kPaceRule)};
      o.Pace = *n;
    }
    if (parser.isSet(callsign)) {
      const std::string call = parser.value(callsign).toUpper().toStdString();
      if (!IsCallsign(call))
        throw TBadValue{QStringLiteral("--callsign: ") +
                        QString::fromStdString(NotACallsignText(parser.value(callsign).toStdString()))};
      o.Callsign = call;
    }
    if (parser.isSet(filter)) {
      const QString text = parser.value(filter).trimmed();
      if (!IsAprsIsFilter(text.toStdString()))
        throw TBadValue{QStringLiteral("--filter: the") + QString::fromLatin1(kNotAFilterText).mid(3)};
      o.Filter = text.toStdString();
    }
    o.Answer = parser.isSet(answer);
    if (parser.isSet(passcode)) {
      o.Passcode = ReadPasscode(parser.value(passcode).toStdString());
      if (!o.Passcode)
        throw TBadValue{
            QStringLiteral("--passcode: \"%1\" is not %2").arg(parser.value(passcode), kPasscodeRule)};
    }
    if (parser.isSet(printer)) {
      o.Printer = parser.value(printer);
      if (o.Printer.trimmed().isEmpty()) throw TBadValue{QStringLiteral("--printer needs a printer's name")};
    }
    if (parser.isSet(toPdf)) {
      o.PrintToFolder = parser.value(toPdf);
      CheckFolder(QStringLiteral("print-to-pdf"), o.PrintToFolder);
      o.PrintToFolder = QFileInfo(o.PrintToFolder).absoluteFilePath();
    }
    o.NoWindow = parser.isSet(noWindow);
    if (parser.isSet(web)) {
      o.Web = parser.value(web).trimmed();
      if (o.Web.isEmpty()) throw TBadValue{QStringLiteral("--web needs ADDRESS:PORT or off")};
    }
    if (parser.isSet(areas)) {
      std::string bad;
      o.Areas = ReadAreaList(parser.value(areas).toStdString(), bad);
      if (!o.Areas)
        throw TBadValue{QStringLiteral("--areas: ") + QString::fromStdString(NotAnAreaListEntryText(bad))};
    }
    if (parser.isSet(alarm)) {
      try {
        o.Alarms = ParseAlarmKinds(parser.value(alarm).toStdString());
      } catch (const EAlarmKinds& e) {
        throw TBadValue{QStringLiteral("--alarm: ") + QString::fromStdString(e.what())};
      }
    }
    if (parser.isSet(status)) result.Action = TCommandLine::caStatus;
    const int keyActions = parser.isSet(boardKey) + parser.isSet(boardKeyRevoke) + parser.isSet(boardKeys);
    const bool sends = parser.isSet(send) || parser.isSet(cancelSend);
    if (keyActions > 1 || (keyActions == 1 && (parser.isSet(status) || parser.isSet(acknowledge) || sends)) ||
        (parser.isSet(status) && sends))
      throw TBadValue{QStringLiteral(
          "choose one of --board-key, --board-key-revoke, --board-keys, --status, --acknowledge, "
          "--send and --cancel-send")};
    if (parser.isSet(canAct) && !parser.isSet(boardKey))
      throw TBadValue{QStringLiteral("--can-act goes with --board-key NAME")};
    if (parser.isSet(boardKey)) {
      result.Action = TCommandLine::caBoardKey;
      result.KeyName = parser.value(boardKey);
      result.CanAct = parser.isSet(canAct);
    } else if (parser.isSet(boardKeyRevoke)) {
      result.Action = TCommandLine::caBoardKeyRevoke;
      result.KeyName = parser.value(boardKeyRevoke);
    } else if (parser.isSet(boardKeys)) {
      result.Action = TCommandLine::caBoardKeys;
    }
    if (parser.isSet(config)) {
      o.ConfigDir = parser.value(config);
      CheckFolder(QStringLiteral("config"), o.ConfigDir);
      o.ConfigDir = QFileInfo(o.ConfigDir).absoluteFilePath();
    }
  } catch (const TBadValue& bad) {
    result = TCommandLine{};
    result.Action = TCommandLine::caError;
    result.Text = bad.Text;
  }
  return result;
}

}  // namespace qm
