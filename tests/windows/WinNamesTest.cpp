// kvelv.exe with containers made on Linux and a folder that another program uses: every name
// comes out under a name Windows holds, a file held open stops the run before anything moves,
// a kill leaves no staged data, listed names mean the files Windows opens, and deep folders work.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "jobs/DecryptJob.h"
#include "platform/FileSystem.h"
#include "platform/SecretBytes.h"
#include "platform/win32/WinApi.h"
#include "tests/support/ArchiveMaker.h"
#include "tests/support/RunProcess.h"
#include "tests/support/ScriptedPrompter.h"
#include "tests/support/TestData.h"
#include "tests/support/TestPaths.h"
#include "tests/support/TestSupport.h"

namespace kvelv {
namespace {

using platform::win32::Widen;
using test::RunKvelv;
using test::TempDir;

using test::Repeat;

test::ProcessResult Decrypt(const std::string& container, const std::string& folder) {
  return RunKvelv({"-decrypt", "-password=pw", "-file=" + container, "-to_folder=" + folder});
}

// A container as the Linux build writes one: entries named `names` (UTF-8, bit 11 set), each
// holding `contents[i]`, deflated.
std::string Container(const std::string& path, const std::vector<std::string>& names,
                      const std::vector<std::string>& contents) {
  std::vector<test::ArchiveEntrySpec> entries;
  for (size_t i = 0; i < names.size(); ++i) {
    test::ArchiveEntrySpec entry = test::Entry(names[i], contents[i], 8);
    entry.flags = 0x0800;
    entries.push_back(entry);
  }
  test::WriteContainer(path, test::MakeArchive(entries), "pw");
  return path;
}

// Another process, started with no input; its first line of output is read when asked for.
class Child {
 public:
  Child(const std::string& program, const std::vector<std::string>& args, bool firstLine) {
    std::wstring commandLine = L"\"" + Widen(program) + L"\"";
    for (const std::string& arg : args) commandLine += L" \"" + Widen(arg) + L"\"";
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE read = nullptr, write = nullptr;
    CreatePipe(&read, &write, &inherit, 0);
    SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = startup.hStdError = write;
    if (!CreateProcessW(Widen(program).c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                        &startup, &process_)) {
      ADD_FAILURE() << "cannot start " << program;
    }
    CloseHandle(write);
    char c = 0;
    DWORD got = 0;
    while (firstLine && ReadFile(read, &c, 1, &got, nullptr) && got == 1 && c != '\n') {
      if (c != '\r') line += c;
    }
    output_ = read;  // kept open, so the child never blocks on writing
  }
  ~Child() {
    Kill();
    CloseHandle(output_);
    CloseHandle(process_.hThread);
    CloseHandle(process_.hProcess);
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  // The exit code, or -1 while it runs after `milliseconds`.
  int Wait(DWORD milliseconds) {
    if (WaitForSingleObject(process_.hProcess, milliseconds) != WAIT_OBJECT_0) return -1;
    DWORD code = 0;
    GetExitCodeProcess(process_.hProcess, &code);
    return static_cast<int>(code);
  }
  void Kill() {
    if (Wait(0) >= 0) return;
    TerminateProcess(process_.hProcess, 9);
    WaitForSingleObject(process_.hProcess, INFINITE);
  }

  std::string line;

 private:
  PROCESS_INFORMATION process_{};
  HANDLE output_ = nullptr;
};

// The staging folders in `folder`, each with the names of the files in it.
std::vector<std::string> StagedLeftovers(const std::string& folder) {
  std::vector<std::string> left;
  const auto entries = platform::ListFolder(folder);
  for (size_t i = 0; entries && i < entries->size(); ++i) {
    const std::string& name = (*entries)[i].name;
    if (name.rfind(".~kvelv-", 0) != 0) continue;
    left.push_back(name + "/");
    const auto files = platform::ListFolder(folder + "\\" + name);
    for (size_t k = 0; files && k < files->size(); ++k) left.push_back(name + "/" + (*files)[k].name);
  }
  return left;
}

TEST(WinNames, LinuxNamesComeOutUnderNamesWindowsHolds) {
  struct Case {
    std::string stored;
    std::string written;
  };
  const std::vector<Case> cases = {
      {"log 10:30.txt", "log 10_30.txt"},   {"log 11:30.txt", "log 11_30.txt"},
      {"Rapport.txt", "Rapport.txt"},       {"rapport.txt", "rapport (2).txt"},
      {"notat.txt", "notat.txt"},           {"notat.txt.", "notat.txt_"},
      {"notat.txt ", "notat (2).txt_"},     {"aux.txt", "_aux.txt"},
      {"CON", "_CON"},                      {"NUL", "_NUL"},
      {"COM1.log", "_COM1.log"},            {"LPT1", "_LPT1"},
      {"Hva?.txt", "Hva_.txt"},             {"a<b>.txt", "a_b_.txt"},
      {"ok.txt", "ok.txt"},                 {Repeat("x", 300) + ".txt", Repeat("x", 251) + ".txt"},
      // Wine keeps names in the host's file system, where 255 bytes is the most.
      {Repeat("\u00F8", 127), Repeat("\u00F8", 127)},
  };
  std::vector<std::string> names, contents;
  for (const Case& c : cases) {
    names.push_back(c.stored);
    contents.push_back("data of " + c.stored);
  }
  TempDir work;
  const std::string container = Container(work.Join("linux.kvelv"), names, contents);
  const std::string out = work.Join("out");
  const auto result = Decrypt(container, out);
  ASSERT_EQ(result.exitCode, 0) << result.err;
  for (const Case& c : cases) {
    EXPECT_EQ(test::ReadFile(out + "\\" + c.written), "data of " + c.stored) << c.written;
  }
  EXPECT_EQ(test::Listing(out).size(), cases.size());
  // One notice for each name that changed.
  size_t changed = 0;
  for (const Case& c : cases) changed += c.stored != c.written ? 1 : 0;
  size_t lines = 0;
  for (size_t at = result.err.find("\r\n"); at != std::string::npos; at = result.err.find("\r\n", at + 1)) ++lines;
  EXPECT_EQ(lines, changed) << result.err;
  EXPECT_NE(result.err.find("Renamed (a name Windows does not allow): \"aux.txt\" -> \"_aux.txt\"\r\n"),
            std::string::npos);
}

TEST(WinNames, AFileHeldOpenStopsTheRunBeforeAnythingMoves) {
  TempDir work;
  const std::string container =
      Container(work.Join("c.kvelv"), {"a.txt", "b.txt", "aux.txt"}, {"new a", "new b", "new aux"});
  const std::string out = work.Join("out");
  ASSERT_TRUE(platform::CreateFolders(out));
  test::WriteFile(out + "\\a.txt", "old a");
  test::WriteFile(out + "\\b.txt", "old b");
  const std::vector<std::string> before = test::Listing(out);
  {
    Child holder(KVELV_HOLD_FILE, {out + "\\b.txt"}, true);
    ASSERT_EQ(holder.line, "held");
    const auto result = Decrypt(container, out);
    EXPECT_EQ(result.exitCode, 6);
    EXPECT_EQ(result.err, "Decryption failed: Another program holds the file \"" + out +
                              "\\b.txt\" open. Nothing in the folder was changed.\r\n");
  }
  EXPECT_EQ(test::Listing(out), before);

  // In the window: the design's question names the file held open (and no other: "aux.txt" is
  // no device here), the job goes on once the other program let it go, and one message sums up
  // the names that changed.
  Child holder(KVELV_HOLD_FILE, {out + "\\b.txt"}, true);
  ASSERT_EQ(holder.line, "held");
  test::ScriptedPrompter prompter;
  prompter.onMessageBox = [&] { holder.Kill(); };
  prompter.answers = {true};
  EXPECT_EQ(DecryptFileToFolder(platform::SecretBytes("pw"), container, out, JobMode::Interactive, prompter), 0);
  ASSERT_EQ(prompter.shown.size(), 4u);
  EXPECT_EQ(prompter.shown[0].caption, "Filen er låst av ett annet program");
  EXPECT_EQ(prompter.shown[0].text, "Lukk programmet som har denne filen åpen før du klikker Ok: \n\rb.txt");
  EXPECT_EQ(prompter.shown[1].text, "Overskrive gamle filer?");
  EXPECT_EQ(prompter.shown[2].text, "Filen er ferdig dekryptert");
  EXPECT_EQ(prompter.shown[3].text, "Noen filer fikk et annet navn enn i arkivet, eller ble ikke pakket ut:\n\r"
                                    "«aux.txt» er lagret som «_aux.txt»");
  EXPECT_EQ(test::ReadFile(out + "\\b.txt"), "new b");
  EXPECT_EQ(test::ReadFile(out + "\\_aux.txt"), "new aux");
}

TEST(WinNames, AKillWhileStagingLeavesNoStagedDataAfterTheNextRun) {
  TempDir work;
  // Zeros: a small container that stages a large file.
  const std::string big = Container(work.Join("big.kvelv"), {"big.bin"}, {std::string(96u << 20, '\0')});
  const std::string small = Container(work.Join("small.kvelv"), {"small.txt"}, {"small"});
  const std::string out = work.Join("out");
  ASSERT_TRUE(platform::CreateFolders(out));
  test::WriteFile(out + "\\old.txt", "old");

  ASSERT_EQ(Decrypt(big, out).exitCode, 0);
  ASSERT_TRUE(platform::DeleteFile(out + "\\big.bin"));
  const std::vector<std::string> before = test::Listing(out);

  const unsigned seed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> moment(0, 300);
  for (int kill = 0; kill < 10; ++kill) {
    const int at = moment(random);
    SCOPED_TRACE("killed " + std::to_string(at) + " ms into staging");
    {
      Child run(test::KvelvBinary(), {"-decrypt", "-password=pw", "-file=" + big, "-to_folder=" + out}, false);
      // Staging has begun once a staged file shows.
      bool staging = false;
      for (int wait = 0; wait < 20000 && !staging && run.Wait(0) < 0; ++wait) {
        staging = StagedLeftovers(out).size() > 1;
        Sleep(1);
      }
      ASSERT_TRUE(staging) << "the run ended before its staging was seen";
      Sleep(static_cast<DWORD>(at));
      run.Kill();
    }
    // Nothing staged outlives the process: at most an empty staging folder remains.
    EXPECT_LE(StagedLeftovers(out).size(), 1u) << StagedLeftovers(out).back();
    // Unless the kill came after the commit, the folder is as it was.
    if (platform::FileExists(out + "\\big.bin")) {
      EXPECT_EQ(platform::GetFileInfo(out + "\\big.bin")->size, int64_t{96} << 20);
      ASSERT_TRUE(platform::DeleteFile(out + "\\big.bin"));
    } else {
      std::vector<std::string> now = test::Listing(out);
      std::erase_if(now, [](const std::string& line) { return line.rfind(".~kvelv-", 0) == 0; });
      EXPECT_EQ(now, before);
    }
    // The next run into the folder removes what the killed one left.
    ASSERT_EQ(Decrypt(small, out).exitCode, 0);
    EXPECT_EQ(StagedLeftovers(out), std::vector<std::string>{});
    ASSERT_TRUE(platform::DeleteFile(out + "\\small.txt"));
  }
}

TEST(WinNames, ListedNamesAreTheFilesWindowsOpens) {
  TempDir work;
  test::WriteFile(work.Join("b.txt"), "b");
  const auto packed = RunKvelv({"-encrypt", "-password=pw", "-files=b.txt. ", "-to_file=c.kvelv"}, work.Path());
  ASSERT_EQ(packed.exitCode, 0) << packed.err;
  ASSERT_EQ(Decrypt(work.Join("c.kvelv"), work.Join("out")).exitCode, 0);
  EXPECT_EQ(test::Listing(work.Join("out")), std::vector<std::string>{"b.txt 1 71beeff9"});

  for (const char* device : {"CON", "aux.txt", "nul"}) {
    const auto result =
        RunKvelv({"-encrypt", "-password=pw", std::string("-files=b.txt;") + device, "-to_file=d.kvelv"}, work.Path());
    EXPECT_EQ(result.exitCode, 5) << device;
    EXPECT_EQ(result.out, std::string("Wrong parameter: -files=") + device + "\r\nFile does not exist.\r\n");
  }
}

TEST(WinNames, ARoundTripThroughFoldersPast260Characters) {
  TempDir work;
  std::string deep = work.Path();
  while (deep.size() < 300) deep += "\\Dokumenter med et langt navn " + std::to_string(deep.size());
  const std::string long255 = "\u00C5rsrapport " + Repeat("x", 239) + ".txt";  // 255 bytes, 254 characters
  ASSERT_TRUE(platform::CreateFolders(deep));
  test::WriteFile(deep + "\\" + long255, "deep and long");
  const auto packed =
      RunKvelv({"-encrypt", "-password=pw", "-files=" + deep + "\\" + long255, "-to_file=" + deep + "\\c.kvelv"});
  ASSERT_EQ(packed.exitCode, 0) << packed.err;
  const auto opened = Decrypt(deep + "\\c.kvelv", deep + "\\ut");
  ASSERT_EQ(opened.exitCode, 0) << opened.err;
  EXPECT_EQ(test::ReadFile(deep + "\\ut\\" + long255), "deep and long");
}

}  // namespace
}  // namespace kvelv
