#include "jobs/NameNotices.h"

#include "jobs/ConsoleTexts.h"
#include "jobs/JobTexts.h"
#include "platform/CodePages.h"
#include "zip/TargetNames.h"

namespace kvelv {

namespace {

constexpr size_t kSummaryLines = 20;
constexpr size_t kShownHead = 40;  // characters of a long name the window shows before "…"
constexpr size_t kShownTail = 16;  // and after it

// A stored name as it can be shown: control characters (a NUL, a line break) as \xNN.
std::string Shown(const std::string& name, const char* open, const char* close) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out = open;
  for (char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {
      out += "\\x";
      out += kHex[byte >> 4];
      out += kHex[byte & 0x0F];
    } else {
      out += c;
    }
  }
  return out + close;
}

// A name for the window: one too long for a message box line shows its start and its end.
std::string Elided(const std::string& name) {
  std::u32string text = platform::DecodeUtf8(name);
  if (text.size() <= kShownHead + kShownTail + 1) return name;
  return platform::EncodeUtf8(text.substr(0, kShownHead)) + "\u2026" +
         platform::EncodeUtf8(text.substr(text.size() - kShownTail));
}

std::string Reasons(unsigned changes) {
  std::string reasons;
  auto add = [&](unsigned bit, const char* text) {
    if ((changes & bit) == 0) return;
    if (!reasons.empty()) reasons += ", ";
    reasons += text;
  };
  add(kNameMapped, console_text::kRenamedMapped);
  add(kNameShortened, console_text::kRenamedShortened);
  add(kNameNumbered, console_text::kRenamedNumbered);
  return reasons;
}

}  // namespace

std::string NoticeLine(const NameNotice& notice) {
  switch (notice.kind) {
    case NameNotice::Kind::Renamed:
      return console_text::kRenamed + Reasons(notice.changes) + "): " + Shown(notice.stored, "\"", "\"") + " -> " +
             Shown(notice.written, "\"", "\"");
    case NameNotice::Kind::Superseded:
      return console_text::kSuperseded + Shown(notice.stored, "\"", "\"");
    case NameNotice::Kind::NotExtracted:
      break;
  }
  return console_text::kNotExtracted + Shown(notice.stored, "\"", "\"");
}

std::string NoticeSummary(const std::vector<NameNotice>& notices) {
  if (notices.empty()) return {};
  std::string text = texts::kNamesHeading;
  for (size_t i = 0; i < notices.size() && i < kSummaryLines; ++i) {
    const NameNotice& notice = notices[i];
    text += "\n\r" + Shown(Elided(notice.stored), "«", "»");
    switch (notice.kind) {
      case NameNotice::Kind::Renamed:
        text += texts::kNameWrittenAs + Shown(Elided(notice.written), "«", "»");
        break;
      case NameNotice::Kind::Superseded:
        text += texts::kNameSuperseded;
        break;
      case NameNotice::Kind::NotExtracted:
        text += texts::kNameNotExtracted;
        break;
    }
  }
  if (notices.size() > kSummaryLines) {
    text += "\n\r" + std::string(texts::kNamesMore) + std::to_string(notices.size() - kSummaryLines) +
            texts::kNamesMoreEnd;
  }
  return text;
}

void ReportNames(const std::vector<NameNotice>& notices, JobMode mode, Prompter& prompter) {
  if (notices.empty()) return;
  if (mode == JobMode::Interactive) {
    prompter.ShowMessage(NoticeSummary(notices));
    return;
  }
  for (const NameNotice& notice : notices) prompter.Notice(NoticeLine(notice));
}

}  // namespace kvelv
