// A build without cpp-httplib: the board is not part of it, and says so when started.
#include <QTimer>
#include <stdexcept>

#include "web/BoardServer.h"

namespace qm {

struct TBoardServer::TShared {};

TBoardServer::TBoardServer(TBoardConfig config, TBoardHooks, QObject* parent)
    : QObject(parent), FConfig(std::move(config)) {}

TBoardServer::~TBoardServer() = default;

void TBoardServer::Start() {
  throw std::runtime_error("This build of Quillmark has no board (it was built without cpp-httplib)");
}

void TBoardServer::Stop() {}

QString TBoardServer::Url() const {
  return {};
}

void TBoardServer::Changed() {}

}  // namespace qm
