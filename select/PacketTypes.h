// The packet record and ASCII text rules that select/ works on.
#pragma once

#if __has_include("QuillmarkParse.h")
#include "AsciiText.h"
#include "QuillmarkParse.h"
#else
#include "TempParseShim.h"
#endif
