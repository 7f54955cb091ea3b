#include "sfxstub/main/main_sequence.h"

#include "sfxstub/io/join_path.h"
#include "sfxstub/io/win32_error.h"
#include "sfxstub/main/command_line.h"
#include "sfxstub/main/command_tail.h"

namespace sfx {

const char kWorkingFolderPrefix[] = "_tr_sfx.tm~";
const char kMainProgramName[] = "setup.ovr";
const char kLaunchCopyName[] = "tarvo.setup";

const char* PhaseText(SfxPhase phase) {
  switch (phase) {
    case kPhaseOpenArchive:
      return "opening the self-extract archive\n\nTry to download setup file again.\n"
             "If you use Internet Explorer, clear it's cache before downloading:\n"
             "Start->Control Panel->Internet Options and Delete Temporary Internet Files.";
    case kPhaseExtractMain:
      return "extracting main exe";
    case kPhaseExtractFiles:
      return "extracting files";
    case kPhaseSpawn:
      return "spawning";
  }
  return "";
}

std::string FormatErrorReport(int32_t result, SfxPhase phase) {
  // The two numbers are written out here: the Windows runtime's printf family is a sixth of the
  // stub's image, for this one line.
  const uint32_t bits = static_cast<uint32_t>(result);
  char decimal[12];  // "-2147483648" and its terminator
  char* d = decimal + sizeof decimal;
  *--d = '\0';
  uint32_t magnitude = result < 0 ? 0u - bits : bits;
  do {
    *--d = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (result < 0) *--d = '-';
  char hex[9];
  for (int i = 0; i < 8; ++i) hex[i] = "0123456789ABCDEF"[(bits >> (28 - 4 * i)) & 0xF];
  hex[8] = '\0';

  std::string report = "An error ";
  report += d;
  report += " (";
  report += hex;
  report += ") has occured.\nLast performed operation was:\n";
  report += PhaseText(phase);
  report += "\n\n";
  return report;
}

std::string SourceFolderOf(const std::string& modulePath, const LeadByteTest& isLead) {
  const size_t slash = FindLastChar(modulePath, '\\', isLead);
  if (slash == std::string::npos) return modulePath;
  return modulePath.substr(0, slash);
}

namespace {

// Up to kMaxSetupRuns runs of the setup program, while it asks for another; the host's result
// of the last run, its exit code in `exitCode`.
int32_t RunSetupProgram(Host& host, const std::string& mainProgramPath,
                        const std::string& launchCopyPath, const std::string& arguments,
                        uint32_t* exitCode) {
  int32_t result = 0;
  for (int run = 0; run < kMaxSetupRuns; ++run) {
    // Every run starts from a fresh copy, so a setup program that replaced setup.ovr and asked
    // for a restart gets the new program; only a copy this run made is started.
    result = host.CheckWorkingFolder();
    if (result == 0) result = host.CopyFileRetry(mainProgramPath, launchCopyPath);
    if (result == 0) result = host.RunAndWait(launchCopyPath, arguments, exitCode);
    host.DeleteFileRetry(launchCopyPath);
    if (result != 0 || *exitCode != RestartExitCode) break;
  }
  return result;
}

// The steps in the working folder, once the archive is open: the folder is made (its path in
// `workingFolder`, empty when none was made), the main program and the listed files are
// extracted into it and the setup program runs from it. The result is the first failing step's,
// which `phase` names; the setup program's exit code goes to `exitCode`.
int32_t ExtractAndRun(Host& host, PackageArchive& archive, const std::string& sourceFolder,
                      const std::string& commandTail, const LeadByteTest& isLead,
                      std::string* workingFolder, SfxPhase* phase, uint32_t* exitCode) {
  // The creation's own result is not acted upon: without a folder (none could be made, or it
  // could not be secured) the extraction fails, and that failure is the one reported.
  host.CreateWorkingFolder(kWorkingFolderPrefix, workingFolder);
  const std::string mainProgramPath = JoinPath(*workingFolder, kMainProgramName);
  const std::string launchCopyPath = JoinPath(*workingFolder, kLaunchCopyName);

  // Nothing is written into the folder, or started from it, unless it is still the one made.
  *phase = kPhaseExtractMain;
  // Joined to an empty folder the paths would name the current folder; never write there.
  if (workingFolder->empty()) return kErrorCannotMake;
  int32_t result = host.CheckWorkingFolder();
  if (result == 0) result = archive.ExtractMainProgram(mainProgramPath).code();
  if (result != 0) return result;

  *phase = kPhaseExtractFiles;
  result = host.CheckWorkingFolder();
  if (result == 0) result = archive.ExtractFiles(*workingFolder).code();
  if (result != 0) return result;

  const std::string arguments = BuildSetupCommandLine(archive.CommandTemplate(), sourceFolder,
                                                      *workingFolder, commandTail, isLead);
  *phase = kPhaseSpawn;
  return RunSetupProgram(host, mainProgramPath, launchCopyPath, arguments, exitCode);
}

}  // namespace

uint32_t RunMainSequence(Host& host, const ArchiveFactory& makeArchive,
                         const std::string& commandTail) {
  const LeadByteTest isLead = [&host](uint8_t byte) { return host.IsLeadByte(byte); };

  if (!HasQuietSwitch(commandTail, isLead)) host.StartProgress();

  // The host hands back the whole path whatever its length, so nothing is cut or overrun here.
  std::string modulePath;
  const int32_t moduleResult = host.ModulePath(&modulePath);
  const std::string sourceFolder = SourceFolderOf(modulePath, isLead);

  SfxPhase phase = kPhaseOpenArchive;
  std::unique_ptr<PackageArchive> archive = makeArchive(host.Progress());
  int32_t result = moduleResult;
  if (result == 0) result = archive ? archive->Open(modulePath).code() : kErrorNotEnoughMemory;

  std::string workingFolder;
  uint32_t exitCode = 0;
  if (result == 0) {
    result = ExtractAndRun(host, *archive, sourceFolder, commandTail, isLead, &workingFolder,
                           &phase, &exitCode);
  }

  // Neither the report nor anything after it may appear while the progress window exists.
  host.StopProgress();

  uint32_t processExitCode = exitCode;
  if (result != 0) {
    host.ShowErrorReport(FormatErrorReport(result, phase));
    processExitCode = static_cast<uint32_t>(result);
  }

  if (!workingFolder.empty()) host.DeleteFolderFiles(workingFolder, "*.*", false);
  archive.reset();
  return processExitCode;
}

}  // namespace sfx
