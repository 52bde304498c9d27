// What the window tells the host link: which transport, where, and as whom.
#pragma once

#include <optional>
#include <string_view>

#include <iterator>
#include <string>

namespace qm {

struct THostSettings {
  // htStationProgram is the station program's own automation link (Windows only). New
  // transports go at the end: the window lists them in this order.
  enum class TTransport { htReplay, htAprsIs, htKissTcp, htStationProgram, htKissSerial };
  using enum TTransport;

#ifdef _WIN32
  TTransport Transport = htStationProgram;
#else
  TTransport Transport = htReplay;
#endif
  std::string Callsign;  // the operator's; empty until entered (APRS-IS cannot log in without it)
  std::string Server;    // empty = the transport's usual server (see EffectiveServer)
  int Port = 0;          // 0 = the transport's usual port (14580 APRS-IS, 8001 KISS TCP)
  std::string Filter = DefaultAprsIsFilter;  // APRS-IS server-side filter; empty = none
  std::string CaptureFile;                   // replay; empty = the bundled demo traffic
  // The settings file's Transport where it names none ("aprs_is"): the source is not made, its
  // section is named instead, and it is written back as it was.
  std::string UnknownTransport;
  double Pace = 3.0;  // replay, packets per second; 0 = as fast as the window takes them
#ifdef _WIN32
  std::string SerialDevice = "COM1";  // KISS serial: the TNC's port
#else
  std::string SerialDevice = "/dev/ttyUSB0";
#endif
  int SerialBaud = 9600;  // KISS serial: bits per second; always 8 data bits, no parity, 1 stop bit
  // Acknowledging the messages to the own call (off until the operator turns it on): over a
  // KISS TNC by AnswerPath, over APRS-IS with a login verified by Passcode (-1: none).
  bool AnswerMessages = false;
  int Passcode = -1;
  std::string AnswerPath = DefaultAnswerPath;

  // Reconnect timing of the TCP and serial transports; tests shorten these.
  int RetryFirstMs = 1000;       // first wait after a drop, doubled each failure
  int RetryMaxMs = 30000;        // longest wait: a server that is back is found within half a minute
  int StableMs = 60000;          // a connection this old resets the wait to the first one
  int ConnectTimeoutMs = 15000;  // a connect attempt that takes longer counts as failed
  int IdleTimeoutMs = 120000;    // APRS-IS: silence this long means a dead link (servers send keep-alives)
  // Connected but no packet this long: the state says so; 0 = never. APRS-IS with a filter
  // hands over something within a minute; a radio channel may rightly stay quiet for long,
  // so the KISS transports (TCP and serial) wait RfQuietWarnMs, set in whole minutes.
  int QuietWarnMs = 60000;
  int RfQuietWarnMs = DefaultRfQuietMinutes * 60000;

  static constexpr int DefaultAprsIsPort = 14580;
  static constexpr int DefaultKissPort = 8001;
  // The serial speeds taken: what TNCs and radios offer. Anything else is a typing slip
  // (":12" for ":1200") that would open the port and decode nothing.
  static constexpr int SerialSpeeds[] = {300, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400};
  static constexpr int MaxSerialBaud = SerialSpeeds[std::size(SerialSpeeds) - 1];
  static constexpr int DefaultRfQuietMinutes = 30;
  static constexpr int MaxRfQuietMinutes = 24 * 60;
  // The APRS-IS servers' own rotation of the core and tier-2 servers.
  static constexpr const char* DefaultAprsIsServer = "rotate.aprs2.net";
  // A TNC program such as Direwolf on this machine.
  static constexpr const char* DefaultKissServer = "127.0.0.1";
  // Every message packet the server sees: messages, bulletins, announcements, NWS alerts.
  static constexpr const char* DefaultAprsIsFilter = "t/m";
  // Heard by the digipeaters near a home station and a mobile alike.
  static constexpr const char* DefaultAnswerPath = "WIDE1-1,WIDE2-1";

