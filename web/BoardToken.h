// The board's access token: made at random at the first start and kept in the data folder,
// readable by its user only, so the same address works after a restart.
#pragma once

#include <string>

namespace qm {

inline constexpr const char* kBoardTokenFile = "Quillmark-board.token";

// The token kept in `dataDir`, made (256 random bits as hex) when there is none or the file
// holds none. A file others could read is made private first. Throws std::runtime_error when
// it can be neither read nor made.
std::string BoardToken(const std::string& dataDir);

// A new session for the board's pages (256 random bits as hex), kept nowhere but in memory.
std::string NewBoardSession();

}  // namespace qm
