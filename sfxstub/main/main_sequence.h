// The whole life of the stub: quiet switches and progress window, opening the program's own file
// as the archive, the working folder, both extractions, the setup program's command line, up to
// three runs of the setup program, the error report, the clean-up and the exit code.
#ifndef SFXSTUB_MAIN_MAIN_SEQUENCE_H_
#define SFXSTUB_MAIN_MAIN_SEQUENCE_H_

#include <cstdint>
#include <string>

#include "sfxstub/main/dbcs_text.h"
#include "sfxstub/main/host.h"
#include "sfxstub/main/package_archive.h"

namespace sfx {

// The last phase the sequence entered; it selects the text of the error report and only grows.
enum SfxPhase : int {
  kPhaseOpenArchive = 0,   // from the start
  kPhaseExtractMain = 1,   // after the working folder is created
  kPhaseExtractFiles = 2,  // before the listed files are extracted
  kPhaseSpawn = 3,         // after the command line is built, before the first run
};

// A run of the setup program that ends with exactly this code asks for another run.
constexpr uint32_t RestartExitCode = 0x20000010;
constexpr int kMaxSetupRuns = 3;

extern const char kWorkingFolderPrefix[];  // "_tr_sfx.tm~"
extern const char kMainProgramName[];      // "setup.ovr"
extern const char kLaunchCopyName[];       // "tarvo.setup"

// The operation named in the error report for `phase`.
const char* PhaseText(SfxPhase phase);

// "An error %d (%08X) has occured.\nLast performed operation was:\n%s\n\n" for the result and
// the phase's text; -1 reads "-1 (FFFFFFFF)".
std::string FormatErrorReport(int32_t result, SfxPhase phase);

// The module path cut at its last backslash (double-byte aware), the backslash removed; the whole
// path when it holds none. "C:\\setup.exe" gives "C:".
std::string SourceFolderOf(const std::string& modulePath, const LeadByteTest& isLead);

// Runs the sequence and returns the process exit code: the setup program's last exit code, or
// after a failure the failing phase's error number (whose report has then been shown).
//
// `commandTail` is the command line after the program name (see CommandLineTail). The archive is
// made by `makeArchive` at the start of phase 0 and destroyed at the end. A module path the host
// cannot supply fails phase 0 with the host's error number.
//
// When no working folder was created, phase 1 fails with 82 (ERROR_CANNOT_MAKE), whatever the
// creation reported, and nothing is extracted: paths joined to an empty folder would name the
// current folder, which is never written to. Before each extraction and each run the host checks
// that the folder is still the one made; if not, the phase fails with the check's error and
// nothing more is written or started. A launch copy that cannot be made fails the run's phase
// with the copy's error, and nothing is started.
uint32_t RunMainSequence(Host& host, const ArchiveFactory& makeArchive,
                         const std::string& commandTail);

}  // namespace sfx

#endif  // SFXSTUB_MAIN_MAIN_SEQUENCE_H_
