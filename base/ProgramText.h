// Text at the Qt boundary. Inside, the program keeps text as single-byte strings;
// only what is shown to the operator is decoded.
#pragma once

#include <QString>
#include <string>
#include <string_view>

namespace qm {

// UTF-8 when the bytes are valid UTF-8, else Windows-1252 (its five undefined bytes
// taken as Latin-1).
QString DisplayText(std::string_view bytes);

// The UTF-8 bytes of a text from a control.
std::string ProgramText(const QString& text);

}  // namespace qm
