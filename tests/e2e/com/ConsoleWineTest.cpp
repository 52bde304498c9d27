// The window program's command-line output on the console it was started from. Windows starts
// a window program from a console without standard handles of its own; started so, the
// program must print --version, --help and a bad option's text on this console, and end with
// the Linux program's exit codes (0, and 2 for a bad option).
// Usage: console_wine_test.exe PATH-TO-quillmark.exe VERSION-LINE
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/e2e/com/WineCheck.h"

using namespace qm::winetest;

namespace {

// This console's text (one line per row, trailing blanks and empty rows left out), which is
// then cleared; "<no console>" without one.
std::string TakeConsoleText() {
  const HANDLE Out = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 nullptr, OPEN_EXISTING, 0, nullptr);
  CONSOLE_SCREEN_BUFFER_INFO Info;
  if (Out == INVALID_HANDLE_VALUE || !GetConsoleScreenBufferInfo(Out, &Info)) return "<no console>";
  std::string Text;
  std::vector<char> Row(static_cast<size_t>(Info.dwSize.X));
  for (SHORT Y = 0; Y < Info.dwSize.Y; ++Y) {
    DWORD Read = 0;
    ReadConsoleOutputCharacterA(Out, Row.data(), static_cast<DWORD>(Row.size()), COORD{0, Y}, &Read);
    std::string Line(Row.data(), Read);
    Line.erase(Line.find_last_not_of(' ') + 1);
    if (!Line.empty()) Text += Line + "\n";
  }
  DWORD Done = 0;
  FillConsoleOutputCharacterA(Out, ' ', static_cast<DWORD>(Info.dwSize.X) * static_cast<DWORD>(Info.dwSize.Y),
                              COORD{0, 0}, &Done);
  SetConsoleCursorPosition(Out, COORD{0, 0});
  CloseHandle(Out);
  return Text;
}

// Starts the program as Windows starts a window program from a console: no standard handles.
// Its exit code, or ~0 when it could not be started or did not end.
DWORD Run(const std::string& Program, const std::string& Arguments) {
  STARTUPINFOA Start{};
  Start.cb = sizeof Start;
  Start.dwFlags = STARTF_USESTDHANDLES;
  PROCESS_INFORMATION Process{};
  std::string Command = "\"" + Program + "\" " + Arguments;
  if (!CreateProcessA(Program.c_str(), Command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &Start,
                      &Process))
    return ~0u;
  DWORD Code = ~0u;
  if (WaitForSingleObject(Process.hProcess, 120000) == WAIT_OBJECT_0)
    GetExitCodeProcess(Process.hProcess, &Code);
  CloseHandle(Process.hThread);
  CloseHandle(Process.hProcess);
  return Code;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: console_wine_test.exe PATH-TO-quillmark.exe VERSION-LINE\n");
    return 2;
  }
  // Run from a pipe this program may have no usable console yet (Wine makes one on the display).
  if (TakeConsoleText() == "<no console>") {
    FreeConsole();
    AllocConsole();
  }
  CHECK(TakeConsoleText() != "<no console>", "this program has a console to start from");
  struct TCase {
    const char* Arguments;
    DWORD Code;
    std::string Shown;  // the whole text; for --help its last line
  } Cases[] = {
      {"--version", 0, std::string(argv[2]) + "\n"},
      {"--bogus", 2, "quillmark: Unknown option 'bogus'.\nTry 'quillmark --help' for the options.\n"},
      {"--help", 0, " answer.\n"},
  };
  for (const TCase& Case : Cases) {
    const DWORD Code = Run(argv[1], Case.Arguments);
    std::string Shown = TakeConsoleText();
    CHECK(Code == Case.Code, std::string(Case.Arguments) + ": exit code " + std::to_string(Code));
    // The help is longer than the console's rows; its end shows it went out whole.
    if (Case.Code == 0 && Shown.size() > Case.Shown.size() && Shown.rfind("Usage: ", 0) == 0)
      Shown = Shown.substr(Shown.size() - Case.Shown.size());
    CHECK_EQ_TEXT(Shown, Case.Shown, std::string(Case.Arguments) + ": printed on the console");
  }
  return Summary();
}
