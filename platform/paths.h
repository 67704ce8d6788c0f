// Wide-character paths (as the file dialogs give them) to the UTF-8 byte paths that fopen
// takes here: every name works, Korean ones included.
#pragma once

#include <string>

std::string WideToUtf8(const std::wstring& wide);
std::wstring Utf8ToWide(const std::string& utf8);
