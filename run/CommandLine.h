// The command line: options that choose this run's packet source, printer and folders. They
// apply to this run only; nothing of them is stored (Apply on the Connection page stores what
// the page shows, as always).
#pragma once

#include <QString>
#include <QStringList>
#include <optional>
#include <string>
#include <vector>

#include "desk/MessageDesk.h"
#include "host/HostSettings.h"
#include "select/Alarms.h"

namespace qm {

struct TRunOptions {
  std::optional<THostSettings::TTransport> Transport;  // set by --replay, --aprs-is, --kiss, --serial
  std::string CaptureFile;
  std::string Server;
  int Port = 0;  // 0: the transport's usual one
  std::string SerialDevice;
  int SerialBaud = 0;  // 0: the stored speed
  std::optional<double> Pace;
  std::optional<std::string> Callsign;
  std::optional<std::string> Filter;
  bool Answer = false;                // --answer: acknowledge messages to the own call
  std::optional<int> Passcode;        // --passcode N: the APRS-IS login's, for answering there
  QString Printer;                    // a printer of the system's list, by name
  QString PrintToFolder;              // every job a PDF file in this folder instead of on paper
  QString ConfigDir;                  // the folder of Quillmark.ini and the logs
  bool NoWindow = false;              // the desk alone: no window, no tray, no display needed
  QString Web;                        // --web: "off" or ADDRESS:PORT; "" as the settings say
  std::optional<TAlarmKinds> Alarms;  // --alarm: the kinds that alarm ("none": no kind)
  // --areas: the NWS area list (county and zone codes) instead of the stored one; empty
  // entries given: every area of a checked state.
  std::optional<std::vector<std::string>> Areas;

  // Puts this run's choices over the stored ones.
  void ApplyTo(THostSettings& settings) const;
  void ApplyTo(TDeskChoices& choices) const;
};

struct TCommandLine {
  enum class TAction {
    caRun,
    caHelp,
    caVersion,
    caError,
    caStatus,
    caBoardKey,
    caBoardKeyRevoke,
    caBoardKeys,
    caAcknowledge,
    caSend,
    caCancelSend,
    caCommsLog
  };
  using enum TAction;
  TAction Action = caRun;
  TRunOptions Options;
  QString Text;         // the help, the version line or what is wrong (without the program's name)
  QString KeyName;      // --board-key, --board-key-revoke
  bool CanAct = false;  // --can-act
  QString AlarmNumber;  // --acknowledge N: the alarm's number; "" every alarm
  // --ics309 FROM TO: the communications log of that period (UTC), and with --print on paper.
  TDateTime LogFrom = 0, LogTo = 0;
  bool PrintLog = false;
  QString SendTo, SendText;  // --send CALL TEXT
  QString CancelNumber;      // --cancel-send N: the message's number, in capitals
};

// Reads the arguments, the program's path first. Qt's own options (-platform, -style and the
// like) are let through for the application object to take. Needs a Qt application object.
TCommandLine ParseCommandLine(const QStringList& arguments);

}  // namespace qm
