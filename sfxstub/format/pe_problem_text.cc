#include "sfxstub/format/pe_image.h"

namespace sfx {

const char* PeProblemText(PeProblem problem) {
  switch (problem) {
    case PeProblem::kNone: return "no problem";
    case PeProblem::kNoDosHeader: return "no \"MZ\" header";
    case PeProblem::kHeaderOutsideFile: return "the PE header's offset points outside the file";
    case PeProblem::kNoPeSignature: return "no \"PE\\0\\0\" signature where the DOS header points";
    case PeProblem::kUnreadable: return "the headers can't be read";
    case PeProblem::kHeadersCut: return "the file ends inside the PE headers";
    case PeProblem::kUnknownMagic: return "the optional header's magic is neither PE32's nor PE32+'s";
    case PeProblem::kNoSuchSection: return "no such section";
    case PeProblem::kSectionTableCut: return "the section table lies past the headers read";
    case PeProblem::kSectionOutsideFile: return "a section's raw data reach past the end of the file";
    case PeProblem::kSectionOutsideImage: return "a section reaches past the image's size";
    case PeProblem::kNoDirectory: return "the data directory is absent or empty";
    case PeProblem::kNotInAnySection: return "no section holds the range";
  }
  return "unknown problem";
}

}  // namespace sfx