  // Server, or the transport's usual one when Server is empty.
  std::string EffectiveServer() const;
  // The usual server and port of a transport ("" and 0 for those without).
  static std::string DefaultServer(TTransport transport);
  static int DefaultPort(TTransport transport);

  // Port, or the transport's usual one when Port is 0.
  int EffectivePort() const;

  // RfQuietWarnMs in whole minutes, as the settings file keeps it. Setting a count outside
  // 0 (never) to MaxRfQuietMinutes leaves it as it was.
  int RfQuietMinutes() const {
    return RfQuietWarnMs / 60000;
  }
  void SetRfQuietMinutes(int minutes);
};

// The wait before each reconnect: RetryFirstMs, doubled after every failure up to RetryMaxMs
// (at least 1 ms each).
class TRetryWaits {
 public:
  explicit TRetryWaits(const THostSettings& settings);
  int Next();
  // Back to the first wait (a connection that held).
  void Reset() { FNext = FFirst; }

 private:
  int FFirst, FMax, FNext;
};

// Where the settings file keeps these: one section, one key per field.
namespace connection_keys {
inline constexpr const char* Section = "Connection";
inline constexpr const char* Transport = "Transport";
inline constexpr const char* Server = "Server";
inline constexpr const char* Port = "Port";
inline constexpr const char* Callsign = "Callsign";
inline constexpr const char* Filter = "Filter";
inline constexpr const char* CaptureFile = "CaptureFile";
inline constexpr const char* Pace = "Pace";
inline constexpr const char* SerialDevice = "SerialDevice";
inline constexpr const char* SerialBaud = "SerialBaud";
inline constexpr const char* RfQuietMinutes = "RfQuietMinutes";  // THostSettings::RfQuietWarnMs
inline constexpr const char* AnswerMessages = "AnswerMessages";  // 1: on
inline constexpr const char* Passcode = "Passcode";
inline constexpr const char* AnswerPath = "AnswerPath";
// Sources heard at once: the first in [Connection], the others in [Connection2] and on.
inline constexpr std::size_t MaxSources = 8;
// "Connection" for the first source (index 0), "Connection2" for the second, and so on.
std::string SectionOf(std::size_t index);
}  // namespace connection_keys

// A port as typed: decimal digits for 1 to 65535; with `usualAllowed`, empty or 0 too, which
// mean the transport's usual port (0). Nothing when it is none of these.
std::optional<int> ReadPort(std::string_view text, bool usualAllowed);
inline constexpr const char* kPortRule = "a number from 1 to 65535";
// Packets a second for a replay: a number, 0 or more (0: as fast as they are taken); blanks
// around it are ignored. Nothing for anything else, "nan" and "inf" included.
std::optional<double> ReadPace(std::string_view text);
inline constexpr const char* kPaceRule = "a number, 0 or more";

// An APRS-IS passcode as typed: a whole number from 0 to 32767 (blanks around it ignored).
std::optional<int> ReadPasscode(std::string_view text);
inline constexpr const char* kPasscodeRule = "a number from 0 to 32767";

// An APRS-IS server-side filter as typed: printable ASCII only (blanks separate its parts).
bool IsAprsIsFilter(std::string_view text);
inline constexpr const char* kNotAFilterText = "The filter may hold printable ASCII characters only";

// One of THostSettings::SerialSpeeds.
bool IsSerialSpeed(int baud);
// "one of 300, 1200, ..., 115200 or 230400 bits a second", for the sentences that refuse a speed.
std::string SerialSpeedRule();

// A transport's name in the settings file: "replay", "aprs-is", "kiss-tcp", "station-program",
// "kiss-serial".
const char* TransportName(THostSettings::TTransport transport);
// The transport of that name in any case, or nothing.
std::optional<THostSettings::TTransport> TransportNamed(const std::string& name);
// Why the source at `index` is not made: "[Connection2] Transport=aprs_is names no transport
// (replay, aprs-is, kiss-tcp, station-program or kiss-serial); the section is skipped".
std::string UnknownTransportText(std::size_t index, const std::string& value);

}  // namespace qm
