// The UTF-16 command line, and console output through WriteConsoleW so that non-ASCII text is
// shown correctly whatever the console's code page.
#include "platform/Console.h"

#include <fcntl.h>
#include <io.h>

#include <corecrt_startup.h>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <streambuf>

#include "platform/win32/WinApi.h"

#include <shellapi.h>

namespace kvelv::platform {

namespace {

using win32::Narrow;
using win32::Widen;

// Collects UTF-8 bytes and hands whole characters to the console on every flush. Output that
// goes to a file or pipe never comes here: it keeps the standard streams.
class ConsoleBuffer : public std::streambuf {
 public:
  explicit ConsoleBuffer(DWORD which) : handle_(GetStdHandle(which)) {
    DWORD mode = 0;
    console_ = handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE && GetConsoleMode(handle_, &mode);
  }
  ~ConsoleBuffer() override { sync(); }

  bool IsConsole() const { return console_; }

 protected:
  int_type overflow(int_type c) override {
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    pending_.push_back(traits_type::to_char_type(c));
    return c;
  }
  std::streamsize xsputn(const char* text, std::streamsize count) override {
    pending_.append(text, static_cast<size_t>(count));
    return count;
  }
  int sync() override {
    // Keep an incomplete UTF-8 sequence at the end for the next flush.
    size_t complete = CompletePrefix(pending_);
    if (complete == 0) return 0;
    std::wstring wide = Widen(std::string_view(pending_).substr(0, complete));
    pending_.erase(0, complete);
    const wchar_t* at = wide.data();
    size_t left = wide.size();
    while (left > 0) {
      DWORD written = 0;
      if (!WriteConsoleW(handle_, at, static_cast<DWORD>(left), &written, nullptr) || written == 0) return -1;
      at += written;
      left -= written;
    }
    return 0;
  }

 private:
  static size_t CompletePrefix(const std::string& text) {
    size_t end = text.size();
    size_t back = 0;
    while (back < 3 && back < end && (static_cast<unsigned char>(text[end - 1 - back]) & 0xC0) == 0x80) ++back;
    if (back < end) {
      unsigned char lead = static_cast<unsigned char>(text[end - 1 - back]);
      size_t needed = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
      if (needed > back + 1) return end - 1 - back;
    }
    return end;
  }

  HANDLE handle_;
  bool console_ = false;
  std::string pending_;
};

std::ostream& StreamFor(DWORD which, std::ostream& fallback) {
  auto buffer = std::make_unique<ConsoleBuffer>(which);
  if (!buffer->IsConsole()) {
    // The texts carry their own CRLF line breaks: no "\n" to "\r\n" translation on the way.
    fflush(which == STD_ERROR_HANDLE ? stderr : stdout);
    _setmode(_fileno(which == STD_ERROR_HANDLE ? stderr : stdout), _O_BINARY);
    return fallback;
  }
  // Never destroyed: messages may still be written while static objects go away. Callers
  // flush after every message.
  return *new std::ostream(buffer.release());
}

}  // namespace

namespace {

template <typename Char>
Char Lower(Char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<Char>(c - 'A' + 'a') : c;
}

// Overwrites, in a command line as the process got it, the value of every argument `option`=...
// up to the blank that ends the argument. Quotes and backslashes stay, so that the line still
// splits into the same arguments; every other character of the value becomes "*".
template <typename Char>
void WipeValuesInLine(Char* line, const std::string& option) {
  if (line == nullptr || option.empty()) return;
  bool quoted = false;
  bool argumentStart = true;
  for (Char* at = line; *at != 0; ++at) {
    if (*at == '"') {
      quoted = !quoted;
      continue;
    }
    const bool blank = *at == ' ' || *at == '\t';
    if (blank && !quoted) {
      argumentStart = true;
      continue;
    }
    if (!argumentStart) continue;
    argumentStart = false;
    size_t matched = 0;
    while (matched < option.size() && at[matched] != 0 &&
           Lower(at[matched]) == static_cast<Char>(static_cast<unsigned char>(option[matched])))
      ++matched;
    if (matched != option.size() || at[matched] != '=') continue;
    for (at += matched + 1; *at != 0; ++at) {
      if (*at == '"') {
        quoted = !quoted;
      } else if ((*at == ' ' || *at == '\t') && !quoted) {
        argumentStart = true;
        break;
      } else if (*at != '\\') {
        *at = '*';
      }
    }
    if (*at == 0) break;
  }
}

}  // namespace

void WipeOptionValues(int argc, char** argv, const std::string& option) {
  // The C runtime's arguments and its copies of the command line, and the system's command line
  // (the one other processes read from this process's memory).
  for (int i = 1; i < argc && argv != nullptr; ++i) {
    char* equals = std::strchr(argv[i], '=');
    if (equals == nullptr || static_cast<size_t>(equals - argv[i]) != option.size()) continue;
    if (_strnicmp(argv[i], option.c_str(), option.size()) != 0) continue;
    SecureZeroMemory(equals + 1, std::strlen(equals + 1));
  }
  WipeValuesInLine(*__p__acmdln(), option);
  WipeValuesInLine(*__p__wcmdln(), option);
  WipeValuesInLine(GetCommandLineA(), option);
  WipeValuesInLine(GetCommandLineW(), option);
}

std::vector<std::string> CommandLineArguments(int, char**) {
  int count = 0;
  std::unique_ptr<LPWSTR, HLOCAL (*)(HLOCAL)> args(CommandLineToArgvW(GetCommandLineW(), &count), LocalFree);
  std::vector<std::string> result;
  if (!args) return result;
  // Room for all first: a vector that grows moves short strings and frees their old places
  // without wiping them, and one of them may be a password.
  result.reserve(static_cast<size_t>(count));
  for (int i = 1; i < count; ++i) {
    result.push_back(Narrow(args.get()[i]));
    SecureZeroMemory(args.get()[i], wcslen(args.get()[i]) * sizeof(wchar_t));
  }
  return result;
}

std::ostream& ConsoleOut() {
  static std::ostream& out = StreamFor(STD_OUTPUT_HANDLE, std::cout);
  return out;
}

std::ostream& ConsoleErr() {
  static std::ostream& err = StreamFor(STD_ERROR_HANDLE, std::cerr);
  return err;
}

bool StandardErrorIsTerminal() {
  const HANDLE handle = GetStdHandle(STD_ERROR_HANDLE);
  DWORD mode = 0;
  return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) != 0;
}

}  // namespace kvelv::platform
