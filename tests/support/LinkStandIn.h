// Real links for a desk under test: a TCP stand-in for the TNC or the APRS-IS server on
// loopback, the link's settings, and the desk wired to it as the window wires it.
#pragma once

#include <gtest/gtest.h>

#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <string>
#include <string_view>
#include <vector>

#include "host/HostLink.h"
#include "host/HostSettings.h"
#include "host/KissDecoder.h"
#include "tests/support/AprsIsPasscode.h"
#include "tests/support/DeskRig.h"

namespace qm::test {

inline constexpr int kDeadline = 5000;
inline constexpr const char* kOwn = "Q1ABC-7";

// A TCP server on loopback with the one client the link makes.
struct TStandIn {
  TStandIn() { EXPECT_TRUE(Server.listen(QHostAddress::LocalHost)); }
  QTcpSocket* Accept() {
    if (!QTest::qWaitFor([&] { return Server.hasPendingConnections(); }, kDeadline)) return nullptr;
    return Peer = Server.nextPendingConnection();
  }
  void Write(const std::string& bytes) {
    Peer->write(bytes.data(), static_cast<qint64>(bytes.size()));
    Peer->flush();
  }
  QTcpServer Server;
  QTcpSocket* Peer = nullptr;
};

inline THostSettings LinkSettings(THostSettings::TTransport transport, int port, bool answer) {
  THostSettings s;
  s.Transport = transport;
  s.Callsign = kOwn;
  s.Server = "127.0.0.1";
  s.Port = port;
  s.AnswerMessages = answer;
  s.Passcode = 1;  // the APRS-IS stand-in below verifies nothing
  return s;
}

// The desk hears the link as the window wires it.
inline void Wire(TDeskRig& rig, THostLink& link) {
  QObject::connect(&link, &THostLink::DataReady, rig.Desk.get(),
                   [&rig, &link] { rig.Desk->DataAvailable(link); });
  rig.Desk->LogOutages(link);
  rig.Desk->FollowArrivals(link);
}

// What the TNC stand-in received, as monitor lines, once the link is gone.
inline std::vector<std::string> FramesHeard(TStandIn& tnc, THostLink& link) {
  link.Stop();
  EXPECT_TRUE(
      QTest::qWaitFor([&] { return tnc.Peer->state() == QAbstractSocket::UnconnectedState; }, kDeadline));
  std::vector<std::string> heard;
  TKissDecoder decoder;
  decoder.Feed(tnc.Peer->readAll().toStdString(),
               [&](int, std::string_view ax25) { heard.push_back(DecodeAx25UiFrame(ax25).value_or("?")); });
  return heard;
}

inline std::string MessageFrame(const std::string& to, const std::string& text) {
  return KissDataFrame(
      *EncodeAx25UiFrame("K2XYZ-9", "APRS", {"WIDE1-1"}, ":" + AddresseeField(to) + ":" + text));
}

}  // namespace qm::test
