#pragma once

#include "jobs/option_table.h"

// The finished job: checks that there is a phrase of 1 to 10 UTF-16 code
// units after trimming, an output path, and a format (given, or chosen by
// the output's suffix), and that the options go together. Throws UsageError
// otherwise.
RenderJob finishJob(const JobDraft &draft);
