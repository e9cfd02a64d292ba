// The UTF-16 command line, and console output through WriteConsoleW so that non-ASCII text is
// shown correctly whatever the console's code page.
#include "platform/Console.h"

#include <fcntl.h>
#include <io.h>

#include <cstdio>
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

void WipeOptionValues(int, char**, const std::string&) {}

std::vector<std::string> CommandLineArguments(int, char**) {
  int count = 0;
  std::unique_ptr<LPWSTR, HLOCAL (*)(HLOCAL)> args(CommandLineToArgvW(GetCommandLineW(), &count), LocalFree);
  std::vector<std::string> result;
  if (!args) return result;
  for (int i = 1; i < count; ++i) result.push_back(Narrow(args.get()[i]));
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
