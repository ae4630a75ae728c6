#pragma once

// Everything that turns options into a render job: the option table, the
// rules across options, the command line and the batch line.
#include "jobs/command_line.h"
#include "jobs/json_line.h"
#include "jobs/option_rules.h"
#include "jobs/option_table.h"
