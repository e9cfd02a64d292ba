#pragma once
// Tells the user about the files of a decrypt that were written under another name than the one
// stored in the archive, replaced by a later entry of the same name, or not extracted: in batch
// mode one line each on standard error, in the window one message after the job.
#include <string>
#include <vector>

#include "jobs/JobMode.h"
#include "jobs/Prompter.h"
#include "zip/StagedExtraction.h"

namespace kvelv {

// The batch mode's line for one notice.
std::string NoticeLine(const NameNotice& notice);
// The window's message for all of them ("" when there are none).
std::string NoticeSummary(const std::vector<NameNotice>& notices);
void ReportNames(const std::vector<NameNotice>& notices, JobMode mode, Prompter& prompter);

}  // namespace kvelv
